#include "app/indicator_app_linux.h"

#include <gtest/gtest.h>

namespace {

DisplaySettings FromWords(std::initializer_list<const char*> words) {
  const std::vector<const char*> list(words);
  DisplaySettings settings;
  ParseCommandLine(JoinArguments(static_cast<int>(list.size()), list.data()).c_str(), settings);
  return settings;
}

TEST(LinuxCommandLine, ArgumentWordsReadAsOneWindowsCommandLine) {
  EXPECT_EQ(JoinArguments(0, nullptr), "");
  const char* words[] = {"-c", "-g", "x y"};
  EXPECT_EQ(JoinArguments(3, words), "-c -g x y");

  const DisplaySettings charGreen = FromWords({"-c", "-g"});
  EXPECT_TRUE(charGreen.charIcon);
  EXPECT_FALSE(charGreen.barIcon);
  EXPECT_EQ(charGreen.color, COLOR_GREEN);

  // A word that ends in '-' does not take the next word's letter: the blank
  // between them is the option letter.
  EXPECT_EQ(FromWords({"-", "r"}).color, COLOR_BLUE);
  // A path still carries options, as on Windows.
  const DisplaySettings path = FromWords({"/tmp/f"});
  EXPECT_EQ(path.color, COLOR_TURQUOISE);
  EXPECT_TRUE(path.fastBlink);
}

}  // namespace
