// A plain RGBA picture: the drawing of the application icon is made in this
// form and only then cut down to the icon file's colour depths.
#pragma once

#include <cstdint>
#include <vector>

struct Rgba {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 0;  // 0 transparent, 255 opaque; colour not premultiplied
};

inline bool operator==(const Rgba& a, const Rgba& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;  // rows top to bottom, width * height entries

  RgbaImage() = default;
  RgbaImage(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h) {}

  Rgba& At(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
  const Rgba& At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
