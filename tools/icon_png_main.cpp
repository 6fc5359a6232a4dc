// gleamo_icon_png: writes one activity icon as an enlarged PNG picture.
#include <cstdio>
#include <string>

#include "tools/icon_png.h"

int main(int argc, char** argv) {
  IconPngRequest request;
  std::string error;
  if (!ParseIconPngArguments(argc - 1, argv + 1, request, error)) {
    std::fprintf(stderr, "gleamo_icon_png: %s\n%s", error.c_str(), ICON_PNG_USAGE);
    return 2;
  }
  const IconRaster raster =
      PaintIconRaster(request.topLabel.c_str(), request.bottomLabel.c_str(), request.code, request.size);
  if (!WriteIconPng(request.path, raster, request.scale, request.background, error)) {
    std::fprintf(stderr, "gleamo_icon_png: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
