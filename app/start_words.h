// The words the Linux edition answers before it reads its options, as Unix
// programs do: --help, -h, --version, --verbose and --disk NAME. The Windows
// command line knows none of them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

enum class StartAction { RUN, PRINT_USAGE, PRINT_VERSION, REFUSE };

struct StartWords {
  StartAction action = StartAction::RUN;
  bool verbose = false;            // the counter lines of every tick on standard output
  std::vector<std::string> disks;  // --disk NAME and --disk=NAME, in their order
  std::string options;             // every other word, joined by blanks, for ParseCommandLine
  std::string refusal;             // why the words are refused (REFUSE)
};

// Only whole words count, so "-vh" stays an option; any other word that
// begins with "--" is refused, as is --disk without a name. The first word
// asking for the usage or the version, or refused, decides. The values of
// --disk are taken out, so that a path such as /dev/vda is never read as
// options.
StartWords ReadStartWords(int count, const char* const* words);

// The usage under the Linux program's name, with how to start it at login.
std::string LinuxUsageText();

// Prints the usage or the version line that the words ask for on out and
// gives the exit code (1 when out cannot be written), or says on errors why
// the words are refused, with the usage hint, and gives 2; nothing when the
// program runs.
std::optional<int> AnswerStartWords(const StartWords& words, std::FILE* out, std::FILE* errors = stderr);
