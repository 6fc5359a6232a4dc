#include "linux/indicator_app.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

// Each stream on a descriptor of the kind named.
class DiagnosticStreamTest : public testing::Test {
 protected:
  std::FILE* Open(int fd) {
    std::FILE* stream = fdopen(fd, "w");
    if (stream != nullptr) streams.push_back(stream);
    return stream;
  }
  void TearDown() override {
    for (std::FILE* stream : streams) std::fclose(stream);
  }
  std::vector<std::FILE*> streams;
};

TEST_F(DiagnosticStreamTest, WritesWhereSomeoneCanReadTheLines) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  streams.push_back(file);
  EXPECT_EQ(DiagnosticStream(file), file);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  std::FILE* pipeStream = Open(ends[1]);
  EXPECT_EQ(DiagnosticStream(pipeStream), pipeStream);

  // Who asks for the lines on a terminal gets them there.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminals here";
  std::FILE* terminal = Open(open(ptsname(master), O_WRONLY | O_NOCTTY));
  ASSERT_NE(terminal, nullptr);
  EXPECT_EQ(DiagnosticStream(terminal), terminal);
  close(master);
}

TEST_F(DiagnosticStreamTest, StaysSilentOnTheNullDevice) {
  std::FILE* null = Open(open("/dev/null", O_WRONLY));
  ASSERT_NE(null, nullptr);
  EXPECT_EQ(DiagnosticStream(null), nullptr);
}

}  // namespace
