// gleamo with a counter source of the test's choosing, for the D-Bus tests:
//   gleamo_test_app DISKSTATS SYS_BLOCK_ROOT [options...]
#include <cstdio>
#include <string>

#include "app/display_settings.h"
#include "app/start_words.h"
#include "linux/indicator_app.h"

int main(int argc, char** argv) {
  KeepStandardStreamsOpen();
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DISKSTATS SYS_BLOCK_ROOT [options...]\n", argv[0]);
    return 2;
  }
  const StartWords words = ReadStartWords(argc - 3, argv + 3);
  if (const auto exitCode = AnswerStartWords(words, stdout)) return *exitCode;
  ParseCommandLine(words.options.c_str(), displaySettings);
  CIndicatorApp app(displaySettings, argv[1], argv[2], words.verbose, words.disks);
  return app.Run();
}
