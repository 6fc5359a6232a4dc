// Troubles that last are told once, not on every tick or retry: which kinds
// of message have been said. Kind is an enum of at most 32 values; a single
// message needs none.
#pragma once

#include <cstdarg>
#include <cstdio>

enum class OneMessage : unsigned { Only };

template <typename Kind = OneMessage>
class SaidOnce {
 public:
  // True the first time for this kind, false from then on until Forget.
  bool First(Kind kind = Kind{}) {
    const unsigned bit = Bit(kind);
    const bool first = (said & bit) == 0;
    said |= bit;
    return first;
  }

  // Prints the message on stream (none when null) the first time for this
  // kind.
  __attribute__((format(printf, 4, 5))) void Say(Kind kind, std::FILE* stream, const char* format, ...) {
    if (!First(kind) || stream == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stream, format, arguments);
    va_end(arguments);
  }

  // The trouble is over: it is told again when it comes back.
  void Forget(Kind kind = Kind{}) { said &= ~Bit(kind); }

 private:
  static unsigned Bit(Kind kind) { return 1u << static_cast<unsigned>(kind); }

  unsigned said = 0;
};
