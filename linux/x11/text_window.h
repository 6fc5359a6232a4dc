// A plain top-level window of text on the X display, for "help" where no
// notification service runs: lines in the server's fixed font, as the menu
// draws them, closed by a click in it, any key, or the window manager's
// close button. It needs no window manager.
#pragma once

#include <xcb/xcb.h>

#include <string>
#include <vector>

#include "linux/x11/x_resources.h"

class CTextWindow {
 public:
  // Shows nothing until Show. The connection and the screen outlive it.
  CTextWindow(xcb_connection_t* connection, const xcb_screen_t* screen);
  CTextWindow(const CTextWindow&) = delete;
  CTextWindow& operator=(const CTextWindow&) = delete;

  // Shows the title and the text (lines at each '\n') in a window in the
  // middle of the screen; a window already open takes them over and comes
  // to the top, so that there is never more than one.
  void Show(const char* title, const char* text);
  void Close();
  bool IsOpen() const { return static_cast<bool>(window); }

  // Takes the events meant for the window; false for every other.
  bool Dispatch(const xcb_generic_event_t* event);

 private:
  enum Atom { WM_PROTOCOLS, WM_DELETE_WINDOW, NET_WM_NAME, UTF8_STRING, ATOM_COUNT };

  void Create(int width, int height);

  xcb_connection_t* connection;
  const xcb_screen_t* screen;
  xcb_atom_t atoms[ATOM_COUNT] = {};
  CFixedFont font;
  unique_x_window window;
  unique_x_gc gc;
  std::vector<std::string> lines;
};
