// Icon rasters as lines of characters, one per row, so that a test can show the
// picture it expects and a failure shows the rows that differ.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tray/icon_raster.h"

using ArtLegend = std::vector<std::pair<Rgb, char>>;

// '.' black, 'W' white, 'g' dark grey, 'n' near-white, 'G' green, 'R' red,
// 'B' blue, 'Y' yellow, 'V' violet, 'T' turquoise, 'y' dark yellow.
const ArtLegend& DefaultLegend();

// One character per pixel, rows separated by '\n'; colours missing from the
// legend show as '?'.
std::string ColorArt(const IconRaster& raster, const ArtLegend& legend = DefaultLegend());
// '#' where the mask is black (opaque), '.' where it is white.
std::string MaskArt(const IconRaster& raster);
// '#' for members of the set.
std::string PixelSetArt(const IconPixelSet& pixels);

// The picture drawn as a raw string literal in a test: leading spaces of a
// line and empty first and last lines are dropped.
std::string Art(const std::string& drawing);

// For EXPECT_PRED_FORMAT2(SameArt, expected, actual): on failure prints both
// pictures side by side and marks the rows that differ.
testing::AssertionResult SameArt(const char* expectedText, const char* actualText, const std::string& expected,
                                 const std::string& actual);
