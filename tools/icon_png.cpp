#include "tools/icon_png.h"

#include <png.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

const char ICON_PNG_USAGE[] =
    "usage: gleamo_icon_png [--top TEXT] [--bottom TEXT] [--size PX] [--scale N] [--background RRGGBB] ICONCODE "
    "FILE.png\n"
    "  Writes the activity icon of ICONCODE, drawn at PX x PX (16-256, default 16), as a PNG,\n"
    "  each pixel N x N (1-64, default 8).\n"
    "  Labels default to \"TAV\" and \"OLI\". Without --background the mask is the alpha channel.\n"
    "  ICONCODE: 10-18 symbol, 110-118 char, colour*10000 + read*100 + write for bars (e.g. 130712).\n";

std::vector<std::uint8_t> IconRgba(const IconRaster& raster, int scale, std::optional<Rgb> background) {
  const int side = raster.size * scale;
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const Rgb color = raster.ColorAt(x / scale, y / scale);
      const bool opaque = raster.OpaqueAt(x / scale, y / scale);
      Rgb shown = color;
      if (background && !opaque) {
        shown = Rgb{static_cast<std::uint8_t>(background->red ^ color.red),
                    static_cast<std::uint8_t>(background->green ^ color.green),
                    static_cast<std::uint8_t>(background->blue ^ color.blue)};
      }
      std::uint8_t* pixel = &rgba[(static_cast<std::size_t>(y) * side + x) * 4];
      pixel[0] = shown.red;
      pixel[1] = shown.green;
      pixel[2] = shown.blue;
      pixel[3] = (opaque || background) ? 255 : 0;
    }
  }
  return rgba;
}

bool WriteIconPng(const std::string& path, const IconRaster& raster, int scale, std::optional<Rgb> background,
                  std::string& error) {
  const std::vector<std::uint8_t> rgba = IconRgba(raster, scale, background);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(raster.size * scale);
  image.height = image.width;
  image.format = PNG_FORMAT_RGBA;
  if (png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) == 0) {
    error = path + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

namespace {

bool ParseInt(const char* text, long low, long high, long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

bool ParseColor(const char* text, Rgb& color) {
  if (std::strlen(text) != 6 || std::strspn(text, "0123456789abcdefABCDEF") != 6) return false;
  const unsigned long value = std::strtoul(text, nullptr, 16);
  color = Rgb{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value)};
  return true;
}

}  // namespace

bool ParseIconPngArguments(int argc, const char* const* argv, IconPngRequest& request, std::string& error) {
  std::vector<const char*> positional;
  for (int i = 0; i < argc; ++i) {
    const std::string option = argv[i];
    const bool takesValue = option == "--top" || option == "--bottom" || option == "--size" || option == "--scale" ||
                            option == "--background";
    if (!takesValue) {
      if (option.size() > 1 && option[0] == '-' && !(option[1] >= '0' && option[1] <= '9')) {
        error = "unknown option " + option;
        return false;
      }
      positional.push_back(argv[i]);
      continue;
    }
    if (i + 1 >= argc) {
      error = option + " needs a value";
      return false;
    }
    const char* value = argv[++i];
    if (option == "--top") {
      request.topLabel = value;
    } else if (option == "--bottom") {
      request.bottomLabel = value;
    } else if (option == "--size") {
      long size = 0;
      if (!ParseInt(value, ICON_MIN_SIZE, ICON_MAX_SIZE, size)) {
        error = "--size takes a whole number from 16 to 256";
        return false;
      }
      request.size = static_cast<int>(size);
    } else if (option == "--scale") {
      long scale = 0;
      if (!ParseInt(value, 1, 64, scale)) {
        error = "--scale takes a whole number from 1 to 64";
        return false;
      }
      request.scale = static_cast<int>(scale);
    } else {
      Rgb color;
      if (!ParseColor(value, color)) {
        error = "--background takes six hexadecimal digits RRGGBB";
        return false;
      }
      request.background = color;
    }
  }
  if (positional.size() != 2) {
    error = "expected an icon code and a file name";
    return false;
  }
  long code = 0;
  if (!ParseInt(positional[0], INT32_MIN, INT32_MAX, code)) {
    error = std::string("not a 32-bit icon code: ") + positional[0];
    return false;
  }
  request.code = static_cast<IconCode>(code);
  request.path = positional[1];
  return true;
}
