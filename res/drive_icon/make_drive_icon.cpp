// Build tool: draws the opened drive at every size and depth of the
// application icon and writes them as one .ico file.
//   make_drive_icon OUTPUT.ico
#include <cstdio>
#include <vector>

#include "res/drive_icon/drive_picture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_drive_icon OUTPUT.ico\n");
    return 2;
  }
  const std::vector<std::uint8_t> file = DrawApplicationIconFile();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
