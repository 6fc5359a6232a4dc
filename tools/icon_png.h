// Pictures of the activity icon as PNG files, enlarged for viewing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tray/icon_raster.h"

// The icon as 8-bit RGBA rows, each pixel a block of scale x scale. Without a
// background the mask becomes the alpha channel (white: transparent). With
// one, the pixels show what icon drawing leaves on that background: the
// background ANDed with the mask, then XORed with the colour.
std::vector<std::uint8_t> IconRgba(const IconRaster& raster, int scale, std::optional<Rgb> background);

// Writes IconRgba as a PNG file; false with a reason in error on failure.
bool WriteIconPng(const std::string& path, const IconRaster& raster, int scale, std::optional<Rgb> background,
                  std::string& error);

struct IconPngRequest {
  IconCode code = 0;
  std::string topLabel = "TAV";
  std::string bottomLabel = "OLI";
  int size = ICON_SIZE;  // the picture's own pixels
  int scale = 8;
  std::optional<Rgb> background;
  std::string path;
};

// Reads the command's arguments (without the program name); false with a
// reason in error when they do not make a request.
bool ParseIconPngArguments(int argc, const char* const* argv, IconPngRequest& request, std::string& error);

extern const char ICON_PNG_USAGE[];
