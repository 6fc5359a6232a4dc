#include "app/display_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DisplaySettings Parse(const char* arguments) {
  DisplaySettings settings;
  ParseCommandLine(arguments, settings);
  return settings;
}

enum class Style { Bar, Char, Symbol };

Style StyleOf(const DisplaySettings& s) {
  EXPECT_EQ(int{s.barIcon} + int{s.charIcon} + int{s.symbolIcon}, 1) << "exactly one style flag";
  return s.barIcon ? Style::Bar : s.charIcon ? Style::Char : Style::Symbol;
}

TEST(ParseCommandLine, AbsentOrEmptyGivesBlueBarsAtNormalSpeed) {
  for (const char* arguments : {static_cast<const char*>(nullptr), "", "   "}) {
    const DisplaySettings s = Parse(arguments);
    EXPECT_EQ(StyleOf(s), Style::Bar);
    EXPECT_EQ(s.color, COLOR_BLUE);
    EXPECT_FALSE(s.fastBlink);
  }
  const DisplaySettings explicitDefault = Parse("-a -b");
  EXPECT_EQ(StyleOf(explicitDefault), Style::Bar);
  EXPECT_EQ(explicitDefault.color, COLOR_BLUE);
}

TEST(ParseCommandLine, LastStyleWinsAndClearsTheOthers) {
  EXPECT_EQ(StyleOf(Parse("-c -s")), Style::Symbol);
  EXPECT_EQ(StyleOf(Parse("-s -c")), Style::Char);
  EXPECT_EQ(StyleOf(Parse("-c")), Style::Char);
  EXPECT_EQ(StyleOf(Parse("/S")), Style::Symbol);
  EXPECT_EQ(StyleOf(Parse("-s -A")), Style::Bar);
}

TEST(ParseCommandLine, EveryColourLetterInBothCasesAndPrefixes) {
  const struct {
    char letter;
    ColorCode color;
  } table[] = {{'r', 11}, {'g', 12}, {'b', 13}, {'y', 14}, {'v', 15}, {'t', 16}, {'k', 17}, {'w', 18}};
  for (const auto& row : table) {
    for (const char prefix : {'-', '/'}) {
      for (const char letter : {row.letter, static_cast<char>(row.letter - 'a' + 'A')}) {
        // Start from another colour so that the option visibly applies.
        const std::string arguments = std::string(row.color == 11 ? "-g " : "-r ") + prefix + letter;
        EXPECT_EQ(Parse(arguments.c_str()).color, row.color) << arguments;
      }
    }
  }
}

TEST(ParseCommandLine, LastColourWins) {
  EXPECT_EQ(Parse("-r -b").color, COLOR_BLUE);
  EXPECT_EQ(Parse("/R").color, COLOR_RED);
  EXPECT_EQ(Parse("-K").color, COLOR_BLACK);
}

TEST(ParseCommandLine, OnlyTheLetterRightAfterThePrefixCounts) {
  const DisplaySettings joined = Parse("-a-r");
  EXPECT_EQ(StyleOf(joined), Style::Bar);
  EXPECT_EQ(joined.color, COLOR_RED);

  const DisplaySettings word = Parse("-ab");  // the 'b' is plain text
  EXPECT_EQ(StyleOf(word), Style::Bar);
  EXPECT_EQ(word.color, COLOR_BLUE);
  EXPECT_EQ(Parse("-gb").color, COLOR_GREEN);
}

TEST(ParseCommandLine, ADoublePrefixTakesThePrefixAsTheLetter) {
  const DisplaySettings s = Parse("--r");
  EXPECT_EQ(StyleOf(s), Style::Bar);
  EXPECT_EQ(s.color, COLOR_BLUE);
  EXPECT_EQ(Parse("-/g").color, COLOR_BLUE);
}

TEST(ParseCommandLine, UnknownLettersAndStrayBytesChangeNothing) {
  for (const char* arguments : {"-x", "-1", "-?", "-\xE4", "-\x7F", "hello", "-- -", "-z -q /e"}) {
    const DisplaySettings s = Parse(arguments);
    EXPECT_EQ(StyleOf(s), Style::Bar) << arguments;
    EXPECT_EQ(s.color, COLOR_BLUE) << arguments;
    EXPECT_FALSE(s.fastBlink) << arguments;
  }
}

TEST(ParseCommandLine, APrefixInsideAWordOrPathCounts) {
  EXPECT_EQ(Parse("x-y").color, COLOR_YELLOW);
  const DisplaySettings path = Parse("C:/temp/f");
  EXPECT_EQ(path.color, COLOR_TURQUOISE);
  EXPECT_TRUE(path.fastBlink);
}

TEST(ParseCommandLine, APrefixAtTheEndEndsTheScan) {
  EXPECT_EQ(Parse("-g -").color, COLOR_GREEN);
  EXPECT_EQ(Parse("-y /").color, COLOR_YELLOW);
  EXPECT_EQ(StyleOf(Parse("-c -")), Style::Char);
}

TEST(ParseCommandLine, FastBlinkAnywhereAndOnlyOnce) {
  EXPECT_TRUE(Parse("-f").fastBlink);
  EXPECT_TRUE(Parse("-s -r -F").fastBlink);
  const DisplaySettings twice = Parse("-f -c -f -w");
  EXPECT_TRUE(twice.fastBlink);
  EXPECT_EQ(StyleOf(twice), Style::Char);
  EXPECT_EQ(twice.color, COLOR_WHITE);
}

TEST(ParseCommandLine, UpdatesTheGivenSettingsInPlace) {
  DisplaySettings s;
  ParseCommandLine("-s -r -f", s);
  ParseCommandLine("-v", s);  // a second scan keeps what the first set
  EXPECT_EQ(StyleOf(s), Style::Symbol);
  EXPECT_EQ(s.color, COLOR_VIOLET);
  EXPECT_TRUE(s.fastBlink);
}

TEST(UsageText, ListsTheLowerCaseOptionsInOrder) {
  EXPECT_STREQ(USAGE_TEXT,
               "Usage:\n\n-a bar icon\n-c char icon\n-s symbol icon\n\n-w white\n-k black\n-y yellow\n-g green\n"
               "-t turquois\n-b blue\n-r red\n-v violet\n\n-f fast blink\n\nexample(default):\ngleamo.exe -a -b\n"
               " = blue bar icon");
}

}  // namespace
