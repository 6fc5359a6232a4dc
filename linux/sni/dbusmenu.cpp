#include "linux/sni/dbusmenu.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "linux/sni/bus_reply.h"

namespace {

constexpr char MENU_INTERFACE[] = "com.canonical.dbusmenu";
constexpr int MENU_ROOT_ID = 0;
constexpr std::uint32_t MENU_VERSION = 3;
constexpr std::uint32_t MENU_REVISION = 1;  // the menu never changes
constexpr char MENU_TEXT_DIRECTION[] = "ltr";
constexpr char MENU_STATUS[] = "normal";

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

// Property names a caller asked for, pointing into its call; none means
// all of them.
using PropertyNames = std::vector<const char*>;

bool Wants(const PropertyNames& names, const char* property) {
  if (names.empty()) return true;
  return std::any_of(names.begin(), names.end(),
                     [property](const char* name) { return std::strcmp(name, property) == 0; });
}

int AppendStringEntry(sd_bus_message* m, const PropertyNames& names, const char* key, const char* value) {
  if (!Wants(names, key)) return 0;
  return sd_bus_message_append(m, "{sv}", key, "s", value);
}

int AppendBoolEntry(sd_bus_message* m, const PropertyNames& names, const char* key, bool value) {
  if (!Wants(names, key)) return 0;
  return sd_bus_message_append(m, "{sv}", key, "b", static_cast<int>(value));
}

// a{sv}: the root says its children form a submenu; items carry a label and
// are enabled and visible.
int AppendMenuProperties(sd_bus_message* m, int id, const PropertyNames& names) {
  BUS_TRY(sd_bus_message_open_container(m, 'a', "{sv}"));
  if (id == MENU_ROOT_ID) {
    BUS_TRY(AppendStringEntry(m, names, "children-display", "submenu"));
  } else if (const TrayMenuItem* item = FindMenuItem(id)) {
    BUS_TRY(AppendStringEntry(m, names, "type", "standard"));
    BUS_TRY(AppendStringEntry(m, names, "label", item->label));
    BUS_TRY(AppendBoolEntry(m, names, "enabled", true));
    BUS_TRY(AppendBoolEntry(m, names, "visible", true));
  }
  return sd_bus_message_close_container(m);
}

// (ia{sv}av): one item and, down to depth levels (-1: all), its children.
int AppendMenuLayout(sd_bus_message* m, int id, int depth, const PropertyNames& names) {
  BUS_TRY(sd_bus_message_open_container(m, 'r', "ia{sv}av"));
  BUS_TRY(sd_bus_message_append(m, "i", id));
  BUS_TRY(AppendMenuProperties(m, id, names));
  BUS_TRY(sd_bus_message_open_container(m, 'a', "v"));
  if (id == MENU_ROOT_ID && depth != 0) {
    for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
      BUS_TRY(sd_bus_message_open_container(m, 'v', "(ia{sv}av)"));
      BUS_TRY(AppendMenuLayout(m, item.id, depth < 0 ? depth : depth - 1, names));
      BUS_TRY(sd_bus_message_close_container(m));
    }
  }
  BUS_TRY(sd_bus_message_close_container(m));
  return sd_bus_message_close_container(m);
}

int GetMenuVersion(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "u", MENU_VERSION);
}

int GetNoThemePath(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "as", 0);
}

// The most ids, events or property names one call may name. The menu has
// four ids and eight properties, and hosts ask for a handful; a call naming
// thousands is answered with an error rather than a reply the bus would
// refuse, which would cost the connection and the icon with it.
constexpr std::size_t MENU_REQUEST_LIMIT = 256;

int TooMany(sd_bus_error* error, std::size_t count, const char* what) {
  return sd_bus_error_setf(error, SD_BUS_ERROR_LIMITS_EXCEEDED, "%zu %s in one call; at most %zu are answered", count,
                           what, MENU_REQUEST_LIMIT);
}

// The ids of an array argument, each menu id once in the order first named,
// and the unknown ones each once; or a negative errno or the limit's error.
struct SortedIds {
  std::vector<int> known;
  std::vector<int> unknown;
};
int ReadIds(sd_bus_message* call, sd_bus_error* error, SortedIds& ids) {
  const void* data = nullptr;
  std::size_t bytes = 0;
  BUS_TRY(sd_bus_message_read_array(call, 'i', &data, &bytes));
  const std::size_t count = bytes / sizeof(int);
  if (count > MENU_REQUEST_LIMIT) return TooMany(error, count, "ids");
  for (std::size_t i = 0; i < count; ++i) {
    int id = 0;
    std::memcpy(&id, static_cast<const char*>(data) + i * sizeof(int), sizeof id);
    std::vector<int>& list = IsMenuId(id) ? ids.known : ids.unknown;
    if (std::find(list.begin(), list.end(), id) == list.end()) list.push_back(id);
  }
  return 0;
}

// Read name by name, kept only up to the limit: copying a call's every name
// first would cost time and memory growing with its size.
int ReadNames(sd_bus_message* call, sd_bus_error* error, PropertyNames& names) {
  BUS_TRY(sd_bus_message_enter_container(call, 'a', "s"));
  std::size_t count = 0;
  for (const char* name = nullptr;;) {
    const int result = sd_bus_message_read(call, "s", &name);
    BUS_TRY(result);
    if (result == 0) break;
    if (++count <= MENU_REQUEST_LIMIT) names.push_back(name);
  }
  BUS_TRY(sd_bus_message_exit_container(call));
  return count > MENU_REQUEST_LIMIT ? TooMany(error, count, "property names") : 0;
}

int OnGetLayout(sd_bus_message* call, void*, sd_bus_error* error) {
  int parentId = 0;
  int depth = 0;
  PropertyNames names;
  BUS_TRY(sd_bus_message_read(call, "ii", &parentId, &depth));
  BUS_TRY(ReadNames(call, error, names));
  if (!IsMenuId(parentId)) return InvalidId(error, parentId);

  unique_bus_message reply;
  BUS_TRY(sd_bus_message_new_method_return(call, reply.put()));
  BUS_TRY(sd_bus_message_append(reply.get(), "u", MENU_REVISION));
  BUS_TRY(AppendMenuLayout(reply.get(), parentId, depth, names));
  return sd_bus_send(nullptr, reply.get(), nullptr);
}

int OnGetGroupProperties(sd_bus_message* call, void*, sd_bus_error* error) {
  SortedIds ids;
  PropertyNames names;
  BUS_TRY(ReadIds(call, error, ids));
  BUS_TRY(ReadNames(call, error, names));
  if (ids.known.empty() && ids.unknown.empty()) {  // no ids: every item
    ids.known.push_back(MENU_ROOT_ID);
    for (const TrayMenuItem& item : TRAY_MENU_ITEMS) ids.known.push_back(item.id);
  }

  unique_bus_message reply;
  BUS_TRY(sd_bus_message_new_method_return(call, reply.put()));
  BUS_TRY(sd_bus_message_open_container(reply.get(), 'a', "(ia{sv})"));
  for (int id : ids.known) {  // unknown ids are left out
    BUS_TRY(sd_bus_message_open_container(reply.get(), 'r', "ia{sv}"));
    BUS_TRY(sd_bus_message_append(reply.get(), "i", id));
    BUS_TRY(AppendMenuProperties(reply.get(), id, names));
    BUS_TRY(sd_bus_message_close_container(reply.get()));
  }
  BUS_TRY(sd_bus_message_close_container(reply.get()));
  return sd_bus_send(nullptr, reply.get(), nullptr);
}

int OnGetProperty(sd_bus_message* call, void*, sd_bus_error* error) {
  int id = 0;
  const char* name = nullptr;
  BUS_TRY(sd_bus_message_read(call, "is", &id, &name));
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
  BUS_TRY(sd_bus_message_read(call, "is", &id, &eventId));
  if (!IsMenuId(id)) return InvalidId(error, id);
  // Answer first: a command may end the program.
  BUS_TRY(sd_bus_reply_method_return(call, ""));
  RunIfClicked(userdata, id, eventId);
  return 1;
}

int OnEventGroup(sd_bus_message* call, void* userdata, sd_bus_error* error) {
  // One group is one gesture: each item clicked in it runs its command once.
  std::vector<int> clicked;
  std::vector<int> unknown;
  std::size_t count = 0;
  BUS_TRY(sd_bus_message_enter_container(call, 'a', "(isvu)"));
  for (;;) {
    const int entered = sd_bus_message_enter_container(call, 'r', "isvu");
    BUS_TRY(entered);
    if (entered == 0) break;
    if (++count > MENU_REQUEST_LIMIT) return TooMany(error, count, "events");
    int id = 0;
    const char* eventId = nullptr;
    BUS_TRY(sd_bus_message_read(call, "is", &id, &eventId));
    std::vector<int>& list = !IsMenuId(id) ? unknown : clicked;
    const bool counts = !IsMenuId(id) || (id != MENU_ROOT_ID && std::strcmp(eventId, "clicked") == 0);
    if (counts && std::find(list.begin(), list.end(), id) == list.end()) list.push_back(id);
    BUS_TRY(sd_bus_message_skip(call, "vu"));
    BUS_TRY(sd_bus_message_exit_container(call));
  }
  BUS_TRY(sd_bus_message_exit_container(call));

  unique_bus_message reply;
  BUS_TRY(sd_bus_message_new_method_return(call, reply.put()));
  BUS_TRY(sd_bus_message_append_array(reply.get(), 'i', unknown.data(), unknown.size() * sizeof(int)));
  BUS_TRY(sd_bus_send(nullptr, reply.get(), nullptr));
  for (int id : clicked) RunIfClicked(userdata, id, "clicked");
  return 1;
}

int OnAboutToShow(sd_bus_message* call, void*, sd_bus_error* error) {
  int id = 0;
  BUS_TRY(sd_bus_message_read(call, "i", &id));
  if (!IsMenuId(id)) return InvalidId(error, id);
  return sd_bus_reply_method_return(call, "b", 0);  // the menu never needs an update
}

int OnAboutToShowGroup(sd_bus_message* call, void*, sd_bus_error* error) {
  SortedIds ids;
  BUS_TRY(ReadIds(call, error, ids));
  unique_bus_message reply;
  BUS_TRY(sd_bus_message_new_method_return(call, reply.put()));
  BUS_TRY(sd_bus_message_append_array(reply.get(), 'i', nullptr, 0));  // no item needs an update
  BUS_TRY(sd_bus_message_append_array(reply.get(), 'i', ids.unknown.data(), ids.unknown.size() * sizeof(int)));
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

CDbusMenu::CDbusMenu(CTrayIcon::CommandHandler onCommand) : onCommand(std::move(onCommand)) {}

int CDbusMenu::Publish(sd_bus* bus) {
  return sd_bus_add_object_vtable(bus, object.put(), SNI_MENU_PATH, MENU_INTERFACE, MENU_VTABLE, &onCommand);
}
