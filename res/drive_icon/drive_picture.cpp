#include "res/drive_icon/drive_picture.h"

#include <algorithm>
#include <cmath>

#include "res/drive_icon/ico_file.h"

namespace {

// Shapes are described in unit coordinates (0..1 across the picture, y down),
// so every size draws the same drive.
struct Point {
  double x;
  double y;
};

struct Colour {
  double red;
  double green;
  double blue;
};

constexpr double kPi = 3.14159265358979323846;

constexpr Point kPlatterCentre{0.45, 0.42};
constexpr double kPlatterRadius = 0.37;
constexpr double kHubRadius = 0.10;
constexpr double kSpindleRadius = 0.04;
constexpr Point kPivot{0.79, 0.80};
constexpr Point kHead{0.56, 0.18};
constexpr double kPivotRadius = 0.09;

double Distance(Point a, Point b) {
  return std::hypot(a.x - b.x, a.y - b.y);
}

// Signed distance to a rounded rectangle: negative inside.
double RoundedBoxDistance(Point p, double left, double top, double right, double bottom, double radius) {
  const double halfWidth = (right - left) / 2 - radius;
  const double halfHeight = (bottom - top) / 2 - radius;
  const double dx = std::fabs(p.x - (left + right) / 2) - halfWidth;
  const double dy = std::fabs(p.y - (top + bottom) / 2) - halfHeight;
  const double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0));
  return outside + std::min(std::max(dx, dy), 0.0) - radius;
}

Colour Mix(Colour a, Colour b, double t) {
  return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t, a.blue + (b.blue - a.blue) * t};
}

// The colour of the drive at one point, or false where the background shows.
// Layers are tested front to back.
bool DriveColourAt(Point p, double edge, bool smallDetails, Colour* colour) {
  // Arm: a tapering bar from the pivot to the head, the head's slider at its tip.
  {
    const double armX = kHead.x - kPivot.x;
    const double armY = kHead.y - kPivot.y;
    const double length2 = armX * armX + armY * armY;
    const double t = std::clamp(((p.x - kPivot.x) * armX + (p.y - kPivot.y) * armY) / length2, 0.0, 1.0);
    const Point nearest{kPivot.x + armX * t, kPivot.y + armY * t};
    const double halfWidth = 0.055 * (1 - t) + 0.026 * t;
    if (Distance(p, kHead) < 0.04) {
      *colour = {40, 40, 40};
      return true;
    }
    if (Distance(p, kPivot) < kPivotRadius) {
      const double d = Distance(p, kPivot);
      if (d < 0.035) {
        *colour = {200, 200, 200};  // the pivot's bolt
      } else if (d > kPivotRadius - edge) {
        *colour = {48, 48, 48};
      } else {
        *colour = {104, 104, 106};
      }
      return true;
    }
    const double across = Distance(p, nearest);
    if (across < halfWidth) {
      // A copper flex cable runs along the arm; only bigger pictures show it.
      const double side = ((p.x - kPivot.x) * armY - (p.y - kPivot.y) * armX) / std::sqrt(length2);
      if (smallDetails && side > 0.2 * halfWidth && side < 0.55 * halfWidth && t < 0.85) {
        *colour = {204, 128, 52};
      } else if (across > halfWidth - edge * 0.8) {
        *colour = {36, 36, 36};
      } else {
        *colour = Mix({112, 112, 116}, {72, 72, 74}, t);
      }
      return true;
    }
  }

  // Platter with its hub and spindle.
  const double fromCentre = Distance(p, kPlatterCentre);
  if (fromCentre < kPlatterRadius) {
    if (fromCentre < kSpindleRadius) {
      *colour = {64, 64, 66};
    } else if (fromCentre < kHubRadius) {
      *colour = fromCentre > kHubRadius - edge * 0.7 ? Colour{60, 60, 62} : Colour{156, 156, 160};
    } else if (fromCentre > kPlatterRadius - edge) {
      *colour = {40, 40, 44};
    } else {
      // A polished platter throws back two bright wedges across its centre.
      const double angle = std::atan2(p.y - kPlatterCentre.y, p.x - kPlatterCentre.x);
      const double shine = 0.5 + 0.5 * std::cos(2 * (angle + kPi / 4));
      const double ring = 0.04 * std::sin(fromCentre * 90);  // faint tracks
      *colour = Mix({132, 136, 146}, {238, 240, 246}, std::clamp(shine * 0.85 + ring, 0.0, 1.0));
    }
    return true;
  }

  // Case: an aluminium tray with a dark rim, screws in three corners.
  const double caseDistance = RoundedBoxDistance(p, 0.04, 0.02, 0.96, 0.98, 0.10);
  if (caseDistance >= 0) return false;
  if (caseDistance > -edge) {
    *colour = {44, 44, 46};
    return true;
  }
  if (smallDetails) {
    for (Point screw : {Point{0.12, 0.09}, Point{0.88, 0.09}, Point{0.12, 0.91}}) {
      const double d = Distance(p, screw);
      if (d < 0.035) {
        *colour = std::fabs(p.x - screw.x) < 0.008 || std::fabs(p.y - screw.y) < 0.008 ? Colour{64, 64, 66}
                                                                                       : Colour{128, 128, 132};
        return true;
      }
    }
  }
  *colour = Mix({204, 204, 208}, {150, 150, 156}, p.y);
  return true;
}

std::uint8_t ToByte(double value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

RgbaImage DrawOpenDrive(int size) {
  RgbaImage image(size, size);
  // Rims stay at least one pixel wide, so the smallest pictures keep their outline.
  const double edge = std::max(0.035, 1.0 / size);
  const bool smallDetails = size >= 32;
  const int samples = size <= 48 ? 8 : 4;  // per axis, for anti-aliasing
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double red = 0;
      double green = 0;
      double blue = 0;
      int covered = 0;
      for (int sy = 0; sy < samples; ++sy) {
        for (int sx = 0; sx < samples; ++sx) {
          const Point p{(x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size};
          Colour colour;
          if (DriveColourAt(p, edge, smallDetails, &colour)) {
            red += colour.red;
            green += colour.green;
            blue += colour.blue;
            ++covered;
          }
        }
      }
      if (covered == 0) continue;  // stays transparent black
      image.At(x, y) = {ToByte(red / covered), ToByte(green / covered), ToByte(blue / covered),
                        ToByte(255.0 * covered / (samples * samples))};
    }
  }
  return image;
}

std::vector<std::uint8_t> DrawApplicationIconFile() {
  std::vector<IconImage> images;
  for (int bitsPerPixel : {4, 8, 32}) {
    for (int size : {16, 24, 32, 48}) images.push_back(EncodeIconImage(DrawOpenDrive(size), bitsPerPixel));
  }
  images.push_back(EncodeIconImage(DrawOpenDrive(128), 32));
  return BuildIcoFile(images);
}
