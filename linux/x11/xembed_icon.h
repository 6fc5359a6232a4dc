// The tray icon for X trays that host only XEmbed icons (the freedesktop
// system tray protocol: trayer, tint2, i3bar, polybar, lxpanel, awesome): a
// small window of ours docked into the tray, painted from the pixel model.
// Its clicks open gleamo's menu on the same display; the pointer resting on
// it shows the tooltip.
#pragma once

#include <systemd/sd-event.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "linux/said_once.h"
#include "linux/systemd_handles.h"
#include "linux/tray_icon.h"
#include "linux/x11/display.h"
#include "linux/x11/tooltip_window.h"
#include "linux/x11/x_resources.h"
#include "tray/icon_raster.h"

class CXEmbedIcon final : public CTrayIcon {
 public:
  // Told when the icon is docked in a tray (true) and, a moment later, when
  // no tray holds it any more (false), as the X server's events and the
  // icon's own retries bring it; never from within Add or Remove, whose
  // outcome Docked() tells.
  using DockedHandler = std::function<void(bool docked)>;

  // Listens to the display's events; shows nothing before Add. The display
  // outlives the icon.
  CXEmbedIcon(CXDisplay& display, DockedHandler onDocked);
  ~CXEmbedIcon() override;
  CXEmbedIcon(const CXEmbedIcon&) = delete;
  CXEmbedIcon& operator=(const CXEmbedIcon&) = delete;

  // Whether the icon is docked in a tray (or asked to be) at this moment.
  bool Docked() const { return manager != XCB_NONE; }

  // Docks with the tray there is, and again with each tray that announces
  // itself later, or that drops the icon while it keeps the selection.
  // Without one it waits quietly.
  bool Add() override;
  // Takes the icon out of the tray and docks no more until the next Add:
  // the icon is shown elsewhere.
  void Remove();
  void ReplaceIcon(const IconPicture& picture, const char* tooltip) override;
  void ReplaceTooltip(const char* tooltip) override;

 private:
  enum Atom { TRAY_SELECTION, TRAY_OPCODE, TRAY_VISUAL, MANAGER, XEMBED_INFO, NET_WM_NAME, UTF8_STRING, ATOM_COUNT };

  void Dispatch(const xcb_generic_event_t* event);
  void ReportIfChanged();
  // Null when the server does not answer in time.
  std::optional<xcb_window_t> SelectionOwner();
  void DockLater(std::uint64_t delayUsec);
  void Dock(xcb_window_t owner);
  void Undock();
  void OnIconLost();
  static int OnRedockTimer(sd_event_source* source, std::uint64_t usec, void* self);
  static int OnRepaintTimer(sd_event_source* source, std::uint64_t usec, void* self);
  static int OnUndockReport(sd_event_source* source, std::uint64_t usec, void* self);
  static int OnHoverTimer(sd_event_source* source, std::uint64_t usec, void* self);
  void HideTooltip();
  void CreateIconWindow(xcb_visualid_t visual);
  void SetSizeHints(int side);
  void FollowTraySize();
  void PaintIcon();

  CXDisplay& display;
  xcb_connection_t* connection;  // the display's
  const xcb_screen_t* screen;    // the display's
  DockedHandler onDocked;
  unique_sd_event_source redockTimer;
  unique_sd_event_source repaintTimer;  // the server read nothing when the picture changed
  unique_sd_event_source undockReport;
  std::array<xcb_atom_t, ATOM_COUNT> atoms{};

  bool wanted = false;              // between Add and Remove
  xcb_window_t manager = XCB_NONE;  // the tray's selection owner we docked with
  bool reportedDocked = false;      // what onDocked was last told, or Add and Remove found
  std::uint64_t dockedAt = 0;       // CLOCK_MONOTONIC, microseconds
  int droppedSoon = 0;              // icons the tray dropped in a row, each soon after docking
  SaidOnce<> dropsSaid;
  unique_x_window icon;
  unique_x_gc iconGc;
  unique_x_colormap iconColormap;
  PixelFormat iconFormat;
  bool iconTransparent = false;  // an ARGB visual: unpainted pixels show through
  int iconWidth = ICON_SIZE;
  int iconHeight = ICON_SIZE;
  int hintedSide = ICON_SIZE;
  int askedSide = 0;  // the square asked for in answer to the tray's last size, until it answers

  IconRaster raster;
  std::string tooltipText;
  CTooltipWindow tooltipWindow;
  unique_sd_event_source hoverTimer;  // the pointer came to rest on the icon
};
