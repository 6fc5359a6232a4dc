// gleamo's connection to the X display, on the controller's event loop: it
// reads the events and hands each to whom it concerns (gleamo's own menu and
// text window, which live here, then the XEmbed icon), and it is the one
// place that notices the display going away.
#pragma once

#include <systemd/sd-event.h>
#include <xcb/xcb.h>

#include <functional>
#include <memory>

#include "common/unique_handle.h"
#include "linux/systemd_handles.h"
#include "linux/tray_icon.h"
#include "linux/x11/popup_menu.h"
#include "linux/x11/text_window.h"

using unique_xcb_connection = unique_handle<xcb_connection_t*, call_release<&xcb_disconnect>>;

class CXDisplay {
 public:
  using EventHandler = std::function<void(const xcb_generic_event_t* event)>;
  using LostHandler = std::function<void()>;

  // Connects to the display DISPLAY names and listens on the event loop;
  // null when there is no display to connect to. When the connection breaks
  // (the X server went away) it says so on standard error and calls
  // onLost, last, from the event loop: the handler may destroy the display.
  // The menu's choice goes to onCommand.
  static std::unique_ptr<CXDisplay> Connect(sd_event* event, CTrayIcon::CommandHandler onCommand, LostHandler onLost);
  ~CXDisplay();
  CXDisplay(const CXDisplay&) = delete;
  CXDisplay& operator=(const CXDisplay&) = delete;

  xcb_connection_t* Connection() const { return connection.get(); }
  const xcb_screen_t* Screen() const { return screen; }
  int ScreenNumber() const { return screenNumber; }
  sd_event* Loop() const { return loop; }

  // Receives every event that is not the menu's or the text window's.
  void SetEventHandler(EventHandler handler) { onEvent = std::move(handler); }

  // gleamo's menu with its corner at a point of the root window; the
  // choice goes to onCommand.
  void OpenMenu(int rootX, int rootY) { menu.Open(rootX, rootY); }
  bool MenuIsOpen() const { return menu.IsOpen(); }
  // A top-level window of the title and the text (CTextWindow); a second
  // call replaces the text of a window still open.
  void ShowText(const char* title, const char* text) { this->text.Show(title, text); }

 private:
  CXDisplay(unique_xcb_connection connection, const xcb_screen_t* screen, int screenNumber, sd_event* loop,
            CTrayIcon::CommandHandler onCommand, LostHandler onLost);
  bool Watch();
  static int OnReadable(sd_event_source* source, int fd, std::uint32_t events, void* self);
  static int OnPrepare(sd_event_source* source, void* self);
  void Dispatch(const xcb_generic_event_t* event);

  // First: every resource of ours is made on it and freed before it closes.
  unique_xcb_connection connection;
  const xcb_screen_t* screen;
  int screenNumber;
  sd_event* loop;
  LostHandler onLost;
  EventHandler onEvent;
  unique_sd_event_source readable;
  CPopupMenu menu;
  CTextWindow text;
};
