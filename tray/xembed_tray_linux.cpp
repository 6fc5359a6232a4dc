#include "tray/xembed_tray_linux.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tray/icon_pixmap_linux.h"
#include "tray/status_notifier_linux.h"

namespace {

constexpr std::uint32_t SYSTEM_TRAY_REQUEST_DOCK = 0;
constexpr std::uint32_t XEMBED_MAPPED = 1;

constexpr Rgb MENU_BACKGROUND{240, 240, 240};
constexpr Rgb MENU_TEXT{0, 0, 0};
constexpr Rgb MENU_HIGHLIGHT{48, 96, 176};
constexpr Rgb MENU_HIGHLIGHT_TEXT{255, 255, 255};
constexpr int MENU_PADDING_X = 10;
constexpr int MENU_PADDING_Y = 4;
constexpr int MENU_ITEM_COUNT = static_cast<int>(TRAY_MENU_ITEMS.size());

// Keysyms of the keys the menu answers.
constexpr std::uint32_t KEYSYM_RETURN = 0xff0d, KEYSYM_ESCAPE = 0xff1b, KEYSYM_UP = 0xff52, KEYSYM_DOWN = 0xff54,
                        KEYSYM_KP_ENTER = 0xff8d, KEYSYM_KP_UP = 0xff97, KEYSYM_KP_DOWN = 0xff99;

// Replies and events are malloc'd by XCB and freed by their reader.
template <typename T>
using unique_reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T>
unique_reply<T> Reply(T* reply) {
  return unique_reply<T>(reply, &std::free);
}

std::uint32_t Channel(std::uint8_t value, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const std::uint32_t top = mask >> shift;
  return ((value * top + 127) / 255) << shift;
}

const xcb_visualtype_t* FindVisual(const xcb_screen_t* screen, xcb_visualid_t id, std::uint8_t& depth) {
  for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
    for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
      if (visuals.data->visual_id == id) {
        depth = depths.data->depth;
        return visuals.data;
      }
    }
  }
  return nullptr;
}

PixelFormat FormatOf(const xcb_visualtype_t& visual, std::uint8_t depth) {
  PixelFormat format;
  format.redMask = visual.red_mask;
  format.greenMask = visual.green_mask;
  format.blueMask = visual.blue_mask;
  const std::uint32_t depthMask = depth >= 32 ? 0xFFFFFFFFu : (1u << depth) - 1;
  format.alphaMask = depthMask & ~(visual.red_mask | visual.green_mask | visual.blue_mask);
  return format;
}

}  // namespace

std::uint32_t PixelFormat::PixelOf(Rgb color) const {
  return Channel(color.red, redMask) | Channel(color.green, greenMask) | Channel(color.blue, blueMask) | alphaMask;
}

WindowPlacement PlaceIconInWindow(int width, int height) {
  const int canvas = std::min(width, height);
  const IconPlacement placement = PlaceIcon(canvas);
  return {placement.factor, (width - canvas) / 2 + placement.offset, (height - canvas) / 2 + placement.offset};
}

std::unique_ptr<CXEmbedTray> CXEmbedTray::Connect(sd_event* event, CommandHandler onCommand) {
  int screenNumber = 0;
  unique_xcb_connection connection(xcb_connect(nullptr, &screenNumber));
  // XCB hands back an object in an error state rather than null.
  if (xcb_connection_has_error(connection.get())) return nullptr;
  std::unique_ptr<CXEmbedTray> tray(new CXEmbedTray(std::move(connection), screenNumber, std::move(onCommand)));
  if (tray->screen == nullptr || !tray->Listen(event)) return nullptr;
  return tray;
}

CXEmbedTray::CXEmbedTray(unique_xcb_connection connection, int screenNumber, CommandHandler onCommand)
    : connection(std::move(connection)), onCommand(std::move(onCommand)) {
  xcb_connection_t* c = this->connection.get();
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  if (roots.rem == 0) return;
  screen = roots.data;
  std::uint8_t depth = 0;
  if (const xcb_visualtype_t* visual = FindVisual(screen, screen->root_visual, depth)) {
    screenFormat = FormatOf(*visual, depth);
    screenFormat.alphaMask = 0;
  }

  char selection[32];
  std::snprintf(selection, sizeof selection, "_NET_SYSTEM_TRAY_S%d", screenNumber);
  const char* names[ATOM_COUNT] = {
      selection,    "_NET_SYSTEM_TRAY_OPCODE", "_NET_SYSTEM_TRAY_VISUAL", "MANAGER", "_XEMBED_INFO", "_NET_WM_NAME",
      "UTF8_STRING"};
  xcb_intern_atom_cookie_t cookies[ATOM_COUNT];
  for (int i = 0; i < ATOM_COUNT; ++i) {
    cookies[i] = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
  }
  for (int i = 0; i < ATOM_COUNT; ++i) {
    auto reply = Reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
    atoms[static_cast<std::size_t>(i)] = reply ? reply->atom : XCB_NONE;
  }
}

CXEmbedTray::~CXEmbedTray() {
  // Closing the connection destroys every window of ours: the tray drops
  // the icon, and a menu still open goes with its grabs.
  readable.reset();
}

bool CXEmbedTray::Listen(sd_event* event) {
  loop = event;
  const int fd = xcb_get_file_descriptor(connection.get());
  if (sd_event_add_io(event, readable.put(), fd, EPOLLIN, &OnReadable, this) < 0) return false;
  // Replies read while waiting for another can bring events along, which
  // then wait in XCB's queue, not on the socket: look there before every
  // sleep, and send what the handlers asked for.
  sd_event_source_set_prepare(readable.get(), &OnPrepare);
  return true;
}

int CXEmbedTray::OnPrepare(sd_event_source* /*source*/, void* self) {
  auto* tray = static_cast<CXEmbedTray*>(self);
  while (auto event = Reply(xcb_poll_for_queued_event(tray->connection.get()))) tray->Dispatch(event.get());
  xcb_flush(tray->connection.get());
  return 0;
}

int CXEmbedTray::OnReadable(sd_event_source* /*source*/, int /*fd*/, std::uint32_t /*events*/, void* self) {
  auto* tray = static_cast<CXEmbedTray*>(self);
  while (auto event = Reply(xcb_poll_for_event(tray->connection.get()))) tray->Dispatch(event.get());
  if (xcb_connection_has_error(tray->connection.get())) {
    // The X server went away, and the session with it.
    std::fprintf(stderr, "gleamo: lost the connection to the X display\n");
    tray->readable.reset();
    sd_event_exit(tray->loop, 0);
    return 0;
  }
  xcb_flush(tray->connection.get());
  return 0;
}

bool CXEmbedTray::TrayPresent() {
  xcb_connection_t* c = connection.get();
  auto reply = Reply(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atoms[TRAY_SELECTION]), nullptr));
  return reply && reply->owner != XCB_NONE;
}

bool CXEmbedTray::Add() {
  xcb_connection_t* c = connection.get();
  // A tray that starts later announces itself with a MANAGER message to
  // the root window's StructureNotify listeners.
  const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &rootEvents);
  auto reply = Reply(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atoms[TRAY_SELECTION]), nullptr));
  if (!reply) return false;
  if (reply->owner != XCB_NONE) Dock(reply->owner);
  xcb_flush(c);
  return true;
}

void CXEmbedTray::Dock(xcb_window_t owner) {
  xcb_connection_t* c = connection.get();
  // Told when this tray goes away; a tray already gone refuses the request.
  const std::uint32_t ownerEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  if (auto error = Reply(
          xcb_request_check(c, xcb_change_window_attributes_checked(c, owner, XCB_CW_EVENT_MASK, &ownerEvents)))) {
    return;
  }
  manager = owner;

  xcb_visualid_t visual = screen->root_visual;
  auto property = Reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, owner, atoms[TRAY_VISUAL], XCB_ATOM_VISUALID, 0, 1), nullptr));
  if (property && property->format == 32 && xcb_get_property_value_length(property.get()) >= 4) {
    visual = *static_cast<const xcb_visualid_t*>(xcb_get_property_value(property.get()));
  }
  CreateIconWindow(visual);

  xcb_client_message_event_t request{};
  request.response_type = XCB_CLIENT_MESSAGE;
  request.format = 32;
  request.window = owner;
  request.type = atoms[TRAY_OPCODE];
  request.data.data32[0] = XCB_CURRENT_TIME;
  request.data.data32[1] = SYSTEM_TRAY_REQUEST_DOCK;
  request.data.data32[2] = icon;
  xcb_send_event(c, 0, owner, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
  xcb_flush(c);
}

void CXEmbedTray::CreateIconWindow(xcb_visualid_t visual) {
  xcb_connection_t* c = connection.get();
  std::uint8_t depth = screen->root_depth;
  const xcb_visualtype_t* type = FindVisual(screen, visual, depth);
  if (type == nullptr || type->_class != XCB_VISUAL_CLASS_TRUE_COLOR) {
    visual = screen->root_visual;
    type = FindVisual(screen, visual, depth);
  }
  iconFormat = FormatOf(*type, depth);
  // An ARGB visual lets the tray blend the icon over whatever it draws;
  // otherwise the window takes its parent's background, the tray's.
  iconTransparent = iconFormat.alphaMask != 0;
  if (!iconTransparent) iconFormat.alphaMask = 0;

  icon = xcb_generate_id(c);
  std::uint32_t mask = XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK;
  std::vector<std::uint32_t> values;
  if (iconTransparent) {
    mask |= XCB_CW_BACK_PIXEL;
    values.push_back(0);
  } else if (depth == screen->root_depth) {
    mask |= XCB_CW_BACK_PIXMAP;
    values.push_back(XCB_BACK_PIXMAP_PARENT_RELATIVE);
  }
  values.push_back(0);  // border
  values.push_back(XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_BUTTON_PRESS |
                   XCB_EVENT_MASK_BUTTON_RELEASE);
  if (visual != screen->root_visual) {
    iconColormap = xcb_generate_id(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, iconColormap, screen->root, visual);
    mask |= XCB_CW_COLORMAP;
    values.push_back(iconColormap);
  }
  xcb_create_window(c, depth, icon, screen->root, 0, 0, static_cast<std::uint16_t>(iconWidth),
                    static_cast<std::uint16_t>(iconHeight), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual, mask,
                    values.data());
  iconGc = xcb_generate_id(c);
  xcb_create_gc(c, iconGc, icon, 0, nullptr);

  // The tray maps the window itself when the icon asks to be shown.
  const std::uint32_t xembedInfo[2] = {0, XEMBED_MAPPED};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, icon, atoms[XEMBED_INFO], atoms[XEMBED_INFO], 32, 2, xembedInfo);
  // Trays that size icons by their hints (GTK's sockets) would give a
  // window without them one pixel.
  SetSizeHints(ICON_SIZE);
  // Named, for trays that list their icons and for tools that look for it.
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, icon, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 6, "gleamo");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, icon, atoms[NET_WM_NAME], atoms[UTF8_STRING], 8, 6, "gleamo");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, icon, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 14, "gleamo\0gleamo");
}

void CXEmbedTray::SetSizeHints(int side) {
  // WM_SIZE_HINTS: flags, four unused, minimum size, ..., base size, gravity.
  constexpr std::uint32_t MIN_SIZE = 1u << 4, BASE_SIZE = 1u << 8;
  std::uint32_t hints[18] = {MIN_SIZE | BASE_SIZE};
  hints[5] = hints[6] = static_cast<std::uint32_t>(side);
  hints[15] = hints[16] = static_cast<std::uint32_t>(side);
  xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, icon, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                      32, 18, hints);
  hintedSide = side;
}

void CXEmbedTray::Undock() {
  xcb_connection_t* c = connection.get();
  CloseMenu();
  // Destroyed rather than left on the root window, where a vanished tray's
  // save-set would put it; the next tray gets a fresh one in its visual.
  if (icon != XCB_NONE) xcb_destroy_window(c, icon);
  if (iconGc != XCB_NONE) xcb_free_gc(c, iconGc);
  if (iconColormap != XCB_NONE) xcb_free_colormap(c, iconColormap);
  icon = XCB_NONE;
  iconGc = XCB_NONE;
  iconColormap = XCB_NONE;
  manager = XCB_NONE;
}

void CXEmbedTray::SetLabels(const char* top, const char* bottom) {
  std::snprintf(topLabel, sizeof topLabel, "%s", top != nullptr ? top : "");
  std::snprintf(bottomLabel, sizeof bottomLabel, "%s", bottom != nullptr ? bottom : "");
}

void CXEmbedTray::ReplaceIcon(IconCode code, const char* /*tooltip*/) {
  raster = PaintIconRaster(topLabel, bottomLabel, code);
  PaintIcon();
}

void CXEmbedTray::PaintIcon() {
  if (icon == XCB_NONE) return;
  xcb_connection_t* c = connection.get();
  xcb_clear_area(c, 0, icon, 0, 0, 0, 0);

  const WindowPlacement placement = PlaceIconInWindow(iconWidth, iconHeight);
  const int left = placement.left;
  const int top = placement.top;

  // Runs of one colour along each row, one request per colour.
  std::vector<std::pair<Rgb, std::vector<xcb_rectangle_t>>> byColor;
  for (int y = 0; y < ICON_SIZE; ++y) {
    for (int x = 0; x < ICON_SIZE;) {
      if (!raster.OpaqueAt(x, y)) {
        ++x;
        continue;
      }
      const Rgb color = raster.ColorAt(x, y);
      int end = x + 1;
      while (end < ICON_SIZE && raster.OpaqueAt(end, y) && raster.ColorAt(end, y) == color) ++end;
      auto group = std::find_if(byColor.begin(), byColor.end(), [color](const auto& g) { return g.first == color; });
      if (group == byColor.end()) group = byColor.insert(byColor.end(), {color, {}});
      group->second.push_back({static_cast<std::int16_t>(left + x * placement.factor),
                               static_cast<std::int16_t>(top + y * placement.factor),
                               static_cast<std::uint16_t>((end - x) * placement.factor),
                               static_cast<std::uint16_t>(placement.factor)});
      x = end;
    }
  }
  for (const auto& [color, rectangles] : byColor) {
    const std::uint32_t foreground = iconFormat.PixelOf(color);
    xcb_change_gc(c, iconGc, XCB_GC_FOREGROUND, &foreground);
    xcb_poly_fill_rectangle(c, icon, iconGc, static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
  }
  xcb_flush(c);
}

void CXEmbedTray::Dispatch(xcb_generic_event_t* event) {
  switch (event->response_type & 0x7F) {
    case XCB_EXPOSE: {
      const auto* expose = reinterpret_cast<xcb_expose_event_t*>(event);
      if (expose->count != 0) break;
      if (expose->window == icon) PaintIcon();
      if (expose->window == menu) DrawMenu();
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
      if (configure->window != icon) break;
      if (configure->width == iconWidth && configure->height == iconHeight) break;
      iconWidth = configure->width;
      iconHeight = configure->height;
      // A tray that gives icons its height (or width) but takes the other
      // side from the hints gets asked for a square, as its other icons are.
      const int longSide = std::max(iconWidth, iconHeight);
      if (std::min(iconWidth, iconHeight) == hintedSide && longSide != hintedSide) SetSizeHints(longSide);
      PaintIcon();
      break;
    }
    case XCB_REPARENT_NOTIFY: {
      // A tray that gives the icon back without going away (its tray
      // closed, the panel kept): wait for the next one.
      const auto* reparent = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
      if (reparent->window == icon && reparent->parent == screen->root && manager != XCB_NONE) Undock();
      break;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto* destroy = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
      if (destroy->window == manager && manager != XCB_NONE) Undock();
      break;
    }
    case XCB_CLIENT_MESSAGE: {
      const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
      // A tray took the selection: the old one is gone or going.
      if (message->type != atoms[MANAGER] || message->data.data32[1] != atoms[TRAY_SELECTION]) break;
      const xcb_window_t owner = message->data.data32[2];
      if (owner == manager) break;
      Undock();
      Dock(owner);  // painted when the tray maps the new window
      break;
    }
    case XCB_BUTTON_PRESS: {
      const auto* press = reinterpret_cast<xcb_button_press_event_t*>(event);
      if (press->event != menu || menu == XCB_NONE) break;
      pressedInMenu = MenuItemAt(press->event_x, press->event_y) >= 0;
      if (!pressedInMenu) CloseMenu();  // a click outside
      break;
    }
    case XCB_BUTTON_RELEASE: {
      const auto* release = reinterpret_cast<xcb_button_release_event_t*>(event);
      if (release->event == icon && menu == XCB_NONE && (release->detail == 1 || release->detail == 3)) {
        OpenMenu(release->root_x, release->root_y);
      } else if (release->event == menu && menu != XCB_NONE && pressedInMenu) {
        const int item = MenuItemAt(release->event_x, release->event_y);
        if (item >= 0) ChooseMenuItem(item);
      }
      break;
    }
    case XCB_MOTION_NOTIFY: {
      const auto* motion = reinterpret_cast<xcb_motion_notify_event_t*>(event);
      if (motion->event == menu && menu != XCB_NONE) SelectMenuItem(MenuItemAt(motion->event_x, motion->event_y));
      break;
    }
    case XCB_KEY_PRESS: {
      const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
      if (menu != XCB_NONE) OnMenuKey(key->detail);
      break;
    }
    default: break;
  }
}

void CXEmbedTray::OpenMenu(int rootX, int rootY) {
  xcb_connection_t* c = connection.get();
  if (menuFont == XCB_NONE) {
    // The server's own fixed font, 6x13 on every X server: no font files,
    // no client-side rendering.
    menuFont = xcb_generate_id(c);
    xcb_open_font(c, menuFont, 5, "fixed");
  }
  int textWidth = 0;
  int ascent = 11, descent = 2;
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
    std::vector<xcb_char2b_t> text;
    for (const char* p = item.label; *p != '\0'; ++p) text.push_back({0, static_cast<std::uint8_t>(*p)});
    auto extents = Reply(xcb_query_text_extents_reply(
        c, xcb_query_text_extents(c, menuFont, static_cast<std::uint32_t>(text.size()), text.data()), nullptr));
    if (!extents) continue;
    textWidth = std::max(textWidth, static_cast<int>(extents->overall_width));
    ascent = extents->font_ascent;
    descent = extents->font_descent;
  }
  menuTextAscent = ascent;
  menuItemHeight = ascent + descent + 2 * MENU_PADDING_Y;
  menuWidth = textWidth + 2 * MENU_PADDING_X;
  const int height = menuItemHeight * MENU_ITEM_COUNT;

  // At the pointer, kept on the screen: above the pointer where the tray
  // sits at the bottom, to the left where it sits at the right.
  int x = rootX;
  int y = rootY;
  if (x + menuWidth > screen->width_in_pixels) x = std::max(0, screen->width_in_pixels - menuWidth);
  if (y + height > screen->height_in_pixels) y = std::max(0, rootY - height);

  menu = xcb_generate_id(c);
  const std::uint32_t values[] = {screenFormat.PixelOf(MENU_BACKGROUND), screen->black_pixel, 1,
                                  XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                      XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                      XCB_EVENT_MASK_KEY_PRESS};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, menu, screen->root, static_cast<std::int16_t>(x),
                    static_cast<std::int16_t>(y), static_cast<std::uint16_t>(menuWidth),
                    static_cast<std::uint16_t>(height), 1, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, menu, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 14, "gleamo\0gleamo");
  menuGc = xcb_generate_id(c);
  const std::uint32_t font = menuFont;
  xcb_create_gc(c, menuGc, menu, XCB_GC_FONT, &font);
  xcb_map_window(c, menu);

  // Every click and key goes to the menu while it is open, so that a click
  // elsewhere or Escape can close it.
  const std::uint16_t pointerEvents =
      XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
  auto pointer =
      Reply(xcb_grab_pointer_reply(c,
                                   xcb_grab_pointer(c, 0, menu, pointerEvents, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                                                    XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                   nullptr));
  auto keyboard = Reply(xcb_grab_keyboard_reply(
      c, xcb_grab_keyboard(c, 0, menu, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));
  if (!pointer || pointer->status != XCB_GRAB_STATUS_SUCCESS) {
    // Someone else holds the pointer: a menu that could not be closed by a
    // click elsewhere would be worse than none.
    CloseMenu();
    return;
  }
  if (!menuKeysLearned) LearnMenuKeys();
  selectedItem = -1;
  pressedInMenu = false;
  xcb_flush(c);
}

void CXEmbedTray::CloseMenu() {
  if (menu == XCB_NONE) return;
  xcb_connection_t* c = connection.get();
  xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
  xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
  xcb_free_gc(c, menuGc);
  xcb_destroy_window(c, menu);
  menu = XCB_NONE;
  menuGc = XCB_NONE;
  xcb_flush(c);
}

void CXEmbedTray::LearnMenuKeys() {
  xcb_connection_t* c = connection.get();
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  auto mapping = Reply(xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr));
  if (!mapping) return;
  const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
  const int perKey = mapping->keysyms_per_keycode;
  for (int i = 0; i < count; ++i) {
    MenuKey action = KEY_NONE;
    for (int column = 0; column < perKey && column < 2 && action == KEY_NONE; ++column) {
      switch (keysyms[i * perKey + column]) {
        case KEYSYM_UP:
        case KEYSYM_KP_UP: action = KEY_UP; break;
        case KEYSYM_DOWN:
        case KEYSYM_KP_DOWN: action = KEY_DOWN; break;
        case KEYSYM_RETURN:
        case KEYSYM_KP_ENTER: action = KEY_CHOOSE; break;
        case KEYSYM_ESCAPE: action = KEY_CLOSE; break;
        default: break;
      }
    }
    menuKeys[static_cast<std::size_t>(setup->min_keycode + i)] = action;
  }
  menuKeysLearned = true;
}

void CXEmbedTray::OnMenuKey(xcb_keycode_t key) {
  switch (menuKeys[key]) {
    case KEY_UP: SelectMenuItem(selectedItem <= 0 ? MENU_ITEM_COUNT - 1 : selectedItem - 1); break;
    case KEY_DOWN:
      SelectMenuItem(selectedItem < 0 || selectedItem == MENU_ITEM_COUNT - 1 ? 0 : selectedItem + 1);
      break;
    case KEY_CHOOSE:
      if (selectedItem >= 0) ChooseMenuItem(selectedItem);
      break;
    case KEY_CLOSE: CloseMenu(); break;
    case KEY_NONE: break;
  }
}

int CXEmbedTray::MenuItemAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= menuWidth || menuItemHeight <= 0) return -1;
  const int index = y / menuItemHeight;
  return index < MENU_ITEM_COUNT ? index : -1;
}

void CXEmbedTray::SelectMenuItem(int index) {
  if (index == selectedItem) return;
  selectedItem = index;
  DrawMenu();
}

void CXEmbedTray::ChooseMenuItem(int index) {
  const int command = TRAY_MENU_ITEMS[static_cast<std::size_t>(index)].id;
  CloseMenu();
  if (onCommand) onCommand(command);
}

void CXEmbedTray::DrawMenu() {
  if (menu == XCB_NONE) return;
  xcb_connection_t* c = connection.get();
  for (int i = 0; i < MENU_ITEM_COUNT; ++i) {
    const bool selected = i == selectedItem;
    const std::uint32_t background = screenFormat.PixelOf(selected ? MENU_HIGHLIGHT : MENU_BACKGROUND);
    const std::uint32_t colors[] = {screenFormat.PixelOf(selected ? MENU_HIGHLIGHT_TEXT : MENU_TEXT), background};
    const xcb_rectangle_t row{0, static_cast<std::int16_t>(i * menuItemHeight), static_cast<std::uint16_t>(menuWidth),
                              static_cast<std::uint16_t>(menuItemHeight)};
    xcb_change_gc(c, menuGc, XCB_GC_FOREGROUND, &background);
    xcb_poly_fill_rectangle(c, menu, menuGc, 1, &row);
    xcb_change_gc(c, menuGc, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND, colors);
    const char* label = TRAY_MENU_ITEMS[static_cast<std::size_t>(i)].label;
    xcb_image_text_8(c, static_cast<std::uint8_t>(std::strlen(label)), menu, menuGc, MENU_PADDING_X,
                     static_cast<std::int16_t>(i * menuItemHeight + MENU_PADDING_Y + menuTextAscent), label);
  }
  xcb_flush(c);
}
