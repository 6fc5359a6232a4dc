// The application icon's picture: an opened hard-disk drive seen from above,
// with its platter, the read/write arm on its pivot and the case around them.
#pragma once

#include <cstdint>
#include <vector>

#include "res/drive_icon/raster.h"

// Draws the drive into a size x size picture, anti-aliased, with a
// transparent background outside the case's rounded corners.
RgbaImage DrawOpenDrive(int size);

// The application icon's .ico file: the drive at every size and depth the
// program's resources carry.
std::vector<std::uint8_t> DrawApplicationIconFile();
