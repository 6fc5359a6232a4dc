// The docked icon's tooltip: a small override-redirect window of text lines
// beside the icon, in the server's fixed font as the menu draws them. It
// takes no input; the icon opens and closes it as the pointer comes and goes.
#pragma once

#include <xcb/xcb.h>

#include <string>
#include <vector>

#include "linux/x11/x_resources.h"

class CTooltipWindow {
 public:
  // Shows nothing until Show. The connection and the screen outlive it.
  CTooltipWindow(xcb_connection_t* connection, const xcb_screen_t* screen);
  CTooltipWindow(const CTooltipWindow&) = delete;
  CTooltipWindow& operator=(const CTooltipWindow&) = delete;

  // Shows the text (lines at each '\n') below the rectangle of the root
  // window, or above it where the screen ends below, kept on the screen.
  void Show(const std::string& text, int x, int y, int width, int height);
  // The new text in the window still open, beside the same rectangle.
  void Update(const std::string& text);
  void Close();
  bool IsOpen() const { return static_cast<bool>(window); }

  // Takes the events meant for the window; false for every other.
  bool Dispatch(const xcb_generic_event_t* event);

 private:
  xcb_connection_t* connection;
  const xcb_screen_t* screen;
  xcb_atom_t atoms[2] = {};  // _NET_WM_NAME, UTF8_STRING
  CFixedFont font;
  unique_x_window window;
  unique_x_gc gc;
  std::vector<std::string> lines;
  int anchorX = 0, anchorY = 0, anchorWidth = 0, anchorHeight = 0;
};
