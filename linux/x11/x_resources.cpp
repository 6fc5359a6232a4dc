#include "linux/x11/x_resources.h"

#include <poll.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

std::int64_t NowMsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// Until when round trips do not wait: the server was late a moment ago.
// The program has one display connection.
std::int64_t noWaitUntilMsec = 0;

bool SocketReady(xcb_connection_t* connection, short events, int timeoutMsec) {
  pollfd socket{xcb_get_file_descriptor(connection), events, 0};
  return poll(&socket, 1, timeoutMsec) > 0 && (socket.revents & events) != 0;
}

std::uint32_t Channel(std::uint8_t value, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const std::uint32_t top = mask >> shift;
  return ((value * top + 127) / 255) << shift;
}

}  // namespace

bool ServerTakesRequests(xcb_connection_t* connection) {
  return SocketReady(connection, POLLOUT, 0);
}

void FlushRequests(xcb_connection_t* connection) {
  // XCB's own flush waits for the socket as long as it takes.
  if (ServerTakesRequests(connection)) xcb_flush(connection);
}

void* AwaitReplyTo(xcb_connection_t* connection, unsigned int sequence, bool* lateOut) {
  if (lateOut != nullptr) *lateOut = false;
  const std::int64_t start = NowMsec();
  const int deadline = start < noWaitUntilMsec ? 0 : ROUND_TRIP_DEADLINE_MSEC;
  if (ServerTakesRequests(connection)) {
    xcb_flush(connection);
    for (;;) {
      // Reads what has come without waiting; events met on the way wait in
      // XCB's queue for the event loop.
      void* reply = nullptr;
      xcb_generic_error_t* error = nullptr;
      if (xcb_poll_for_reply(connection, sequence, &reply, &error) != 0) {
        std::free(error);
        return reply;
      }
      const auto left = static_cast<int>(deadline - (NowMsec() - start));
      if (left <= 0 || !SocketReady(connection, POLLIN, left)) break;
    }
  }
  xcb_discard_reply(connection, sequence);
  noWaitUntilMsec = NowMsec() + 1000;
  if (lateOut != nullptr) *lateOut = true;
  return nullptr;
}

bool WasRefused(xcb_connection_t* connection, xcb_void_cookie_t checked) {
  void* none = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (xcb_poll_for_reply(connection, checked.sequence, &none, &error) == 0) {
    xcb_discard_reply(connection, checked.sequence);
    return true;  // not known after all: not counted on
  }
  std::free(none);
  std::free(error);
  return error != nullptr;
}

void InternAtoms(xcb_connection_t* connection, const char* const* names, int count, xcb_atom_t* atoms) {
  std::vector<xcb_intern_atom_cookie_t> cookies;
  cookies.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    cookies.push_back(xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]));
  }
  // Waited for as long as it takes, unlike every later round trip: asked
  // once, before the loop runs, and an atom missed here would keep the icon
  // out of every X tray for good (Cinnamon's shell, starting, holds the
  // server for a second or more).
  for (int i = 0; i < count; ++i) {
    auto reply = Reply(xcb_intern_atom_reply(connection, cookies[static_cast<std::size_t>(i)], nullptr));
    atoms[i] = reply ? reply->atom : XCB_NONE;
  }
}

std::uint32_t PixelFormat::PixelOf(Rgb color) const {
  return Channel(color.red, redMask) | Channel(color.green, greenMask) | Channel(color.blue, blueMask) | alphaMask;
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

PixelFormat ScreenFormat(const xcb_screen_t* screen) {
  std::uint8_t depth = 0;
  PixelFormat format;
  if (const xcb_visualtype_t* visual = FindVisual(screen, screen->root_visual, depth))
    format = FormatOf(*visual, depth);
  format.alphaMask = 0;
  return format;
}

xcb_font_t CFixedFont::Get() {
  if (!font) {
    font = unique_x_font::Make(connection);
    xcb_open_font(connection, font.get(), 5, "fixed");
  }
  return font.get();
}

int CFixedFont::TextWidth(const char* text, std::size_t length) {
  std::vector<xcb_char2b_t> wide;
  for (std::size_t i = 0; i < length; ++i) wide.push_back({0, static_cast<std::uint8_t>(text[i])});
  auto extents = AwaitReply<xcb_query_text_extents_reply_t>(
      connection, xcb_query_text_extents(connection, Get(), static_cast<std::uint32_t>(wide.size()), wide.data()));
  if (!extents) return 0;
  ascent = extents->font_ascent;
  descent = extents->font_descent;
  return extents->overall_width;
}

std::vector<std::string> CFixedFont::LinesOf(const std::string& text) {
  // xcb_image_text_8 takes at most this many characters.
  constexpr std::size_t LONGEST_DRAWN_LINE = 255;
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, std::min(end - start, LONGEST_DRAWN_LINE)));
    if (end == text.size()) return lines;
    start = end + 1;
  }
}

int CFixedFont::WidestLine(const std::vector<std::string>& lines) {
  int widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, TextWidth(line.data(), line.size()));
  return widest;
}

void CFixedFont::DrawLines(xcb_window_t window, xcb_gcontext_t gc, int padding, const std::vector<std::string>& lines) {
  int baseline = padding + Ascent();
  for (const std::string& line : lines) {
    xcb_image_text_8(connection, static_cast<std::uint8_t>(line.size()), window, gc, static_cast<std::int16_t>(padding),
                     static_cast<std::int16_t>(baseline), line.data());
    baseline += LineHeight();
  }
  FlushRequests(connection);
}

void NameWindow(xcb_connection_t* connection, xcb_window_t window, const char* name, xcb_atom_t netWmName,
                xcb_atom_t utf8String) {
  const auto length = static_cast<std::uint32_t>(std::strlen(name));
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, length, name);
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, netWmName, utf8String, 8, length, name);
}

void SetGleamoClass(xcb_connection_t* connection, xcb_window_t window) {
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 14,
                      "gleamo\0gleamo");
}
