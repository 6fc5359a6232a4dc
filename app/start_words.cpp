#include "app/start_words.h"

#include <cstring>
#include <utility>

#include "app/display_settings.h"
#include "gleamo_version.h"

namespace {

constexpr char DISK_WORD[] = "--disk";
constexpr std::size_t DISK_WORD_LENGTH = sizeof DISK_WORD - 1;

void Refuse(StartWords& result, std::string why) {
  if (result.action != StartAction::RUN) return;
  result.action = StartAction::REFUSE;
  result.refusal = std::move(why);
}

}  // namespace

StartWords ReadStartWords(int count, const char* const* words) {
  StartWords result;
  for (int i = 0; i < count; ++i) {
    const char* word = words[i];
    const bool help = std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0;
    const bool version = std::strcmp(word, "--version") == 0;
    if (result.action == StartAction::RUN && help) result.action = StartAction::PRINT_USAGE;
    if (result.action == StartAction::RUN && version) result.action = StartAction::PRINT_VERSION;
    if (std::strcmp(word, "--verbose") == 0) result.verbose = true;
    if (std::strncmp(word, DISK_WORD, DISK_WORD_LENGTH) == 0 &&
        (word[DISK_WORD_LENGTH] == '\0' || word[DISK_WORD_LENGTH] == '=')) {
      // A name never begins with '-': "--disk -r" lacks one.
      const char* name = "";
      if (word[DISK_WORD_LENGTH] == '=') {
        name = word + DISK_WORD_LENGTH + 1;
      } else if (i + 1 < count && words[i + 1][0] != '-') {
        name = words[++i];
      }
      if (*name == '\0' || *name == '-') {
        Refuse(result, "--disk needs the name of a disk, such as --disk sda");
      } else {
        result.disks.emplace_back(name);
      }
      continue;
    }
    if (word[0] == '-' && word[1] == '-' && !help && !version && std::strcmp(word, "--verbose") != 0) {
      Refuse(result, std::string("unknown option ") + word);
      continue;
    }
    if (!result.options.empty()) result.options += ' ';
    result.options += word;
  }
  return result;
}

std::string LinuxUsageText() {
  std::string text = USAGE_TEXT;
  const std::string windowsName = "gleamo.exe ";
  const std::size_t at = text.find(windowsName);
  if (at != std::string::npos) text.replace(at, windowsName.size(), "gleamo ");
  text +=
      "\n\n--verbose: the disk counters of every tick on standard output\n"
      "--disk NAME: count only this disk (sda, nvme0n1, sdb1, dm-0, or a path\n"
      "such as /dev/disk/by-id/usb-...); again for more disks\n"
      "gleamo -r --disk sda & gleamo -g --disk sdb\n"
      " = a red lamp for sda beside a green one for sdb\n\n"
      "to start it at login: copy gleamo.desktop into ~/.config/autostart\n"
      "and put the options on its Exec line (Exec=gleamo -r --disk sda)";
  return text;
}

std::optional<int> AnswerStartWords(const StartWords& words, std::FILE* out, std::FILE* errors) {
  std::string answer;
  switch (words.action) {
    case StartAction::RUN: return std::nullopt;
    case StartAction::REFUSE:
      std::fprintf(errors, "gleamo: %s\nTry 'gleamo --help' for the options.\n", words.refusal.c_str());
      return 2;
    case StartAction::PRINT_USAGE: answer = LinuxUsageText() + "\n"; break;
    case StartAction::PRINT_VERSION: answer = "gleamo " GLEAMO_VERSION_TEXT "\n"; break;
  }
  const bool written = std::fputs(answer.c_str(), out) >= 0 && std::fflush(out) == 0;
  return written ? 0 : 1;
}
