#include "linux/x11/text_window.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int TEXT_PADDING = 12;

}  // namespace

CTextWindow::CTextWindow(xcb_connection_t* connection, const xcb_screen_t* screen)
    : connection(connection), screen(screen), font(connection) {}

void CTextWindow::Show(const char* title, const char* text) {
  xcb_connection_t* c = connection;
  if (atoms[WM_PROTOCOLS] == XCB_NONE) {
    const char* names[ATOM_COUNT] = {"WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME", "UTF8_STRING"};
    InternAtoms(c, names, ATOM_COUNT, atoms);
  }
  lines = CFixedFont::LinesOf(text);
  const int textWidth = font.WidestLine(lines);
  const int width = std::min<int>(textWidth + 2 * TEXT_PADDING, screen->width_in_pixels);
  const int height =
      std::min<int>(static_cast<int>(lines.size()) * font.LineHeight() + 2 * TEXT_PADDING, screen->height_in_pixels);

  if (!window) {
    Create(width, height);
  } else {
    const std::uint32_t size[] = {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                  XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c, window.get(),
                         XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE, size);
    xcb_clear_area(c, 1, window.get(), 0, 0, 0, 0);  // drawn again on the Expose this brings
  }
  NameWindow(c, window.get(), title, atoms[NET_WM_NAME], atoms[UTF8_STRING]);
  FlushRequests(c);
}

void CTextWindow::Create(int width, int height) {
  xcb_connection_t* c = connection;
  const PixelFormat format = ScreenFormat(screen);
  // In the middle of the screen, where it lands without a window manager.
  const int x = std::max(0, (screen->width_in_pixels - width) / 2);
  const int y = std::max(0, (screen->height_in_pixels - height) / 2);
  window = unique_x_window::Make(c);
  const std::uint32_t values[] = {format.PixelOf(POPUP_BACKGROUND), screen->black_pixel,
                                  XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                      XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window.get(), screen->root, static_cast<std::int16_t>(x),
                    static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                    1, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK, values);
  SetGleamoClass(c, window.get());
  // The window manager's close asks rather than kills the connection, which
  // carries the tray icon too.
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window.get(), atoms[WM_PROTOCOLS], XCB_ATOM_ATOM, 32, 1,
                      &atoms[WM_DELETE_WINDOW]);
  // WM_HINTS: takes the keyboard, so that any key closes it.
  constexpr std::uint32_t INPUT_HINT = 1;
  const std::uint32_t wmHints[9] = {INPUT_HINT, 1};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window.get(), XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, wmHints);
  // WM_SIZE_HINTS: placed by us, at its size.
  constexpr std::uint32_t PROGRAM_POSITION = 1u << 2;
  constexpr std::uint32_t PROGRAM_SIZE = 1u << 3;
  std::uint32_t sizeHints[18] = {PROGRAM_POSITION | PROGRAM_SIZE, static_cast<std::uint32_t>(x),
                                 static_cast<std::uint32_t>(y), static_cast<std::uint32_t>(width),
                                 static_cast<std::uint32_t>(height)};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window.get(), XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                      sizeHints);
  gc = unique_x_gc::Make(c);
  const std::uint32_t gcValues[] = {format.PixelOf(POPUP_TEXT), format.PixelOf(POPUP_BACKGROUND), font.Get()};
  xcb_create_gc(c, gc.get(), window.get(), XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT, gcValues);
  xcb_map_window(c, window.get());
}

void CTextWindow::Close() {
  gc.reset();
  window.reset();
  FlushRequests(connection);
}

bool CTextWindow::Dispatch(const xcb_generic_event_t* event) {
  if (!window) return false;
  const xcb_window_t shown = window.get();
  switch (event->response_type & 0x7F) {
    case XCB_EXPOSE: {
      const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
      if (expose->window != shown) return false;
      if (expose->count == 0) font.DrawLines(window.get(), gc.get(), TEXT_PADDING, lines);
      return true;
    }
    case XCB_BUTTON_PRESS: return reinterpret_cast<const xcb_button_press_event_t*>(event)->event == shown;
    case XCB_BUTTON_RELEASE:
    case XCB_KEY_PRESS: {
      // Closed when the button comes up, so that the release does not land
      // on whatever lies beneath.
      const auto* input = reinterpret_cast<const xcb_key_press_event_t*>(event);
      if (input->event != shown) return false;
      Close();
      return true;
    }
    case XCB_CLIENT_MESSAGE: {
      const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
      if (message->window != shown || message->type != atoms[WM_PROTOCOLS]) return false;
      if (message->data.data32[0] == atoms[WM_DELETE_WINDOW]) Close();
      return true;
    }
    case XCB_DESTROY_NOTIFY: {
      // Destroyed by someone else (xkill, a window manager's kill).
      if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window != shown) return false;
      window.release();
      gc.reset();
      return true;
    }
    default: return false;
  }
}
