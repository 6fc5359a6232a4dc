#include "tests/tray/raster_art.h"

#include <algorithm>
#include <sstream>

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

const ArtLegend& DefaultLegend() {
  static const ArtLegend legend{
      {RGB_BLACK, '.'},        {RGB_WHITE, 'W'},        {SYMBOL_IDLE_COLOR, 'g'}, {LABEL_IDLE_COLOR, 'n'},
      {READ_BAR_COLOR, 'G'},   {WRITE_BAR_COLOR, 'R'},  {Rgb{0, 0, 255}, 'B'},    {Rgb{255, 255, 0}, 'Y'},
      {Rgb{205, 0, 255}, 'V'}, {Rgb{0, 255, 255}, 'T'}, {CHAR_LABEL_COLOR, 'y'},
  };
  return legend;
}

std::string ColorArt(const IconRaster& raster, const ArtLegend& legend) {
  std::string art;
  for (int y = 0; y < raster.size; ++y) {
    for (int x = 0; x < raster.size; ++x) {
      const Rgb color = raster.ColorAt(x, y);
      const auto entry = std::find_if(legend.begin(), legend.end(), [&](const auto& e) { return e.first == color; });
      art += entry == legend.end() ? '?' : entry->second;
    }
    art += '\n';
  }
  return art;
}

std::string PixelSetArt(const IconPixelSet& pixels) {
  std::string art;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    art += pixels[i] ? '#' : '.';
    if (i % static_cast<std::size_t>(pixels.Side()) == static_cast<std::size_t>(pixels.Side()) - 1) art += '\n';
  }
  return art;
}

std::string MaskArt(const IconRaster& raster) {
  return PixelSetArt(raster.opaque);
}

std::string Art(const std::string& drawing) {
  std::vector<std::string> lines = Lines(drawing);
  for (std::string& line : lines) line.erase(0, line.find_first_not_of(' '));
  while (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string art;
  for (const std::string& line : lines) art += line + '\n';
  return art;
}

testing::AssertionResult SameArt(const char* expectedText, const char* actualText, const std::string& expected,
                                 const std::string& actual) {
  if (expected == actual) return testing::AssertionSuccess();
  const std::vector<std::string> want = Lines(expected);
  const std::vector<std::string> got = Lines(actual);
  std::ostringstream out;
  out << "pictures differ: " << expectedText << " (left) vs " << actualText << " (right)\n";
  const std::size_t rows = std::max(want.size(), got.size());
  for (std::size_t row = 0; row < rows; ++row) {
    const std::string left = row < want.size() ? want[row] : "<none>";
    const std::string right = row < got.size() ? got[row] : "<none>";
    out << (left == right ? "   " : ">> ") << (row < 10 ? " " : "") << row << "  " << left
        << std::string(left.size() < 18 ? 18 - left.size() : 1, ' ') << right << '\n';
  }
  return testing::AssertionFailure() << out.str();
}
