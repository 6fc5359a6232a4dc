// What the Linux controller asks of a tray, whichever protocol shows the
// icon: a StatusNotifierItem over D-Bus, or an XEmbed window docked in an X
// tray. The controller owns one and talks to it only through this.
#pragma once

#include <functional>

#include "common/gleamo_types.h"

class CTrayIcon {
 public:
  // Receives the id of a chosen menu item (ID_HELP, ID_MEET_AUTHOR,
  // ID_END_PROGRAM).
  using CommandHandler = std::function<void(int commandId)>;

  virtual ~CTrayIcon() = default;

  // Puts the icon where a host can show it, now or once one appears. False
  // when that can never work (the bus or the display refused us).
  virtual bool Add() = 0;

  // The labels of the char and bar styles, at most 4 and 3 characters; they
  // take effect with the next ReplaceIcon.
  virtual void SetLabels(const char* top, const char* bottom) = 0;

  // Paints the icon code and takes the tooltip. Called only when the code
  // changes, so an unchanged icon costs nothing.
  virtual void ReplaceIcon(IconCode code, const char* tooltip) = 0;
};
