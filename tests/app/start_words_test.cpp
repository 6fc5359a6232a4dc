#include "app/start_words.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/display_settings.h"
#include "gleamo_version.h"

namespace {

struct WordsCase {
  std::vector<const char*> words;
  StartAction action;
  bool verbose;
};

TEST(StartWords, OnlyTheExactWordsAreAnswered) {
  const WordsCase cases[] = {
      {{}, StartAction::RUN, false},
      {{"--help"}, StartAction::PRINT_USAGE, false},
      {{"-h"}, StartAction::PRINT_USAGE, false},
      {{"-c", "-g", "--help"}, StartAction::PRINT_USAGE, false},
      {{"--version"}, StartAction::PRINT_VERSION, false},
      {{"--version", "-h"}, StartAction::PRINT_VERSION, false},  // the first one decides
      {{"-h", "--version"}, StartAction::PRINT_USAGE, false},
      {{"--verbose", "-c"}, StartAction::RUN, true},
      // Options as ever: -v is violet, and the rest is not a word we answer.
      {{"-vh"}, StartAction::RUN, false},
      {{"-help"}, StartAction::RUN, false},
      {{"-H"}, StartAction::RUN, false},
      {{"-c --help"}, StartAction::RUN, false},  // one word with a blank is not the word
      // Any other "--" word is refused, not read as options.
      {{"--versions"}, StartAction::REFUSE, false},
      {{"--HELP"}, StartAction::REFUSE, false},
      {{"--verbose=1"}, StartAction::REFUSE, false},
      {{"-c", "--no-such-word", "--help"}, StartAction::REFUSE, false},
      {{"--help", "--no-such-word"}, StartAction::PRINT_USAGE, false},
  };
  for (const WordsCase& c : cases) {
    const std::string shown = testing::PrintToString(c.words);
    const StartWords read = ReadStartWords(static_cast<int>(c.words.size()), c.words.data());
    EXPECT_EQ(read.action, c.action) << shown;
    EXPECT_EQ(read.verbose, c.verbose) << shown;
  }
}

TEST(StartWords, TheWordsThemselvesSelectNoOption) {
  // They stay in the string the options are read from.
  for (const char* word : {"--help", "-h", "--version", "--verbose"}) {
    DisplaySettings settings;
    ParseCommandLine(word, settings);
    EXPECT_TRUE(settings.barIcon) << word;
    EXPECT_EQ(settings.color, COLOR_BLUE) << word;
    EXPECT_FALSE(settings.fastBlink) << word;
  }
  DisplaySettings violet;
  ParseCommandLine("-vh", violet);
  EXPECT_EQ(violet.color, COLOR_VIOLET);
}

TEST(StartWords, DiskNamesAreTakenOffBeforeTheOptionsAreRead) {
  struct DiskCase {
    std::vector<const char*> words;
    std::vector<std::string> disks;
    std::string options;
  };
  const DiskCase cases[] = {
      {{"--disk", "sda"}, {"sda"}, ""},
      {{"-r", "--disk=nvme0n1", "-f"}, {"nvme0n1"}, "-r -f"},
      {{"--disk", "/dev/vda", "--disk", "/dev/disk/by-id/usb-Stick", "-g"},
       {"/dev/vda", "/dev/disk/by-id/usb-Stick"},
       "-g"},
      {{"--verbose", "--disk=dm-0"}, {"dm-0"}, "--verbose"},
  };
  for (const DiskCase& c : cases) {
    const std::string shown = testing::PrintToString(c.words);
    const StartWords read = ReadStartWords(static_cast<int>(c.words.size()), c.words.data());
    EXPECT_EQ(read.action, StartAction::RUN) << shown;
    EXPECT_EQ(read.disks, c.disks) << shown;
    EXPECT_EQ(read.options, c.options) << shown;
  }
  // The path is no option: /dev/vda would have been violet (/v), /dev/sda
  // the symbol icon (/s).
  for (const char* path : {"/dev/vda", "/dev/sda"}) {
    const char* words[] = {"--disk", path};
    DisplaySettings settings;
    ParseCommandLine(ReadStartWords(2, words).options.c_str(), settings);
    EXPECT_EQ(settings.color, COLOR_BLUE) << path;
    EXPECT_TRUE(settings.barIcon) << path;
  }
  for (const std::vector<const char*>& words :
       {std::vector<const char*>{"--disk"}, {"--disk="}, {"--disk", "-r"}, {"-c", "--disk"}}) {
    const StartWords read = ReadStartWords(static_cast<int>(words.size()), words.data());
    EXPECT_EQ(read.action, StartAction::REFUSE) << testing::PrintToString(words);
    EXPECT_EQ(read.refusal, "--disk needs the name of a disk, such as --disk sda");
  }
}

std::string Answer(StartAction action, std::optional<int>& exitCode) {
  std::FILE* out = std::tmpfile();
  StartWords words;
  words.action = action;
  exitCode = AnswerStartWords(words, out);
  std::rewind(out);
  std::string text;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  std::fclose(out);
  return text;
}

TEST(StartWords, UsageAndVersionAreAnsweredOnTheStreamWithExitCode0) {
  std::optional<int> exitCode;
  const std::string usage = Answer(StartAction::PRINT_USAGE, exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(usage, LinuxUsageText() + "\n");
  // The options as on Windows, under the Linux program's name.
  const std::string windows = USAGE_TEXT;
  const std::string options = windows.substr(0, windows.find("gleamo.exe"));
  EXPECT_EQ(usage.substr(0, options.size()), options);
  EXPECT_NE(usage.find("\ngleamo -a -b\n = blue bar icon\n"), std::string::npos) << usage;
  EXPECT_EQ(usage.find("gleamo.exe"), std::string::npos) << usage;
  EXPECT_NE(usage.find("~/.config/autostart"), std::string::npos) << usage;

  const std::string version = Answer(StartAction::PRINT_VERSION, exitCode);
  EXPECT_EQ(exitCode, 0);
  std::string expected = "gleamo " + std::to_string(GLEAMO_VERSION_MAJOR) + "." + std::to_string(GLEAMO_VERSION_MINOR) +
                         "." + std::to_string(GLEAMO_VERSION_PATCH);
  EXPECT_EQ(version.substr(0, expected.size()), expected);
  EXPECT_EQ(version.back(), '\n');

  EXPECT_EQ(Answer(StartAction::RUN, exitCode), "");
  EXPECT_FALSE(exitCode.has_value());
}

TEST(StartWords, AnAnswerThatCannotBeWrittenEndsWith1) {
  const char* path = "start_words_test_read_only.txt";
  std::fclose(std::fopen(path, "w"));
  std::FILE* readOnly = std::fopen(path, "r");
  ASSERT_NE(readOnly, nullptr);
  StartWords words;
  words.action = StartAction::PRINT_VERSION;
  EXPECT_EQ(AnswerStartWords(words, readOnly), 1);
  std::fclose(readOnly);
  std::remove(path);
}

}  // namespace
