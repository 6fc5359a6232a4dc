#include "tray/status_notifier_linux.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "res/program_texts.h"
#include "res/resource.h"

const std::array<TrayMenuItem, 3> TRAY_MENU_ITEMS{{
    {ID_HELP, TEXT_HELP},
    {ID_MEET_AUTHOR, TEXT_MEET_AUTHOR},
    {ID_END_PROGRAM, TEXT_END_PROGRAM},
}};

namespace {

constexpr char ITEM_INTERFACE[] = "org.kde.StatusNotifierItem";
constexpr char MENU_INTERFACE[] = "com.canonical.dbusmenu";
constexpr char WATCHER_PATH[] = "/StatusNotifierWatcher";
constexpr int MENU_ROOT_ID = 0;
constexpr std::uint32_t MENU_VERSION = 3;
constexpr std::uint32_t MENU_REVISION = 1;  // the menu never changes

constexpr char ITEM_ID[] = "gleamo";
constexpr char ITEM_CATEGORY[] = "Hardware";
constexpr char ITEM_STATUS[] = "Active";
constexpr char NO_NAME[] = "";  // the icon, overlay, attention, movie and theme names: pixmaps only
constexpr char MENU_TEXT_DIRECTION[] = "ltr";
constexpr char MENU_STATUS[] = "normal";

// Propagates the first failing sd-bus step of a message build.
#define TRY(call)                    \
  do {                               \
    const int result_ = (call);      \
    if (result_ < 0) return result_; \
  } while (0)

void FreeStrv(char** strv) {
  for (char** s = strv; *s != nullptr; ++s) std::free(*s);
  std::free(strv);
}
using unique_strv = unique_handle<char**, call_release<&FreeStrv>>;

CStatusNotifier& TrayOf(void* userdata) {
  return *static_cast<CStatusNotifier*>(userdata);
}

const TrayMenuItem* FindMenuItem(int id) {
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

bool IsMenuId(int id) {
  return id == MENU_ROOT_ID || FindMenuItem(id) != nullptr;
}

int InvalidId(sd_bus_error* error, int id) {
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no menu item with id %d", id);
}

// ---- org.kde.StatusNotifierItem properties ----

template <const char* Value>
int GetString(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "s", Value);
}

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
  TRY(sd_bus_message_open_container(reply, 'a', "(iiay)"));
  for (const IconPixmap& pixmap : TrayOf(userdata).Pixmaps()) {
    TRY(sd_bus_message_open_container(reply, 'r', "iiay"));
    TRY(sd_bus_message_append(reply, "ii", pixmap.size, pixmap.size));
    TRY(sd_bus_message_append_array(reply, 'y', pixmap.argb.data(), pixmap.argb.size()));
    TRY(sd_bus_message_close_container(reply));
  }
  return sd_bus_message_close_container(reply);
}

int GetToolTip(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, sd_bus_error*) {
  // No icon of its own: hosts show the title beside the item's icon.
  return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, TrayOf(userdata).Tooltip(), "");
}

// Activation and scrolling mean nothing to a lamp; the menu comes from the
// host through dbusmenu.
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
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", GetToolTip, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", GetItemIsMenu, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", GetMenu, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("ContextMenu", "ii", "", IgnoreItemMethod, 0),
    SD_BUS_METHOD("Activate", "ii", "", IgnoreItemMethod, 0),
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

// ---- com.canonical.dbusmenu: a root with the three items ----

// Property names a caller asked for; none means all of them.
bool Wants(char** names, const char* property) {
  if (names == nullptr || *names == nullptr) return true;
  for (char** name = names; *name != nullptr; ++name) {
    if (std::strcmp(*name, property) == 0) return true;
  }
  return false;
}

int AppendStringEntry(sd_bus_message* m, char** names, const char* key, const char* value) {
  if (!Wants(names, key)) return 0;
  return sd_bus_message_append(m, "{sv}", key, "s", value);
}

int AppendBoolEntry(sd_bus_message* m, char** names, const char* key, bool value) {
  if (!Wants(names, key)) return 0;
  return sd_bus_message_append(m, "{sv}", key, "b", static_cast<int>(value));
}

// a{sv}: the root says its children form a submenu; items carry a label and
// are enabled and visible.
int AppendMenuProperties(sd_bus_message* m, int id, char** names) {
  TRY(sd_bus_message_open_container(m, 'a', "{sv}"));
  if (id == MENU_ROOT_ID) {
    TRY(AppendStringEntry(m, names, "children-display", "submenu"));
  } else if (const TrayMenuItem* item = FindMenuItem(id)) {
    TRY(AppendStringEntry(m, names, "type", "standard"));
    TRY(AppendStringEntry(m, names, "label", item->label));
    TRY(AppendBoolEntry(m, names, "enabled", true));
    TRY(AppendBoolEntry(m, names, "visible", true));
  }
  return sd_bus_message_close_container(m);
}

// (ia{sv}av): one item and, down to depth levels (-1: all), its children.
int AppendMenuLayout(sd_bus_message* m, int id, int depth, char** names) {
  TRY(sd_bus_message_open_container(m, 'r', "ia{sv}av"));
  TRY(sd_bus_message_append(m, "i", id));
  TRY(AppendMenuProperties(m, id, names));
  TRY(sd_bus_message_open_container(m, 'a', "v"));
  if (id == MENU_ROOT_ID && depth != 0) {
    for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
      TRY(sd_bus_message_open_container(m, 'v', "(ia{sv}av)"));
      TRY(AppendMenuLayout(m, item.id, depth < 0 ? depth : depth - 1, names));
      TRY(sd_bus_message_close_container(m));
    }
  }
  TRY(sd_bus_message_close_container(m));
  return sd_bus_message_close_container(m);
}

int GetMenuVersion(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "u", MENU_VERSION);
}

int GetNoThemePath(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "as", 0);
}

int OnGetLayout(sd_bus_message* call, void*, sd_bus_error* error) {
  int parentId = 0;
  int depth = 0;
  unique_strv names;
  TRY(sd_bus_message_read(call, "ii", &parentId, &depth));
  TRY(sd_bus_message_read_strv(call, names.put()));
  if (!IsMenuId(parentId)) return InvalidId(error, parentId);

  unique_bus_message reply;
  TRY(sd_bus_message_new_method_return(call, reply.put()));
  TRY(sd_bus_message_append(reply.get(), "u", MENU_REVISION));
  TRY(AppendMenuLayout(reply.get(), parentId, depth, names.get()));
  return sd_bus_send(nullptr, reply.get(), nullptr);
}

int OnGetGroupProperties(sd_bus_message* call, void*, sd_bus_error*) {
  const void* idData = nullptr;
  std::size_t idBytes = 0;
  unique_strv names;
  TRY(sd_bus_message_read_array(call, 'i', &idData, &idBytes));
  std::vector<int> ids(static_cast<const int*>(idData), static_cast<const int*>(idData) + idBytes / sizeof(int));
  TRY(sd_bus_message_read_strv(call, names.put()));
  if (ids.empty()) {  // no ids: every item
    ids.push_back(MENU_ROOT_ID);
    for (const TrayMenuItem& item : TRAY_MENU_ITEMS) ids.push_back(item.id);
  }

  unique_bus_message reply;
  TRY(sd_bus_message_new_method_return(call, reply.put()));
  TRY(sd_bus_message_open_container(reply.get(), 'a', "(ia{sv})"));
  for (int id : ids) {
    if (!IsMenuId(id)) continue;  // unknown ids are left out
    TRY(sd_bus_message_open_container(reply.get(), 'r', "ia{sv}"));
    TRY(sd_bus_message_append(reply.get(), "i", id));
    TRY(AppendMenuProperties(reply.get(), id, names.get()));
    TRY(sd_bus_message_close_container(reply.get()));
  }
  TRY(sd_bus_message_close_container(reply.get()));
  return sd_bus_send(nullptr, reply.get(), nullptr);
}

int OnGetProperty(sd_bus_message* call, void*, sd_bus_error* error) {
  int id = 0;
  const char* name = nullptr;
  TRY(sd_bus_message_read(call, "is", &id, &name));
  if (!IsMenuId(id)) return InvalidId(error, id);
  if (id == MENU_ROOT_ID && std::strcmp(name, "children-display") == 0) {
    return sd_bus_reply_method_return(call, "v", "s", "submenu");
  }
  if (const TrayMenuItem* item = FindMenuItem(id)) {
    if (std::strcmp(name, "label") == 0) return sd_bus_reply_method_return(call, "v", "s", item->label);
    if (std::strcmp(name, "type") == 0) return sd_bus_reply_method_return(call, "v", "s", "standard");
    if (std::strcmp(name, "enabled") == 0 || std::strcmp(name, "visible") == 0) {
      return sd_bus_reply_method_return(call, "v", "b", 1);
    }
  }
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "menu item %d has no property %s", id, name);
}

// The menu object's userdata is the command handler: a click on an item runs
// its command; hovering, opening and closing do nothing.
void RunIfClicked(void* userdata, int id, const char* eventId) {
  const auto& onCommand = *static_cast<const CTrayIcon::CommandHandler*>(userdata);
  if (id != MENU_ROOT_ID && std::strcmp(eventId, "clicked") == 0 && onCommand) onCommand(id);
}

int OnEvent(sd_bus_message* call, void* userdata, sd_bus_error* error) {
  int id = 0;
  const char* eventId = nullptr;
  TRY(sd_bus_message_read(call, "is", &id, &eventId));
  if (!IsMenuId(id)) return InvalidId(error, id);
  // Answer first: a command may end the program.
  TRY(sd_bus_reply_method_return(call, ""));
  RunIfClicked(userdata, id, eventId);
  return 1;
}

int OnEventGroup(sd_bus_message* call, void* userdata, sd_bus_error*) {
  struct Event {
    int id;
    std::string eventId;
  };
  std::vector<Event> events;
  std::vector<int> unknown;
  TRY(sd_bus_message_enter_container(call, 'a', "(isvu)"));
  for (;;) {
    const int entered = sd_bus_message_enter_container(call, 'r', "isvu");
    TRY(entered);
    if (entered == 0) break;
    int id = 0;
    const char* eventId = nullptr;
    TRY(sd_bus_message_read(call, "is", &id, &eventId));
    if (IsMenuId(id)) {
      events.push_back({id, eventId});
    } else {
      unknown.push_back(id);
    }
    TRY(sd_bus_message_skip(call, "vu"));
    TRY(sd_bus_message_exit_container(call));
  }
  TRY(sd_bus_message_exit_container(call));

  unique_bus_message reply;
  TRY(sd_bus_message_new_method_return(call, reply.put()));
  TRY(sd_bus_message_append_array(reply.get(), 'i', unknown.data(), unknown.size() * sizeof(int)));
  TRY(sd_bus_send(nullptr, reply.get(), nullptr));
  for (const Event& event : events) RunIfClicked(userdata, event.id, event.eventId.c_str());
  return 1;
}

int OnAboutToShow(sd_bus_message* call, void*, sd_bus_error* error) {
  int id = 0;
  TRY(sd_bus_message_read(call, "i", &id));
  if (!IsMenuId(id)) return InvalidId(error, id);
  return sd_bus_reply_method_return(call, "b", 0);  // the menu never needs an update
}

int OnAboutToShowGroup(sd_bus_message* call, void*, sd_bus_error*) {
  const void* idData = nullptr;
  std::size_t idBytes = 0;
  TRY(sd_bus_message_read_array(call, 'i', &idData, &idBytes));
  std::vector<int> unknown;
  for (std::size_t i = 0; i < idBytes / sizeof(int); ++i) {
    const int id = static_cast<const int*>(idData)[i];
    if (!IsMenuId(id)) unknown.push_back(id);
  }
  unique_bus_message reply;
  TRY(sd_bus_message_new_method_return(call, reply.put()));
  TRY(sd_bus_message_append_array(reply.get(), 'i', nullptr, 0));  // no item needs an update
  TRY(sd_bus_message_append_array(reply.get(), 'i', unknown.data(), unknown.size() * sizeof(int)));
  return sd_bus_send(nullptr, reply.get(), nullptr);
}

const sd_bus_vtable MENU_VTABLE[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", GetMenuVersion, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", GetString<MENU_TEXT_DIRECTION>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", GetString<MENU_STATUS>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", GetNoThemePath, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", OnGetLayout, 0),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", OnGetGroupProperties, 0),
    SD_BUS_METHOD("GetProperty", "is", "v", OnGetProperty, 0),
    SD_BUS_METHOD("Event", "isvu", "", OnEvent, 0),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", OnEventGroup, 0),
    SD_BUS_METHOD("AboutToShow", "i", "b", OnAboutToShow, 0),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", OnAboutToShowGroup, 0),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

int MatchNameOwnerChanges(sd_bus* bus, sd_bus_slot** slot, sd_bus_message_handler_t handler, void* userdata) {
  return sd_bus_match_signal(bus, slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "NameOwnerChanged", handler, userdata);
}

bool WatcherStarted(sd_bus_message* nameOwnerChanged) {
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(nameOwnerChanged, "sss", &name, &oldOwner, &newOwner) < 0) return false;
  return std::strcmp(name, SNI_WATCHER_NAME) == 0 && newOwner[0] != '\0';
}

CStatusNotifier::CStatusNotifier(sd_bus* bus, CommandHandler onCommand) : bus(bus), onCommand(std::move(onCommand)) {
  char name[64];
  std::snprintf(name, sizeof name, "org.kde.StatusNotifierItem-%d-1", static_cast<int>(getpid()));
  serviceName = name;
}

CStatusNotifier::~CStatusNotifier() {
  Remove();
}

bool CStatusNotifier::Add() {
  int result = sd_bus_add_object_vtable(bus, itemObject.put(), SNI_ITEM_PATH, ITEM_INTERFACE, ITEM_VTABLE, this);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: cannot publish the tray item: %s\n", std::strerror(-result));
    return false;
  }
  result = sd_bus_add_object_vtable(bus, menuObject.put(), SNI_MENU_PATH, MENU_INTERFACE, MENU_VTABLE, &onCommand);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: cannot publish the tray menu: %s\n", std::strerror(-result));
    return false;
  }
  result = sd_bus_request_name(bus, serviceName.c_str(), 0);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: the session bus refused the name %s: %s\n", serviceName.c_str(),
                 std::strerror(-result));
    return false;
  }
  nameOwned = true;
  // A tray host that starts late, or restarts, brings a new watcher: register
  // with each one as it takes the name.
  result = MatchNameOwnerChanges(bus, watcherMatch.put(), OnWatcherOwnerChanged, this);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: cannot follow the tray host's restarts: %s\n", std::strerror(-result));
  }
  Register();
  return true;
}

void CStatusNotifier::Register() {
  const int result =
      sd_bus_call_method_async(bus, registerCall.put(), SNI_WATCHER_NAME, WATCHER_PATH, SNI_WATCHER_NAME,
                               "RegisterStatusNotifierItem", OnRegisterReply, this, "s", serviceName.c_str());
  if (result < 0) std::fprintf(stderr, "gleamo: cannot register the tray item: %s\n", std::strerror(-result));
}

int CStatusNotifier::OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error*) {
  CStatusNotifier& tray = TrayOf(self);
  const sd_bus_error* failure = sd_bus_message_get_error(reply);
  if (failure == nullptr || tray.noWatcherReported) return 0;
  tray.noWatcherReported = true;
  std::fprintf(stderr,
               "gleamo: no StatusNotifierWatcher on the session bus (%s); the icon appears when a tray host "
               "starts\n",
               failure->message != nullptr ? failure->message : failure->name);
  return 0;
}

int CStatusNotifier::OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
  if (WatcherStarted(message)) TrayOf(self).Register();
  return 0;
}

void CStatusNotifier::SetLabels(const char* top, const char* bottom) {
  std::snprintf(topLabel, sizeof topLabel, "%s", top != nullptr ? top : "");
  std::snprintf(bottomLabel, sizeof bottomLabel, "%s", bottom != nullptr ? bottom : "");
}

void CStatusNotifier::ReplaceIcon(IconCode code, const char* newTooltip) {
  char text[sizeof tooltip];
  std::snprintf(text, sizeof text, "%s", newTooltip != nullptr ? newTooltip : "");
  // Every signal makes each host fetch the property again: the tooltip,
  // which is the same text at every change of the icon, is announced only
  // when its text is new.
  const bool tooltipChanged = std::strcmp(text, tooltip) != 0;
  std::memcpy(tooltip, text, sizeof text);
  MakeIconPixmaps(PaintIconRaster(topLabel, bottomLabel, code), pixmaps);
  if (!itemObject) return;
  Emit("NewIcon");
  if (tooltipChanged) Emit("NewToolTip");
}

void CStatusNotifier::Emit(const char* signal) {
  const int result = sd_bus_emit_signal(bus, SNI_ITEM_PATH, ITEM_INTERFACE, signal, "");
  if (result >= 0 || emitFailureReported) return;
  emitFailureReported = true;  // the next tick would fail alike
  std::fprintf(stderr, "gleamo: cannot tell the tray host of the new icon: %s\n", std::strerror(-result));
}

void CStatusNotifier::Remove() {
  registerCall.reset();
  watcherMatch.reset();
  if (nameOwned) sd_bus_release_name(bus, serviceName.c_str());
  nameOwned = false;
  menuObject.reset();
  itemObject.reset();
}
