// The tray icon for X trays that host only XEmbed icons (the freedesktop
// system tray protocol: trayer, tint2, i3bar, polybar, lxpanel, awesome): a
// small window of ours docked into the tray, painted from the pixel model,
// with a popup menu of its own. Spoken straight over XCB, on the
// controller's event loop. It is also the controller's X display when the
// icon is a StatusNotifierItem: the menu for hosts that draw none, and the
// text window for "help".
#pragma once

#include <systemd/sd-event.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/unique_handle.h"
#include "linux/systemd_handles.h"
#include "linux/tray_icon.h"
#include "linux/x11/popup_menu.h"
#include "linux/x11/text_window.h"
#include "linux/x11/x_resources.h"
#include "tray/icon_raster.h"

using unique_xcb_connection = unique_handle<xcb_connection_t*, call_release<&xcb_disconnect>>;

// Where the picture sits in an icon window of any shape: on the largest
// square canvas, centred (an odd spare pixel to the right and the bottom),
// by PlaceIcon's rule.
struct WindowPlacement {
  int factor;
  int left, top;  // of the picture's top left corner
};
WindowPlacement PlaceIconInWindow(int width, int height);

class CXEmbedTray final : public CTrayIcon {
 public:
  using DisplayLostHandler = std::function<void()>;

  // Connects to the display DISPLAY names and listens on the event loop;
  // null when there is no display to connect to. When the connection breaks
  // (the X server went away) it says so on standard error and calls
  // onDisplayLost, last, from the event loop: the handler may destroy the
  // tray.
  static std::unique_ptr<CXEmbedTray> Connect(sd_event* event, CommandHandler onCommand,
                                              DisplayLostHandler onDisplayLost);
  ~CXEmbedTray() override;
  CXEmbedTray(const CXEmbedTray&) = delete;
  CXEmbedTray& operator=(const CXEmbedTray&) = delete;

  // Whether a tray owns the screen's tray selection right now.
  bool TrayPresent();
  // Whether the icon is docked in a tray (or asked to be) at this moment.
  bool Docked() const { return manager != XCB_NONE; }

  // Docks with the tray there is, and again with each tray that announces
  // itself later, or that drops the icon while it keeps the selection.
  // Without one it waits quietly.
  bool Add() override;
  // Takes the icon out of the tray and docks no more until the next Add:
  // the icon is shown elsewhere. The menu and texts stay.
  void Remove();
  void SetLabels(const char* top, const char* bottom) override;
  void ReplaceIcon(IconCode code, const char* tooltip) override;

  // gleamo's menu with its corner at a point of the root window, docked or
  // not; the choice goes to onCommand.
  void OpenMenu(int rootX, int rootY);
  // A top-level window of the title and the text (CTextWindow); a second
  // call replaces the text of a window still open.
  void ShowText(const char* title, const char* text);

 private:
  enum Atom { TRAY_SELECTION, TRAY_OPCODE, TRAY_VISUAL, MANAGER, XEMBED_INFO, NET_WM_NAME, UTF8_STRING, ATOM_COUNT };

  CXEmbedTray(unique_xcb_connection connection, const xcb_screen_t* screen, int screenNumber, CommandHandler onCommand,
              DisplayLostHandler onDisplayLost);
  bool Listen(sd_event* event);
  static int OnReadable(sd_event_source* source, int fd, std::uint32_t events, void* self);
  static int OnPrepare(sd_event_source* source, void* self);
  void Dispatch(const xcb_generic_event_t* event);

  xcb_window_t SelectionOwner();
  void Dock(xcb_window_t owner);
  void Undock();
  void OnIconLost();
  static int OnRedockTimer(sd_event_source* source, std::uint64_t usec, void* self);
  void CreateIconWindow(xcb_visualid_t visual);
  void SetSizeHints(int side);
  void FollowTraySize();
  void PaintIcon();

  // First: every resource below is made on it and freed before it closes.
  unique_xcb_connection connection;
  const xcb_screen_t* screen;
  DisplayLostHandler onDisplayLost;
  unique_sd_event_source readable;
  unique_sd_event_source redockTimer;
  sd_event* loop = nullptr;
  std::array<xcb_atom_t, ATOM_COUNT> atoms{};

  bool wanted = false;              // between Add and Remove
  xcb_window_t manager = XCB_NONE;  // the tray's selection owner we docked with
  std::uint64_t dockedAt = 0;       // CLOCK_MONOTONIC, microseconds
  int droppedSoon = 0;              // icons the tray dropped in a row, each soon after docking
  bool dropsReported = false;
  unique_x_window icon;
  unique_x_gc iconGc;
  unique_x_colormap iconColormap;
  PixelFormat iconFormat;
  bool iconTransparent = false;  // an ARGB visual: unpainted pixels show through
  int iconWidth = ICON_SIZE;
  int iconHeight = ICON_SIZE;
  int hintedSide = ICON_SIZE;
  int askedSide = 0;  // the square asked for in answer to the tray's last size, until it answers

  char topLabel[5] = "";
  char bottomLabel[4] = "";
  IconRaster raster;

  CPopupMenu menu;
  CTextWindow text;
};
