// ParseCommandLine on any bytes, from any valid starting settings. The
// settings stay valid whatever the command line holds: exactly one style,
// a colour of 11 to 18, and the fast option can be switched on but never off.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/display_settings.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();  // libFuzzer keeps the input that got here
}

void CheckValid(const DisplaySettings& settings) {
  Check(settings.barIcon + settings.charIcon + settings.symbolIcon == 1);
  Check(settings.color >= COLOR_RED && settings.color <= COLOR_WHITE);
}

bool SameSettings(const DisplaySettings& a, const DisplaySettings& b) {
  return a.barIcon == b.barIcon && a.charIcon == b.charIcon && a.symbolIcon == b.symbolIcon && a.color == b.color &&
         a.fastBlink == b.fastBlink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the starting settings; the rest is the command line.
  DisplaySettings start;
  if (size > 0) {
    const std::uint8_t pick = data[0];
    start.barIcon = pick % 3 == 0;
    start.charIcon = pick % 3 == 1;
    start.symbolIcon = pick % 3 == 2;
    start.color = COLOR_RED + (pick >> 2) % 8;
    start.fastBlink = (pick & 0x80) != 0;
    ++data;
    --size;
  }
  CheckValid(start);

  // An exact-size heap copy: AddressSanitizer reports any read past its end.
  const std::unique_ptr<char[]> arguments(new char[size + 1]);
  if (size > 0) std::memcpy(arguments.get(), data, size);
  arguments[size] = '\0';

  DisplaySettings settings = start;
  ParseCommandLine(arguments.get(), settings);
  CheckValid(settings);
  Check(settings.fastBlink || !start.fastBlink);

  // Options are only ever letters after a prefix: text without '-' or '/'
  // before its end changes nothing, and the fast option needs an 'f'.
  const std::size_t length = std::strlen(arguments.get());
  const bool hasPrefix =
      std::memchr(arguments.get(), '-', length) != nullptr || std::memchr(arguments.get(), '/', length) != nullptr;
  if (!hasPrefix) Check(SameSettings(settings, start));
  const bool hasF =
      std::memchr(arguments.get(), 'f', length) != nullptr || std::memchr(arguments.get(), 'F', length) != nullptr;
  if (!start.fastBlink && settings.fastBlink) Check(hasF);
  return 0;
}
