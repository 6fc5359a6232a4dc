// The entry of gleamo on Linux: options as on Windows, the disks of
// /proc/diskstats, the icon in the desktop's tray.
#include <string>

#include "app/display_settings.h"
#include "app/start_words.h"
#include "linux/indicator_app.h"

int main(int argc, char** argv) {
  KeepStandardStreamsOpen();
  const StartWords words = ReadStartWords(argc - 1, argv + 1);
  if (const auto exitCode = AnswerStartWords(words, stdout)) return *exitCode;
  ParseCommandLine(words.options.c_str(), displaySettings);
  CIndicatorApp app(displaySettings, "/proc/diskstats", "/sys/block", words.verbose, words.disks);
  return app.Run();
}
