// What the Linux controller asks of a tray, whichever protocol shows the
// icon: a StatusNotifierItem over D-Bus, or an XEmbed window docked in an X
// tray. The tray choice owns both and talks to them only through this.
#pragma once

#include <array>
#include <functional>

#include "common/gleamo_types.h"
#include "res/program_texts.h"
#include "res/resource.h"
#include "tray/icon_raster.h"

// The icon of one change: its code and its 16 px picture with the tray's
// labels, painted once. A tray that shows another size has the pixel model
// draw that size natively from the code.
struct IconPicture {
  IconCode code = 0;
  IconRaster raster;  // ICON_SIZE square
};

// The code's picture with the tray's labels, size pixels square.
inline IconRaster PaintTrayIcon(IconCode code, int size) {
  return PaintIconRaster(TRAY_TOP_LABEL, TRAY_BOTTOM_LABEL, code, size);
}

inline IconPicture PaintIconPicture(IconCode code) {
  return {code, PaintTrayIcon(code, ICON_SIZE)};
}

struct TrayMenuItem {
  int id;  // the command the item sends, as on Windows
  const char* label;
};

// The tray menu in its order, whichever tray draws it.
inline constexpr std::array<TrayMenuItem, 3> TRAY_MENU_ITEMS{{
    {ID_HELP, TEXT_HELP},
    {ID_MEET_AUTHOR, TEXT_MEET_AUTHOR},
    {ID_END_PROGRAM, TEXT_END_PROGRAM},
}};

class CTrayIcon {
 public:
  // Receives the id of a chosen menu item, one of TRAY_MENU_ITEMS.
  using CommandHandler = std::function<void(int commandId)>;

  virtual ~CTrayIcon() = default;

  // Puts the icon where a host can show it, now or once one appears. False
  // when that can never work (the bus or the display refused us).
  virtual bool Add() = 0;

  // Shows the picture and takes the tooltip. Called only when the picture
  // changes, so an unchanged icon costs nothing.
  virtual void ReplaceIcon(const IconPicture& picture, const char* tooltip) = 0;
  // Takes a new tooltip (a first line, then lines of detail) for the same
  // picture.
  virtual void ReplaceTooltip(const char* tooltip) = 0;
};
