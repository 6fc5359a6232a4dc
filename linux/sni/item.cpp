#include "linux/sni/item.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "linux/sni/bus_reply.h"
#include "res/program_texts.h"

namespace {

constexpr char ITEM_INTERFACE[] = "org.kde.StatusNotifierItem";
constexpr char WATCHER_PATH[] = "/StatusNotifierWatcher";

constexpr char ITEM_ID[] = "gleamo";
constexpr char ITEM_CATEGORY[] = "Hardware";
constexpr char ITEM_STATUS[] = "Active";
// Read aloud by screen readers, and asked for by GNOME's extension at every
// new picture, which logs an error where an item has none.
constexpr char ITEM_DESCRIPTION[] = "gleamo disk activity lamp";
constexpr char NO_NAME[] = "";  // the icon, overlay, attention, movie and theme names: pixmaps only

CStatusNotifier& TrayOf(void* userdata) {
  return *static_cast<CStatusNotifier*>(userdata);
}

// ---- org.kde.StatusNotifierItem properties ----

int GetWindowId(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "i", 0);
}

int GetItemIsMenu(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "b", 1);  // any click opens the menu
}

int GetMenu(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "o", SNI_MENU_PATH);
}

int GetNoPixmap(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "a(iiay)", 0);
}

int GetIconPixmap(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                  sd_bus_error*) {
  BUS_TRY(sd_bus_message_open_container(reply, 'a', "(iiay)"));
  for (const IconPixmap& pixmap : TrayOf(userdata).Pixmaps()) {
    BUS_TRY(sd_bus_message_open_container(reply, 'r', "iiay"));
    BUS_TRY(sd_bus_message_append(reply, "ii", pixmap.size, pixmap.size));
    BUS_TRY(sd_bus_message_append_array(reply, 'y', pixmap.argb.data(), pixmap.argb.size()));
    BUS_TRY(sd_bus_message_close_container(reply));
  }
  return sd_bus_message_close_container(reply);
}

int GetToolTip(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, sd_bus_error*) {
  // No icon of its own: hosts show the title beside the item's icon, and
  // the lines after it (each disk's rates) below it.
  const std::string& tooltip = TrayOf(userdata).Tooltip();
  const std::size_t lineEnd = tooltip.find('\n');
  const std::string title = tooltip.substr(0, lineEnd);
  const char* text = lineEnd == std::string::npos ? "" : tooltip.c_str() + lineEnd + 1;
  return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, title.c_str(), text);
}

// Hosts without a menu of their own (swaybar), and a left click where the
// host calls Activate, get gleamo's own menu where one can be drawn. Plasma
// opens the item's menu itself when Activate fails, natively.
int OnContextMenu(sd_bus_message* call, void* userdata, sd_bus_error* error) {
  int x = 0;
  int y = 0;
  BUS_TRY(sd_bus_message_read(call, "ii", &x, &y));
  if (!TrayOf(userdata).OpenOwnMenu(x, y)) {
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "gleamo has no display to show its menu on");
  }
  return sd_bus_reply_method_return(call, "");
}

int OnActivate(sd_bus_message* call, void* userdata, sd_bus_error* error) {
  if (TrayOf(userdata).ActivateOpensHostMenu()) {
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "the menu is the item's only action");
  }
  return OnContextMenu(call, userdata, error);
}

// A middle click and scrolling mean nothing to a lamp.
int IgnoreItemMethod(sd_bus_message* call, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(call, "");
}

const sd_bus_vtable ITEM_VTABLE[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", GetString<ITEM_CATEGORY>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", GetString<ITEM_ID>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", GetString<SNI_TITLE>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", GetString<ITEM_STATUS>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("WindowId", "i", GetWindowId, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "s", GetString<NO_NAME>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", GetString<NO_NAME>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", GetIconPixmap, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", GetString<NO_NAME>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", GetNoPixmap, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconName", "s", GetString<NO_NAME>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", GetNoPixmap, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionMovieName", "s", GetString<NO_NAME>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconAccessibleDesc", "s", GetString<ITEM_DESCRIPTION>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionAccessibleDesc", "s", GetString<ITEM_DESCRIPTION>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", GetToolTip, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", GetItemIsMenu, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", GetMenu, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("ContextMenu", "ii", "", OnContextMenu, 0),
    SD_BUS_METHOD("Activate", "ii", "", OnActivate, 0),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", IgnoreItemMethod, 0),
    SD_BUS_METHOD("Scroll", "is", "", IgnoreItemMethod, 0),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

namespace {

constexpr char BUS_DRIVER[] = "org.freedesktop.DBus";
// The watcher's name changing owner, told by the bus itself: a signal from
// any other sender, or about another name, never reaches the handler.
constexpr char WATCHER_OWNER_MATCH[] =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.kde.StatusNotifierWatcher'";

// A watcher that answers the registration with an error is asked again
// after 1, 2, 4, 8 and 16 s; after that, only a new watcher is. A watcher
// that took the icon and dropped it is asked again after a short pause.
constexpr int REFUSALS_BEFORE_GIVING_UP = 5;
constexpr std::uint64_t DROPPED_ICON_PAUSE_USEC = 500'000;
// Bus calls that get no answer in time count as failed: a hung watcher
// must not keep the icon away for sd-bus's default 25 s.
constexpr std::uint64_t WATCHER_CALL_TIMEOUT_USEC = 5'000'000;

const char* ErrorText(const sd_bus_error* error) {
  return error->message != nullptr ? error->message : error->name;
}

bool NoWatcher(const sd_bus_error* error) {
  return sd_bus_error_has_name(error, SD_BUS_ERROR_NAME_HAS_NO_OWNER) ||
         sd_bus_error_has_name(error, SD_BUS_ERROR_SERVICE_UNKNOWN);
}

// Whether a watcher's name for an item is the bus name's, alone or with a
// path: :1.10 is not :1.1's.
bool NamesItemOf(const char* id, const char* busName) {
  const std::size_t length = std::strlen(busName);
  return std::strncmp(id, busName, length) == 0 && (id[length] == '\0' || id[length] == '/');
}

}  // namespace

CStatusNotifier::CStatusNotifier(sd_bus* bus, sd_event* event, CommandHandler onCommand,
                                 MenuRequestHandler onMenuRequest, ShownHandler onShown)
    : bus(bus),
      event(event),
      onMenuRequest(std::move(onMenuRequest)),
      onShown(std::move(onShown)),
      menu(std::move(onCommand)) {
  char name[64];
  std::snprintf(name, sizeof name, "org.kde.StatusNotifierItem-%d-1", static_cast<int>(getpid()));
  serviceName = name;
}

CStatusNotifier::~CStatusNotifier() {
  Remove();
}

bool CStatusNotifier::Add() {
  if (Added()) return true;
  int result = sd_bus_add_object_vtable(bus, itemObject.put(), SNI_ITEM_PATH, ITEM_INTERFACE, ITEM_VTABLE, this);
  if (result >= 0) {
    result = menu.Publish(bus);
  }
  if (result < 0) {
    std::fprintf(stderr, "gleamo: cannot publish the tray item: %s\n", std::strerror(-result));
    Remove();
    return false;
  }
  // The name is for whoever looks for items by name; most watchers are
  // given the object's path, which needs no lookup of the name on their side.
  result = sd_bus_request_name_async(bus, nameRequest.put(), serviceName.c_str(), 0, &OnNameReply, this);
  if (result >= 0) {
    // A tray host that starts late, or restarts, brings a new watcher.
    result =
        sd_bus_add_match_async(bus, watcherMatch.put(), WATCHER_OWNER_MATCH, &OnWatcherOwnerChanged, nullptr, this);
  }
  if (result >= 0) {
    // A watcher that drops the item while it still runs (a host that lost
    // it while setting it up) is asked again.
    result = sd_bus_match_signal_async(bus, unregisteredMatch.put(), SNI_WATCHER_NAME, WATCHER_PATH, SNI_WATCHER_NAME,
                                       "StatusNotifierItemUnregistered", &OnItemUnregistered, nullptr, this);
  }
  if (result < 0) std::fprintf(stderr, "gleamo: cannot follow the tray host: %s\n", std::strerror(-result));
  AskWatcherOwner();
  return true;
}

int CStatusNotifier::OnNameReply(sd_bus_message* reply, void* self, sd_bus_error*) {
  // Answered before the watcher's owner is: the bus answers in order.
  constexpr std::uint32_t PRIMARY_OWNER = 1;
  constexpr std::uint32_t ALREADY_OWNER = 4;
  std::uint32_t outcome = 0;
  TrayOf(self).ownsServiceName = sd_bus_message_get_error(reply) == nullptr &&
                                 sd_bus_message_read(reply, "u", &outcome) >= 0 &&
                                 (outcome == PRIMARY_OWNER || outcome == ALREADY_OWNER);
  return 0;
}

void CStatusNotifier::AskWatcherOwner() {
  // Which program runs the watcher tells which pictures its host draws
  // crisply; asking fails at once when no watcher runs.
  retryTimer.reset();
  const int result = sd_bus_call_method_async(bus, pendingCall.put(), BUS_DRIVER, "/org/freedesktop/DBus", BUS_DRIVER,
                                              "GetConnectionUnixProcessID", &OnWatcherPid, this, "s", SNI_WATCHER_NAME);
  if (result < 0) std::fprintf(stderr, "gleamo: cannot ask for the tray host: %s\n", std::strerror(-result));
}

int CStatusNotifier::OnWatcherPid(sd_bus_message* reply, void* self, sd_bus_error*) {
  CStatusNotifier& tray = TrayOf(self);
  tray.pendingCall.reset();
  const sd_bus_error* failure = sd_bus_message_get_error(reply);
  if (failure != nullptr) {
    // No watcher: the next one that takes the name is registered with.
    if (!NoWatcher(failure)) std::fprintf(stderr, "gleamo: cannot ask for the tray host: %s\n", ErrorText(failure));
    tray.SetShown(false);
    return 0;
  }
  std::uint32_t pid = 0;
  if (sd_bus_message_read(reply, "u", &pid) < 0) pid = 0;
  const TrayHost host = IdentifyTrayHostOf(static_cast<pid_t>(pid));
  std::vector<int> sizes = PixmapSizesFor(host);
  tray.host = host;
  if (sizes != tray.pixmapSizes) {
    tray.pixmapSizes = std::move(sizes);
    tray.Repaint();  // at the host's sizes before it first asks
  }
  tray.Register();
  return 0;
}

void CStatusNotifier::Register() {
  unique_bus_message call;
  int result = sd_bus_message_new_method_call(bus, call.put(), SNI_WATCHER_NAME, WATCHER_PATH, SNI_WATCHER_NAME,
                                              "RegisterStatusNotifierItem");
  const bool byName = TraitsOf(host).registerByName && ownsServiceName;
  if (result >= 0) result = sd_bus_message_append(call.get(), "s", byName ? serviceName.c_str() : SNI_ITEM_PATH);
  if (result >= 0) {
    result = sd_bus_call_async(bus, pendingCall.put(), call.get(), &OnRegisterReply, this, WATCHER_CALL_TIMEOUT_USEC);
  }
  if (result < 0) std::fprintf(stderr, "gleamo: cannot register the tray item: %s\n", std::strerror(-result));
}

int CStatusNotifier::OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error*) {
  CStatusNotifier& tray = TrayOf(self);
  tray.pendingCall.reset();
  const sd_bus_error* failure = sd_bus_message_get_error(reply);
  if (failure == nullptr) {
    tray.registered = true;
    // Only refusals in a row mean a host that will not take the icon.
    tray.refusals = 0;
    tray.said.Forget(Trouble::REFUSED);
    tray.SetShown(true);
    return 0;
  }
  if (NoWatcher(failure)) {  // gone in the meantime
    tray.SetShown(false);
    return 0;
  }
  tray.RetryLater(ErrorText(failure));
  return 0;
}

void CStatusNotifier::RetryLater(const char* why) {
  if (refusals >= REFUSALS_BEFORE_GIVING_UP) {
    said.Say(Trouble::REFUSED, stderr,
             "gleamo: the tray host refused the icon %d times (%s); waiting for it to restart\n", refusals, why);
    SetShown(false);
    return;
  }
  const std::uint64_t delay = (1000000ULL << refusals);  // 1 s, doubled each time
  ++refusals;
  if (sd_event_add_time_relative(event, retryTimer.put(), CLOCK_MONOTONIC, delay, 0, &OnRetryTimer, this) < 0) {
    SetShown(false);
  }
}

int CStatusNotifier::OnRetryTimer(sd_event_source*, std::uint64_t, void* self) {
  CStatusNotifier& tray = TrayOf(self);
  tray.retryTimer.reset();
  tray.AskWatcherOwner();
  return 0;
}

int CStatusNotifier::OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
  CStatusNotifier& tray = TrayOf(self);
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  const char* sender = sd_bus_message_get_sender(message);
  if (sender == nullptr || std::strcmp(sender, BUS_DRIVER) != 0) return 0;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (std::strcmp(name, SNI_WATCHER_NAME) != 0) return 0;
  tray.registered = false;
  tray.pendingCall.reset();
  tray.retryTimer.reset();
  tray.refusals = 0;
  tray.said.Forget(Trouble::REFUSED);
  if (newOwner[0] == '\0') {
    tray.SetShown(false);  // the host went away: until another one starts
  } else {
    tray.AskWatcherOwner();  // a host started, or restarted
  }
  return 0;
}

int CStatusNotifier::OnItemUnregistered(sd_bus_message* message, void* self, sd_bus_error*) {
  CStatusNotifier& tray = TrayOf(self);
  const char* service = nullptr;
  if (!tray.registered || sd_bus_message_read(message, "s", &service) < 0) return 0;
  // Watchers name an item by its bus name, its unique name, or either with
  // the object's path.
  const char* unique = nullptr;
  sd_bus_get_unique_name(tray.bus, &unique);
  if (!NamesItemOf(service, tray.serviceName.c_str()) && !(unique != nullptr && NamesItemOf(service, unique))) {
    return 0;
  }
  // Dropped after it took the icon: offered again after a short pause, as
  // often as that happens.
  tray.registered = false;
  sd_event_add_time_relative(tray.event, tray.retryTimer.put(), CLOCK_MONOTONIC, DROPPED_ICON_PAUSE_USEC, 0,
                             &OnRetryTimer, &tray);
  return 0;
}

void CStatusNotifier::SetShown(bool shown) {
  if (!shown) registered = false;
  if (shown == shownReported) return;
  shownReported = shown;
  if (onShown) onShown(shown);
}

void CStatusNotifier::ReplaceIcon(const IconPicture& newPicture, const char* newTooltip) {
  // A host is never told of the picture it already shows.
  if (newPicture.code != picture.code || pixmaps.empty()) {
    picture = newPicture;
    Repaint();
  }
  ReplaceTooltip(newTooltip);
}

void CStatusNotifier::ReplaceTooltip(const char* newTooltip) {
  // Every signal makes each host fetch the property again: the tooltip,
  // often the same text at a change of the icon, is announced only when
  // its text is new.
  const char* text = newTooltip != nullptr ? newTooltip : "";
  if (tooltip == text) return;
  tooltip = text;
  if (itemObject) Emit("NewToolTip");
}

void CStatusNotifier::Repaint() {
  MakeIconPixmaps(picture, pixmapSizes, pixmaps);
  if (itemObject) Emit("NewIcon");
}

void CStatusNotifier::Emit(const char* signal) {
  const int result = sd_bus_emit_signal(bus, SNI_ITEM_PATH, ITEM_INTERFACE, signal, "");
  // The next tick would fail alike.
  if (result < 0) {
    said.Say(Trouble::EMIT_FAILED, stderr, "gleamo: cannot tell the tray host of the new icon: %s\n",
             std::strerror(-result));
  }
}

void CStatusNotifier::Remove() {
  retryTimer.reset();
  pendingCall.reset();
  unregisteredMatch.reset();
  watcherMatch.reset();
  // Given back without waiting for the answer: a bus that does not answer
  // must not hold up the program's end.
  if (nameRequest) sd_bus_release_name_async(bus, nullptr, serviceName.c_str(), nullptr, nullptr);
  nameRequest.reset();
  ownsServiceName = false;
  menu.Withdraw();
  itemObject.reset();
  registered = false;
  shownReported.reset();
}
