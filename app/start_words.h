// The words the Linux edition answers before it reads its options, as Unix
// programs do: --help, -h, --version and --verbose. The Windows command line
// knows none of them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

enum class StartAction { RUN, PRINT_USAGE, PRINT_VERSION };

struct StartWords {
  StartAction action = StartAction::RUN;
  bool verbose = false;  // the counter lines of every tick on standard output
};

// Only whole words count, so "--versions" or "-vh" stay options. The first
// word asking for the usage or the version decides. The words need not be
// taken out before ParseCommandLine: each of them reads as no option there.
StartWords ReadStartWords(int count, const char* const* words);

// The usage under the Linux program's name, with how to start it at login.
std::string LinuxUsageText();

// Prints the usage or the version line that the words ask for and gives the
// exit code (1 when out cannot be written); nothing when the program runs.
std::optional<int> AnswerStartWords(const StartWords& words, std::FILE* out);
