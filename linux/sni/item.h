// The tray icon on a Linux desktop, spoken straight over D-Bus: a
// StatusNotifierItem with the painted pixmaps and tooltip, and its menu
// (dbusmenu.h). Desktops without a GUI toolkit of ours show it as KDE
// Plasma, Xfce, LXQt, MATE, Cinnamon, waybar, swaybar or GNOME's
// AppIndicator extension draw these items.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/gleamo_types.h"
#include "linux/icon_pixmap.h"
#include "linux/said_once.h"
#include "linux/sni/dbusmenu.h"
#include "linux/sni/host.h"
#include "linux/systemd_handles.h"
#include "linux/tray_icon.h"

constexpr char SNI_WATCHER_NAME[] = "org.kde.StatusNotifierWatcher";
constexpr char SNI_ITEM_PATH[] = "/StatusNotifierItem";
constexpr char SNI_TITLE[] = "gleamo";

class CStatusNotifier : public CTrayIcon {
 public:
  // Opens gleamo's own menu at these screen coordinates, for hosts that
  // draw none (swaybar) or call Activate on a left click; false where none
  // can be shown.
  using MenuRequestHandler = std::function<bool(int x, int y)>;
  // Told when the item is registered with a watcher (true), and when no
  // watcher shows it any more: none runs, it went away, or it kept refusing
  // the item (false).
  using ShownHandler = std::function<void(bool shown)>;

  // Does nothing on the bus until Add. The event loop times the retries.
  CStatusNotifier(sd_bus* bus, sd_event* event, CommandHandler onCommand, MenuRequestHandler onMenuRequest,
                  ShownHandler onShown);
  ~CStatusNotifier() override;
  CStatusNotifier(const CStatusNotifier&) = delete;
  CStatusNotifier& operator=(const CStatusNotifier&) = delete;

  // Publishes the item and its menu, asks for the item's bus name, follows
  // the StatusNotifierWatcher's name and registers with each watcher that
  // runs. Every bus call is asynchronous. False when the objects cannot be
  // published.
  bool Add() override;

  // Hosts are told with NewIcon, and with NewToolTip when the tooltip's text
  // is new.
  void ReplaceIcon(const IconPicture& newPicture, const char* tooltip) override;
  void ReplaceTooltip(const char* tooltip) override;

  // Takes the objects off the bus and gives up the name: the watcher drops
  // the item.
  void Remove();

  bool Added() const { return static_cast<bool>(itemObject); }
  bool Registered() const { return registered; }
  TrayHost Host() const { return host; }
  const std::string& ServiceName() const { return serviceName; }
  const IconPixmaps& Pixmaps() const { return pixmaps; }
  const std::string& Tooltip() const { return tooltip; }

  // The menu of the item's own (ContextMenu, or Activate where the host
  // opens no menu of its own on a failed one); the handlers answer the call.
  bool OpenOwnMenu(int x, int y) { return onMenuRequest && onMenuRequest(x, y); }
  bool ActivateOpensHostMenu() const { return TraitsOf(host).menuOnFailedActivate; }

 private:
  void AskWatcherOwner();
  void Register();
  void RetryLater(const char* why);
  void Repaint();
  void SetShown(bool shown);
  void Emit(const char* signal);
  static int OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);
  static int OnItemUnregistered(sd_bus_message* message, void* self, sd_bus_error* error);
  static int OnNameReply(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnWatcherPid(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnRetryTimer(sd_event_source* source, std::uint64_t usec, void* self);

  sd_bus* bus;
  sd_event* event;
  MenuRequestHandler onMenuRequest;
  ShownHandler onShown;
  CDbusMenu menu;
  std::string serviceName;
  TrayHost host = TrayHost::Unknown;
  std::vector<int> pixmapSizes = TraitsOf(TrayHost::Unknown).pixmapSizes;
  bool registered = false;
  bool ownsServiceName = false;
  std::optional<bool> shownReported;  // what onShown was last told
  int refusals = 0;                   // by the watcher that runs now
  enum class Trouble { REFUSED, EMIT_FAILED };
  SaidOnce<Trouble> said;
  unique_bus_slot itemObject;
  unique_bus_slot nameRequest;
  unique_bus_slot watcherMatch;
  unique_bus_slot unregisteredMatch;
  unique_bus_slot pendingCall;  // the watcher's owner, or the registration
  unique_sd_event_source retryTimer;
  std::string tooltip;
  IconPicture picture;  // for other sizes
  IconPixmaps pixmaps;
};
