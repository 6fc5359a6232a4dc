// Reads back what the code under test wrote with wide output into a stream
// of the test's own (a byte stream such as stdout may refuse wide output).
#pragma once

#include <cstdio>
#include <cwchar>
#include <string>

// Everything written to `out` so far, as narrow text; the stream is left at
// its start. Read back as written: with wide input, whatever the encoding.
inline std::string ReadWideOutput(std::FILE* out) {
  std::fflush(out);
  std::rewind(out);
  std::string text;
  for (std::wint_t c; (c = std::fgetwc(out)) != WEOF;) text += static_cast<char>(c);
  return text;
}
