#include "linux/x11/tooltip_window.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int TOOLTIP_PADDING = 4;
constexpr int TOOLTIP_GAP = 2;  // between the icon and the tooltip

}  // namespace

CTooltipWindow::CTooltipWindow(xcb_connection_t* connection, const xcb_screen_t* screen)
    : connection(connection), screen(screen), font(connection) {}

void CTooltipWindow::Show(const std::string& text, int x, int y, int width, int height) {
  anchorX = x;
  anchorY = y;
  anchorWidth = width;
  anchorHeight = height;
  Update(text);
}

void CTooltipWindow::Update(const std::string& text) {
  xcb_connection_t* c = connection;
  lines = CFixedFont::LinesOf(text);
  const int textWidth = font.WidestLine(lines);
  const int screenWidth = screen->width_in_pixels;
  const int screenHeight = screen->height_in_pixels;
  const int width = std::min(textWidth + 2 * TOOLTIP_PADDING, screenWidth - 2);
  const int height =
      std::min(static_cast<int>(lines.size()) * font.LineHeight() + 2 * TOOLTIP_PADDING, screenHeight - 2);
  // Below the icon, or above it in a tray at the bottom of the screen.
  int y = anchorY + anchorHeight + TOOLTIP_GAP;
  if (y + height + 2 > screenHeight) y = anchorY - TOOLTIP_GAP - height - 2;
  y = std::max(0, y);
  const int x = std::clamp(anchorX, 0, std::max(0, screenWidth - width - 2));
  const std::uint32_t geometry[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                                    static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                    XCB_STACK_MODE_ABOVE};
  if (window) {
    xcb_configure_window(c, window.get(),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                         geometry);
    xcb_clear_area(c, 1, window.get(), 0, 0, 0, 0);  // drawn again on the Expose this brings
    FlushRequests(c);
    return;
  }
  if (atoms[0] == XCB_NONE) {
    const char* names[] = {"_NET_WM_NAME", "UTF8_STRING"};
    InternAtoms(c, names, 2, atoms);
  }
  const PixelFormat format = ScreenFormat(screen);
  window = unique_x_window::Make(c);
  const std::uint32_t values[] = {format.PixelOf(POPUP_BACKGROUND), screen->black_pixel, 1, XCB_EVENT_MASK_EXPOSURE};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window.get(), screen->root, static_cast<std::int16_t>(x),
                    static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                    1, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  NameWindow(c, window.get(), "gleamo tooltip", atoms[0], atoms[1]);
  gc = unique_x_gc::Make(c);
  const std::uint32_t gcValues[] = {format.PixelOf(POPUP_TEXT), format.PixelOf(POPUP_BACKGROUND), font.Get()};
  xcb_create_gc(c, gc.get(), window.get(), XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT, gcValues);
  xcb_map_window(c, window.get());
  FlushRequests(c);
}

void CTooltipWindow::Close() {
  if (!window) return;
  gc.reset();
  window.reset();
  FlushRequests(connection);
}

bool CTooltipWindow::Dispatch(const xcb_generic_event_t* event) {
  if (!window || (event->response_type & 0x7F) != XCB_EXPOSE) return false;
  const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
  if (expose->window != window.get()) return false;
  if (expose->count == 0) font.DrawLines(window.get(), gc.get(), TOOLTIP_PADDING, lines);
  return true;
}
