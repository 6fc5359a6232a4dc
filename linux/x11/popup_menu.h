// gleamo's own menu on the X display (help, meet author, end program): for
// the icon docked in an X tray, and for tray hosts that ask the item to open
// its menu at a point without drawing one themselves. An override-redirect
// window in the server's fixed font that grabs the pointer and the keyboard
// while it is open, so that a click elsewhere or Escape closes it.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>

#include "linux/tray_icon.h"
#include "linux/x11/x_resources.h"

class CPopupMenu {
 public:
  // Shows nothing until Open. The connection and the screen outlive the
  // menu; onCommand receives the chosen item's id once the menu has closed.
  CPopupMenu(xcb_connection_t* connection, const xcb_screen_t* screen, CTrayIcon::CommandHandler onCommand);
  CPopupMenu(const CPopupMenu&) = delete;
  CPopupMenu& operator=(const CPopupMenu&) = delete;

  // Opens the menu with its corner at a point of the root window, kept on
  // the screen; one already open moves there.
  void Open(int rootX, int rootY);
  void Close();
  bool IsOpen() const { return static_cast<bool>(window); }

  // Takes the events meant for the menu; false for every other.
  bool Dispatch(const xcb_generic_event_t* event);

 private:
  void Draw();
  int ItemAt(int x, int y) const;
  void Select(int index);
  void Choose(int index);
  void OnKey(xcb_keycode_t key);
  void LearnKeys();

  xcb_connection_t* connection;
  const xcb_screen_t* screen;
  CTrayIcon::CommandHandler onCommand;
  // Under Xwayland the grab sees no click outside X's own windows.
  const bool underXwayland;
  CFixedFont font;
  unique_x_window window;
  unique_x_gc gc;
  PixelFormat format;
  int itemHeight = 0;
  int width = 0;
  int textAscent = 0;
  int selectedItem = -1;
  bool pressedInMenu = false;
  bool pointedAtItem = false;
  enum Key : std::uint8_t { KEY_NONE, KEY_UP, KEY_DOWN, KEY_CHOOSE, KEY_CLOSE };
  std::array<Key, 256> keys{};  // by keycode
  bool keysLearned = false;
};
