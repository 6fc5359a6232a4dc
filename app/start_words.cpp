#include "app/start_words.h"

#include <cstring>

#include "app/display_settings.h"
#include "gleamo_version.h"

StartWords ReadStartWords(int count, const char* const* words) {
  StartWords result;
  for (int i = 0; i < count; ++i) {
    const char* word = words[i];
    const bool help = std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0;
    const bool version = std::strcmp(word, "--version") == 0;
    if (result.action == StartAction::RUN && help) result.action = StartAction::PRINT_USAGE;
    if (result.action == StartAction::RUN && version) result.action = StartAction::PRINT_VERSION;
    if (std::strcmp(word, "--verbose") == 0) result.verbose = true;
  }
  return result;
}

std::string LinuxUsageText() {
  std::string text = USAGE_TEXT;
  const std::string windowsName = "gleamo.exe ";
  const std::size_t at = text.find(windowsName);
  if (at != std::string::npos) text.replace(at, windowsName.size(), "gleamo ");
  text +=
      "\n\n--verbose: the disk counters of every tick on standard output\n\n"
      "to start it at login: copy gleamo.desktop into ~/.config/autostart\n"
      "and put the options on its Exec line";
  return text;
}

std::optional<int> AnswerStartWords(const StartWords& words, std::FILE* out) {
  std::string answer;
  switch (words.action) {
    case StartAction::RUN: return std::nullopt;
    case StartAction::PRINT_USAGE: answer = LinuxUsageText() + "\n"; break;
    case StartAction::PRINT_VERSION: answer = "gleamo " GLEAMO_VERSION_TEXT "\n"; break;
  }
  const bool written = std::fputs(answer.c_str(), out) >= 0 && std::fflush(out) == 0;
  return written ? 0 : 1;
}
