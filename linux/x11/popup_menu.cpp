#include "linux/x11/popup_menu.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr Rgb MENU_HIGHLIGHT{48, 96, 176};
constexpr Rgb MENU_HIGHLIGHT_TEXT{255, 255, 255};
constexpr int MENU_PADDING_X = 10;
constexpr int MENU_PADDING_Y = 4;
constexpr int MENU_ITEM_COUNT = static_cast<int>(TRAY_MENU_ITEMS.size());

// Keysyms of the keys the menu answers.
constexpr std::uint32_t KEYSYM_RETURN = 0xff0d, KEYSYM_ESCAPE = 0xff1b, KEYSYM_UP = 0xff52, KEYSYM_DOWN = 0xff54,
                        KEYSYM_KP_ENTER = 0xff8d, KEYSYM_KP_UP = 0xff97, KEYSYM_KP_DOWN = 0xff99;

constexpr std::uint16_t POINTER_EVENTS = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                         XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
                                         XCB_EVENT_MASK_LEAVE_WINDOW;

bool RunsUnderXwayland() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return wayland != nullptr && *wayland != '\0';
}

}  // namespace

CPopupMenu::CPopupMenu(xcb_connection_t* connection, const xcb_screen_t* screen, CTrayIcon::CommandHandler onCommand)
    : connection(connection),
      screen(screen),
      onCommand(std::move(onCommand)),
      underXwayland(RunsUnderXwayland()),
      font(connection) {}

void CPopupMenu::Open(int rootX, int rootY) {
  Close();
  xcb_connection_t* c = connection;
  int textWidth = 0;
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
    textWidth = std::max(textWidth, font.TextWidth(item.label, std::strlen(item.label)));
  }
  textAscent = font.Ascent();
  itemHeight = font.LineHeight() + 2 * MENU_PADDING_Y;
  width = textWidth + 2 * MENU_PADDING_X;
  const int height = itemHeight * MENU_ITEM_COUNT;

  // At the point, kept on the screen: above it where the tray sits at the
  // bottom, to the left where it sits at the right.
  int x = rootX;
  int y = rootY;
  if (x + width > screen->width_in_pixels) x = std::max(0, screen->width_in_pixels - width);
  if (y + height > screen->height_in_pixels) y = std::max(0, rootY - height);

  format = ScreenFormat(screen);
  window = unique_x_window::Make(c);
  const std::uint32_t values[] = {format.PixelOf(POPUP_BACKGROUND), screen->black_pixel, 1,
                                  XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS | POINTER_EVENTS};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window.get(), screen->root, static_cast<std::int16_t>(x),
                    static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                    1, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  SetGleamoClass(c, window.get());
  gc = unique_x_gc::Make(c);
  const std::uint32_t fontId = font.Get();
  xcb_create_gc(c, gc.get(), window.get(), XCB_GC_FONT, &fontId);
  xcb_map_window(c, window.get());

  // Every click and key goes to the menu while it is open, so that a click
  // elsewhere or Escape can close it.
  auto pointer = AwaitReply<xcb_grab_pointer_reply_t>(
      c, xcb_grab_pointer(c, 0, window.get(), POINTER_EVENTS, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE,
                          XCB_NONE, XCB_CURRENT_TIME));
  auto keyboard = AwaitReply<xcb_grab_keyboard_reply_t>(
      c, xcb_grab_keyboard(c, 0, window.get(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  if ((!pointer || pointer->status != XCB_GRAB_STATUS_SUCCESS) && !underXwayland) {
    // Someone else holds the pointer: a menu that a click elsewhere could
    // not close would be worse than none. Under Xwayland a menu that never
    // opens is worse, and leaving it closes it there.
    Close();
    return;
  }
  if (!keysLearned) LearnKeys();
  selectedItem = -1;
  pressedInMenu = false;
  pointedAtItem = false;
  FlushRequests(c);
}

void CPopupMenu::Close() {
  if (!window) return;
  xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
  xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
  gc.reset();
  window.reset();
  FlushRequests(connection);
}

bool CPopupMenu::Dispatch(const xcb_generic_event_t* event) {
  if (!window) return false;
  const xcb_window_t menu = window.get();
  switch (event->response_type & 0x7F) {
    case XCB_EXPOSE: {
      const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
      if (expose->window != menu) return false;
      if (expose->count == 0) Draw();
      return true;
    }
    case XCB_BUTTON_PRESS: {
      const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event);
      if (press->event != menu) return false;
      pressedInMenu = ItemAt(press->event_x, press->event_y) >= 0;
      if (!pressedInMenu) Close();  // a click outside
      return true;
    }
    case XCB_BUTTON_RELEASE: {
      const auto* release = reinterpret_cast<const xcb_button_release_event_t*>(event);
      if (release->event != menu) return false;
      const int item = ItemAt(release->event_x, release->event_y);
      if (pressedInMenu && item >= 0) Choose(item);
      return true;
    }
    case XCB_MOTION_NOTIFY: {
      const auto* motion = reinterpret_cast<const xcb_motion_notify_event_t*>(event);
      if (motion->event != menu) return false;
      const int item = ItemAt(motion->event_x, motion->event_y);
      if (item >= 0) pointedAtItem = true;
      Select(item);
      return true;
    }
    case XCB_LEAVE_NOTIFY: {
      const auto* leave = reinterpret_cast<const xcb_leave_notify_event_t*>(event);
      if (leave->event != menu) return false;
      // Under Xwayland the pointer leaving for a Wayland window is the last
      // the menu sees of it: a click there never reaches the grab. Only once
      // it has pointed at an item, since the menu opens with its corner
      // under the pointer. On X the grab sees every click, and the menu stays
      // while the pointer roams, as menus do.
      if (underXwayland && pointedAtItem && leave->mode == XCB_NOTIFY_MODE_NORMAL) Close();
      return true;
    }
    case XCB_ENTER_NOTIFY: return reinterpret_cast<const xcb_enter_notify_event_t*>(event)->event == menu;
    case XCB_KEY_PRESS: {
      const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
      if (key->event != menu) return false;
      OnKey(key->detail);
      return true;
    }
    default: return false;
  }
}

void CPopupMenu::LearnKeys() {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  auto mapping = AwaitReply<xcb_get_keyboard_mapping_reply_t>(
      connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)));
  if (!mapping) return;
  const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
  const int perKey = mapping->keysyms_per_keycode;
  for (int i = 0; i < count; ++i) {
    Key action = KEY_NONE;
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
    keys[std::size_t{setup->min_keycode} + static_cast<std::size_t>(i)] = action;
  }
  keysLearned = true;
}

void CPopupMenu::OnKey(xcb_keycode_t key) {
  switch (keys[key]) {
    case KEY_UP: Select(selectedItem <= 0 ? MENU_ITEM_COUNT - 1 : selectedItem - 1); break;
    case KEY_DOWN: Select(selectedItem < 0 || selectedItem == MENU_ITEM_COUNT - 1 ? 0 : selectedItem + 1); break;
    case KEY_CHOOSE:
      if (selectedItem >= 0) Choose(selectedItem);
      break;
    case KEY_CLOSE: Close(); break;
    case KEY_NONE: break;
  }
}

int CPopupMenu::ItemAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || itemHeight <= 0) return -1;
  const int index = y / itemHeight;
  return index < MENU_ITEM_COUNT ? index : -1;
}

void CPopupMenu::Select(int index) {
  if (index == selectedItem) return;
  selectedItem = index;
  Draw();
}

void CPopupMenu::Choose(int index) {
  const int command = TRAY_MENU_ITEMS[static_cast<std::size_t>(index)].id;
  Close();
  if (onCommand) onCommand(command);
}

void CPopupMenu::Draw() {
  if (!window) return;
  for (int i = 0; i < MENU_ITEM_COUNT; ++i) {
    const bool selected = i == selectedItem;
    const std::uint32_t background = format.PixelOf(selected ? MENU_HIGHLIGHT : POPUP_BACKGROUND);
    const std::uint32_t colors[] = {format.PixelOf(selected ? MENU_HIGHLIGHT_TEXT : POPUP_TEXT), background};
    const xcb_rectangle_t row{0, static_cast<std::int16_t>(i * itemHeight), static_cast<std::uint16_t>(width),
                              static_cast<std::uint16_t>(itemHeight)};
    xcb_change_gc(connection, gc.get(), XCB_GC_FOREGROUND, &background);
    xcb_poly_fill_rectangle(connection, window.get(), gc.get(), 1, &row);
    xcb_change_gc(connection, gc.get(), XCB_GC_FOREGROUND | XCB_GC_BACKGROUND, colors);
    const char* label = TRAY_MENU_ITEMS[static_cast<std::size_t>(i)].label;
    xcb_image_text_8(connection, static_cast<std::uint8_t>(std::strlen(label)), window.get(), gc.get(), MENU_PADDING_X,
                     static_cast<std::int16_t>(i * itemHeight + MENU_PADDING_Y + textAscent), label);
  }
  FlushRequests(connection);
}
