#include "tray/status_notifier_linux.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
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

// Propagates the first failing sd-bus step of a message build.
#define TRY(call)                    \
  do {                               \
    const int result_ = (call);      \
    if (result_ < 0) return result_; \
  } while (0)

const TrayMenuItem* FindMenuItem(int id) {
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

bool IsMenuId(int id) {
  return id == MENU_ROOT_ID || FindMenuItem(id) != nullptr;
}

// Property names a caller asked for; none means all of them.
class PropertyFilter {
 public:
  explicit PropertyFilter(char** names) : names(names) {}
  ~PropertyFilter() {
    if (names == nullptr) return;
    for (char** name = names; *name != nullptr; ++name) free(*name);
    free(names);
  }
  PropertyFilter(const PropertyFilter&) = delete;
  PropertyFilter& operator=(const PropertyFilter&) = delete;

  bool Wants(const char* property) const {
    if (names == nullptr || *names == nullptr) return true;
    for (char** name = names; *name != nullptr; ++name) {
      if (std::strcmp(*name, property) == 0) return true;
    }
    return false;
  }

 private:
  char** names;
};

int AppendStringEntry(sd_bus_message* m, const PropertyFilter& filter, const char* key, const char* value) {
  if (!filter.Wants(key)) return 0;
  return sd_bus_message_append(m, "{sv}", key, "s", value);
}

int AppendBoolEntry(sd_bus_message* m, const PropertyFilter& filter, const char* key, bool value) {
  if (!filter.Wants(key)) return 0;
  return sd_bus_message_append(m, "{sv}", key, "b", static_cast<int>(value));
}

// a{sv}: the root says its children form a submenu; items carry a label and
// are enabled and visible.
int AppendMenuProperties(sd_bus_message* m, int id, const PropertyFilter& filter) {
  TRY(sd_bus_message_open_container(m, 'a', "{sv}"));
  if (id == MENU_ROOT_ID) {
    TRY(AppendStringEntry(m, filter, "children-display", "submenu"));
  } else if (const TrayMenuItem* item = FindMenuItem(id)) {
    TRY(AppendStringEntry(m, filter, "type", "standard"));
    TRY(AppendStringEntry(m, filter, "label", item->label));
    TRY(AppendBoolEntry(m, filter, "enabled", true));
    TRY(AppendBoolEntry(m, filter, "visible", true));
  }
  return sd_bus_message_close_container(m);
}

// (ia{sv}av): one item and, down to depth levels (-1: all), its children.
int AppendMenuLayout(sd_bus_message* m, int id, int depth, const PropertyFilter& filter) {
  TRY(sd_bus_message_open_container(m, 'r', "ia{sv}av"));
  TRY(sd_bus_message_append(m, "i", id));
  TRY(AppendMenuProperties(m, id, filter));
  TRY(sd_bus_message_open_container(m, 'a', "v"));
  if (id == MENU_ROOT_ID && depth != 0) {
    for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
      TRY(sd_bus_message_open_container(m, 'v', "(ia{sv}av)"));
      TRY(AppendMenuLayout(m, item.id, depth < 0 ? depth : depth - 1, filter));
      TRY(sd_bus_message_close_container(m));
    }
  }
  TRY(sd_bus_message_close_container(m));
  return sd_bus_message_close_container(m);
}

int AppendPixmap(sd_bus_message* m, int size, const std::uint8_t* argb) {
  TRY(sd_bus_message_open_container(m, 'r', "iiay"));
  TRY(sd_bus_message_append(m, "ii", size, size));
  TRY(sd_bus_message_append_array(m, 'y', argb, static_cast<std::size_t>(size * size * 4)));
  return sd_bus_message_close_container(m);
}

int InvalidId(sd_bus_error* error, int id) {
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no menu item with id %d", id);
}

}  // namespace

CStatusNotifier::CStatusNotifier(sd_bus* bus, CommandHandler onCommand) : bus(bus), onCommand(std::move(onCommand)) {
  char name[64];
  std::snprintf(name, sizeof name, "org.kde.StatusNotifierItem-%d-1", static_cast<int>(getpid()));
  serviceName = name;
}

CStatusNotifier::~CStatusNotifier() {
  Remove();
}

bool CStatusNotifier::Add() {
  static const sd_bus_vtable itemVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Category", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Id", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Title", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Status", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("WindowId", "i", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconThemePath", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconName", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconPixmap", "a(iiay)", &GetItemProperty, 0, 0),
      SD_BUS_PROPERTY("OverlayIconName", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("AttentionIconName", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("AttentionMovieName", "s", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", &GetItemProperty, 0, 0),
      SD_BUS_PROPERTY("ItemIsMenu", "b", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Menu", "o", &GetItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_METHOD("ContextMenu", "ii", "", &OnItemMethod, 0),
      SD_BUS_METHOD("Activate", "ii", "", &OnItemMethod, 0),
      SD_BUS_METHOD("SecondaryActivate", "ii", "", &OnItemMethod, 0),
      SD_BUS_METHOD("Scroll", "is", "", &OnItemMethod, 0),
      SD_BUS_SIGNAL("NewTitle", "", 0),
      SD_BUS_SIGNAL("NewIcon", "", 0),
      SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
      SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
      SD_BUS_SIGNAL("NewToolTip", "", 0),
      SD_BUS_SIGNAL("NewStatus", "s", 0),
      SD_BUS_VTABLE_END,
  };

  static const sd_bus_vtable menuVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Version", "u", &GetMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("TextDirection", "s", &GetMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Status", "s", &GetMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconThemePath", "as", &GetMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", &OnGetLayout, 0),
      SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", &OnGetGroupProperties, 0),
      SD_BUS_METHOD("GetProperty", "is", "v", &OnGetProperty, 0),
      SD_BUS_METHOD("Event", "isvu", "", &OnEvent, 0),
      SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", &OnEventGroup, 0),
      SD_BUS_METHOD("AboutToShow", "i", "b", &OnAboutToShow, 0),
      SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", &OnAboutToShowGroup, 0),
      SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
      SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
      SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
      SD_BUS_VTABLE_END,
  };

  sd_bus_slot* slot = nullptr;
  int result = sd_bus_add_object_vtable(bus, &slot, SNI_ITEM_PATH, ITEM_INTERFACE, itemVtable, this);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: cannot publish the tray item: %s\n", std::strerror(-result));
    return false;
  }
  itemObject.reset(slot);
  result = sd_bus_add_object_vtable(bus, &slot, SNI_MENU_PATH, MENU_INTERFACE, menuVtable, this);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: cannot publish the tray menu: %s\n", std::strerror(-result));
    return false;
  }
  menuObject.reset(slot);
  result = sd_bus_request_name(bus, serviceName.c_str(), 0);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: the session bus refused the name %s: %s\n", serviceName.c_str(),
                 std::strerror(-result));
    return false;
  }
  nameOwned = true;
  // A tray host that starts late, or restarts, brings a new watcher: register
  // with each one as it takes the name.
  char rule[256];
  std::snprintf(rule, sizeof rule,
                "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='%s'",
                SNI_WATCHER_NAME);
  result = sd_bus_add_match(bus, &slot, rule, &OnWatcherOwnerChanged, this);
  if (result >= 0) watcherMatch.reset(slot);
  Register();
  return true;
}

void CStatusNotifier::Register() {
  sd_bus_slot* slot = nullptr;
  const int result =
      sd_bus_call_method_async(bus, &slot, SNI_WATCHER_NAME, WATCHER_PATH, SNI_WATCHER_NAME,
                               "RegisterStatusNotifierItem", &OnRegisterReply, this, "s", serviceName.c_str());
  if (result >= 0) registerCall.reset(slot);
}

int CStatusNotifier::OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error* /*error*/) {
  auto* tray = static_cast<CStatusNotifier*>(self);
  const sd_bus_error* failure = sd_bus_message_get_error(reply);
  if (failure != nullptr && !tray->noWatcherReported) {
    tray->noWatcherReported = true;
    std::fprintf(stderr,
                 "gleamo: no StatusNotifierWatcher on the session bus (%s); the icon appears when a tray host "
                 "starts\n",
                 failure->message != nullptr ? failure->message : failure->name);
  }
  return 0;
}

int CStatusNotifier::OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* /*error*/) {
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (newOwner != nullptr && newOwner[0] != '\0') static_cast<CStatusNotifier*>(self)->Register();
  return 0;
}

void CStatusNotifier::SetLabels(const char* top, const char* bottom) {
  std::snprintf(topLabel, sizeof topLabel, "%s", top != nullptr ? top : "");
  std::snprintf(bottomLabel, sizeof bottomLabel, "%s", bottom != nullptr ? bottom : "");
}

void CStatusNotifier::ReplaceIcon(IconCode code, const char* tooltip) {
  char title[sizeof tooltipTitle];
  std::snprintf(title, sizeof title, "%s", tooltip != nullptr ? tooltip : "");
  // Every signal makes each host fetch the property again: the tooltip,
  // which is the same text at every change of the icon, is announced only
  // when its text is new.
  const bool newTooltip = std::strcmp(title, tooltipTitle) != 0;
  std::memcpy(tooltipTitle, title, sizeof title);
  MakeIconPixmaps(PaintIconRaster(topLabel, bottomLabel, code), pixmaps);
  if (!itemObject) return;
  sd_bus_emit_signal(bus, SNI_ITEM_PATH, ITEM_INTERFACE, "NewIcon", "");
  if (newTooltip) sd_bus_emit_signal(bus, SNI_ITEM_PATH, ITEM_INTERFACE, "NewToolTip", "");
}

void CStatusNotifier::Remove() {
  registerCall.reset();
  watcherMatch.reset();
  if (nameOwned) sd_bus_release_name(bus, serviceName.c_str());
  nameOwned = false;
  menuObject.reset();
  itemObject.reset();
}

int CStatusNotifier::GetItemProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                                     const char* property, sd_bus_message* reply, void* self, sd_bus_error* /*error*/) {
  auto* tray = static_cast<CStatusNotifier*>(self);
  const auto is = [property](const char* name) { return std::strcmp(property, name) == 0; };
  if (is("Category")) return sd_bus_message_append(reply, "s", "Hardware");
  if (is("Id")) return sd_bus_message_append(reply, "s", "gleamo");
  if (is("Title")) return sd_bus_message_append(reply, "s", SNI_TITLE);
  if (is("Status")) return sd_bus_message_append(reply, "s", "Active");
  if (is("WindowId")) return sd_bus_message_append(reply, "i", 0);
  if (is("ItemIsMenu")) return sd_bus_message_append(reply, "b", 1);
  if (is("Menu")) return sd_bus_message_append(reply, "o", SNI_MENU_PATH);
  if (is("IconPixmap")) {
    TRY(sd_bus_message_open_container(reply, 'a', "(iiay)"));
    TRY(AppendPixmap(reply, ICON_SIZE, tray->pixmaps.small.data()));
    TRY(AppendPixmap(reply, LARGE_ICON_SIZE, tray->pixmaps.large.data()));
    return sd_bus_message_close_container(reply);
  }
  if (is("ToolTip")) {
    // No icon of its own: hosts show the title beside the item's icon.
    return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, tray->tooltipTitle, "");
  }
  if (is("OverlayIconPixmap") || is("AttentionIconPixmap")) return sd_bus_message_append(reply, "a(iiay)", 0);
  return sd_bus_message_append(reply, "s", "");  // the icon, overlay, attention and theme names: none
}

int CStatusNotifier::OnItemMethod(sd_bus_message* call, void* /*self*/, sd_bus_error* /*error*/) {
  // Activation and scrolling mean nothing to a lamp; the menu comes from
  // the host through dbusmenu.
  return sd_bus_reply_method_return(call, "");
}

int CStatusNotifier::GetMenuProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                                     const char* property, sd_bus_message* reply, void* /*self*/,
                                     sd_bus_error* /*error*/) {
  if (std::strcmp(property, "Version") == 0) return sd_bus_message_append(reply, "u", MENU_VERSION);
  if (std::strcmp(property, "TextDirection") == 0) return sd_bus_message_append(reply, "s", "ltr");
  if (std::strcmp(property, "Status") == 0) return sd_bus_message_append(reply, "s", "normal");
  return sd_bus_message_append(reply, "as", 0);  // IconThemePath
}

int CStatusNotifier::OnGetLayout(sd_bus_message* call, void* /*self*/, sd_bus_error* error) {
  int parentId = 0;
  int depth = 0;
  char** names = nullptr;
  TRY(sd_bus_message_read(call, "ii", &parentId, &depth));
  TRY(sd_bus_message_read_strv(call, &names));
  const PropertyFilter filter(names);
  if (!IsMenuId(parentId)) return InvalidId(error, parentId);

  sd_bus_message* reply = nullptr;
  TRY(sd_bus_message_new_method_return(call, &reply));
  unique_handle<sd_bus_message*, call_release<&sd_bus_message_unref>> owned(reply);
  TRY(sd_bus_message_append(reply, "u", MENU_REVISION));
  TRY(AppendMenuLayout(reply, parentId, depth, filter));
  return sd_bus_send(nullptr, reply, nullptr);
}

int CStatusNotifier::OnGetGroupProperties(sd_bus_message* call, void* /*self*/, sd_bus_error* /*error*/) {
  const void* idData = nullptr;
  std::size_t idBytes = 0;
  char** names = nullptr;
  TRY(sd_bus_message_read_array(call, 'i', &idData, &idBytes));
  std::vector<int> ids(static_cast<const int*>(idData), static_cast<const int*>(idData) + idBytes / sizeof(int));
  TRY(sd_bus_message_read_strv(call, &names));
  const PropertyFilter filter(names);
  if (ids.empty()) {  // no ids: every item
    ids.push_back(MENU_ROOT_ID);
    for (const TrayMenuItem& item : TRAY_MENU_ITEMS) ids.push_back(item.id);
  }

  sd_bus_message* reply = nullptr;
  TRY(sd_bus_message_new_method_return(call, &reply));
  unique_handle<sd_bus_message*, call_release<&sd_bus_message_unref>> owned(reply);
  TRY(sd_bus_message_open_container(reply, 'a', "(ia{sv})"));
  for (int id : ids) {
    if (!IsMenuId(id)) continue;  // unknown ids are left out
    TRY(sd_bus_message_open_container(reply, 'r', "ia{sv}"));
    TRY(sd_bus_message_append(reply, "i", id));
    TRY(AppendMenuProperties(reply, id, filter));
    TRY(sd_bus_message_close_container(reply));
  }
  TRY(sd_bus_message_close_container(reply));
  return sd_bus_send(nullptr, reply, nullptr);
}

int CStatusNotifier::OnGetProperty(sd_bus_message* call, void* /*self*/, sd_bus_error* error) {
  int id = 0;
  const char* name = nullptr;
  TRY(sd_bus_message_read(call, "is", &id, &name));
  const TrayMenuItem* item = FindMenuItem(id);
  if (!IsMenuId(id)) return InvalidId(error, id);
  if (id == MENU_ROOT_ID && std::strcmp(name, "children-display") == 0) {
    return sd_bus_reply_method_return(call, "v", "s", "submenu");
  }
  if (item != nullptr) {
    if (std::strcmp(name, "label") == 0) return sd_bus_reply_method_return(call, "v", "s", item->label);
    if (std::strcmp(name, "type") == 0) return sd_bus_reply_method_return(call, "v", "s", "standard");
    if (std::strcmp(name, "enabled") == 0 || std::strcmp(name, "visible") == 0) {
      return sd_bus_reply_method_return(call, "v", "b", 1);
    }
  }
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "menu item %d has no property %s", id, name);
}

bool CStatusNotifier::HandleEvent(int id, const char* eventId) {
  if (!IsMenuId(id)) return false;
  if (id != MENU_ROOT_ID && std::strcmp(eventId, "clicked") == 0 && onCommand) onCommand(id);
  return true;
}

int CStatusNotifier::OnEvent(sd_bus_message* call, void* self, sd_bus_error* error) {
  int id = 0;
  const char* eventId = nullptr;
  TRY(sd_bus_message_read(call, "is", &id, &eventId));
  if (!IsMenuId(id)) return InvalidId(error, id);
  // Answer first: a command may end the program.
  TRY(sd_bus_reply_method_return(call, ""));
  static_cast<CStatusNotifier*>(self)->HandleEvent(id, eventId);
  return 1;
}

int CStatusNotifier::OnEventGroup(sd_bus_message* call, void* self, sd_bus_error* /*error*/) {
  struct Event {
    int id;
    std::string eventId;
  };
  std::vector<Event> events;
  TRY(sd_bus_message_enter_container(call, 'a', "(isvu)"));
  for (;;) {
    int entered = sd_bus_message_enter_container(call, 'r', "isvu");
    TRY(entered);
    if (entered == 0) break;
    int id = 0;
    const char* eventId = nullptr;
    TRY(sd_bus_message_read(call, "is", &id, &eventId));
    events.push_back({id, eventId});
    TRY(sd_bus_message_skip(call, "vu"));
    TRY(sd_bus_message_exit_container(call));
  }
  TRY(sd_bus_message_exit_container(call));

  std::vector<int> unknown;
  for (const Event& event : events) {
    if (!IsMenuId(event.id)) unknown.push_back(event.id);
  }
  sd_bus_message* reply = nullptr;
  TRY(sd_bus_message_new_method_return(call, &reply));
  unique_handle<sd_bus_message*, call_release<&sd_bus_message_unref>> owned(reply);
  TRY(sd_bus_message_append_array(reply, 'i', unknown.data(), unknown.size() * sizeof(int)));
  TRY(sd_bus_send(nullptr, reply, nullptr));
  for (const Event& event : events) static_cast<CStatusNotifier*>(self)->HandleEvent(event.id, event.eventId.c_str());
  return 1;
}

int CStatusNotifier::OnAboutToShow(sd_bus_message* call, void* /*self*/, sd_bus_error* error) {
  int id = 0;
  TRY(sd_bus_message_read(call, "i", &id));
  if (!IsMenuId(id)) return InvalidId(error, id);
  return sd_bus_reply_method_return(call, "b", 0);  // the menu never needs an update
}

int CStatusNotifier::OnAboutToShowGroup(sd_bus_message* call, void* /*self*/, sd_bus_error* /*error*/) {
  const void* idData = nullptr;
  std::size_t idBytes = 0;
  TRY(sd_bus_message_read_array(call, 'i', &idData, &idBytes));
  std::vector<int> unknown;
  for (std::size_t i = 0; i < idBytes / sizeof(int); ++i) {
    const int id = static_cast<const int*>(idData)[i];
    if (!IsMenuId(id)) unknown.push_back(id);
  }
  sd_bus_message* reply = nullptr;
  TRY(sd_bus_message_new_method_return(call, &reply));
  unique_handle<sd_bus_message*, call_release<&sd_bus_message_unref>> owned(reply);
  TRY(sd_bus_message_append_array(reply, 'i', nullptr, 0));  // no item needs an update
  TRY(sd_bus_message_append_array(reply, 'i', unknown.data(), unknown.size() * sizeof(int)));
  return sd_bus_send(nullptr, reply, nullptr);
}
