// The tray icon on a Linux desktop, spoken straight over D-Bus: a
// StatusNotifierItem with the painted pixmaps and tooltip, and its menu over
// com.canonical.dbusmenu. Desktops without a GUI toolkit of ours show it as
// KDE Plasma, Xfce, LXQt, Cinnamon, waybar or GNOME's AppIndicator extension
// draw these items.
#pragma once

#include <systemd/sd-bus.h>

#include <array>
#include <functional>
#include <string>

#include "common/gleamo_types.h"
#include "common/unique_handle.h"
#include "tray/icon_pixmap_linux.h"

using unique_bus_slot = unique_handle<sd_bus_slot*, call_release<&sd_bus_slot_unref>>;

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

class CStatusNotifier {
 public:
  using CommandHandler = std::function<void(int commandId)>;

  // Does nothing on the bus until Add. onCommand receives the id of a
  // clicked menu item.
  CStatusNotifier(sd_bus* bus, CommandHandler onCommand);
  ~CStatusNotifier();
  CStatusNotifier(const CStatusNotifier&) = delete;
  CStatusNotifier& operator=(const CStatusNotifier&) = delete;

  // Takes the item's bus name, publishes the item and its menu, and
  // registers with the StatusNotifierWatcher, again whenever the watcher's
  // name changes owner. Without a watcher it says so once on standard error
  // and waits for one. False when the bus refuses the name or the objects.
  bool Add();

  // The labels of the char and bar styles, at most 4 and 3 characters.
  void SetLabels(const char* top, const char* bottom);

  // Paints the icon code into the pixmaps and takes the tooltip title;
  // hosts are told with NewIcon, and with NewToolTip when the title's text
  // is new. Called only when the code changes, so an unchanged icon costs
  // the bus nothing.
  void ReplaceIcon(IconCode code, const char* tooltip);

  // Gives up the bus name and the objects: the watcher sees the item leave.
  void Remove();

  const std::string& ServiceName() const { return serviceName; }
  const IconPixmaps& Pixmaps() const { return pixmaps; }

 private:
  void Register();
  static int OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);

  static int GetItemProperty(sd_bus* bus, const char* path, const char* interface, const char* property,
                             sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnItemMethod(sd_bus_message* call, void* self, sd_bus_error* error);

  static int GetMenuProperty(sd_bus* bus, const char* path, const char* interface, const char* property,
                             sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnGetLayout(sd_bus_message* call, void* self, sd_bus_error* error);
  static int OnGetGroupProperties(sd_bus_message* call, void* self, sd_bus_error* error);
  static int OnGetProperty(sd_bus_message* call, void* self, sd_bus_error* error);
  static int OnEvent(sd_bus_message* call, void* self, sd_bus_error* error);
  static int OnEventGroup(sd_bus_message* call, void* self, sd_bus_error* error);
  static int OnAboutToShow(sd_bus_message* call, void* self, sd_bus_error* error);
  static int OnAboutToShowGroup(sd_bus_message* call, void* self, sd_bus_error* error);

  // True when the event was for a known item; a click runs its command.
  bool HandleEvent(int id, const char* eventId);

  sd_bus* bus;
  CommandHandler onCommand;
  std::string serviceName;
  bool nameOwned = false;
  bool noWatcherReported = false;
  unique_bus_slot itemObject;
  unique_bus_slot menuObject;
  unique_bus_slot watcherMatch;
  unique_bus_slot registerCall;
  char topLabel[5] = "";
  char bottomLabel[4] = "";
  char tooltipTitle[128] = "";
  IconPixmaps pixmaps;
};
