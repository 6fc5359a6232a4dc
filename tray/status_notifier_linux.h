// The tray icon on a Linux desktop, spoken straight over D-Bus: a
// StatusNotifierItem with the painted pixmaps and tooltip, and its menu over
// com.canonical.dbusmenu. Desktops without a GUI toolkit of ours show it as
// KDE Plasma, Xfce, LXQt, Cinnamon, waybar or GNOME's AppIndicator extension
// draw these items.
#pragma once

#include <systemd/sd-bus.h>

#include <array>
#include <string>

#include "common/gleamo_types.h"
#include "common/systemd_handles_linux.h"
#include "tray/icon_pixmap_linux.h"
#include "tray/tray_icon_linux.h"

constexpr char SNI_WATCHER_NAME[] = "org.kde.StatusNotifierWatcher";
constexpr char SNI_ITEM_PATH[] = "/StatusNotifierItem";
constexpr char SNI_MENU_PATH[] = "/MenuBar";
constexpr char SNI_TITLE[] = "gleamo";

struct TrayMenuItem {
  int id;  // the command the item sends, as on Windows
  const char* label;
};

// The tray menu in its order: help, meet author, end program.
extern const std::array<TrayMenuItem, 3> TRAY_MENU_ITEMS;

// Calls handler with every NameOwnerChanged of the bus (sd-bus matches no
// argument of a signal), for it to ask WatcherStarted.
int MatchNameOwnerChanges(sd_bus* bus, sd_bus_slot** slot, sd_bus_message_handler_t handler, void* userdata);
// Whether a NameOwnerChanged tells of a StatusNotifierWatcher that has just
// started: a tray host started, or restarted.
bool WatcherStarted(sd_bus_message* nameOwnerChanged);

class CStatusNotifier : public CTrayIcon {
 public:
  // Does nothing on the bus until Add.
  CStatusNotifier(sd_bus* bus, CommandHandler onCommand);
  ~CStatusNotifier() override;
  CStatusNotifier(const CStatusNotifier&) = delete;
  CStatusNotifier& operator=(const CStatusNotifier&) = delete;

  // Publishes the item and its menu, takes the item's bus name and registers
  // with the StatusNotifierWatcher, again whenever the watcher's name changes
  // owner. Without a watcher it says so once on standard error and waits for
  // one. False when the bus refuses the name or the objects.
  bool Add() override;

  void SetLabels(const char* top, const char* bottom) override;

  // Hosts are told with NewIcon, and with NewToolTip when the tooltip's text
  // is new.
  void ReplaceIcon(IconCode code, const char* tooltip) override;

  // Gives up the bus name and the objects: the watcher sees the item leave.
  void Remove();

  const std::string& ServiceName() const { return serviceName; }
  const IconPixmaps& Pixmaps() const { return pixmaps; }
  const char* Tooltip() const { return tooltip; }

 private:
  void Register();
  void Emit(const char* signal);
  static int OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);

  sd_bus* bus;
  // The menu object's own state: what a click runs.
  CommandHandler onCommand;
  std::string serviceName;
  bool nameOwned = false;
  bool noWatcherReported = false;
  bool emitFailureReported = false;
  unique_bus_slot itemObject;
  unique_bus_slot menuObject;
  unique_bus_slot watcherMatch;
  unique_bus_slot registerCall;
  char topLabel[5] = "";
  char bottomLabel[4] = "";
  char tooltip[128] = "";
  IconPixmaps pixmaps;
};
