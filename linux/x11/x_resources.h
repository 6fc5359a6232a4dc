// What gleamo's own X windows share (the docked icon, the popup menu, the
// text window): owners for replies and for resources made on the server, a
// visual's pixel format, the server's "fixed" font and one look.
#pragma once

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tray/icon_raster.h"

// Replies and events are malloc'd by XCB and freed by their reader.
template <typename T>
using unique_reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T>
unique_reply<T> Reply(T* reply) {
  return unique_reply<T>(reply, &std::free);
}

// Every round trip of ours waits at most this long for its answer, so that
// a server another client holds grabbed, or one that stands still, cannot
// hold up the event loop (the bus, the tick, SIGTERM): a late answer counts
// as none. After one is late, the next second's round trips take only what
// has already come.
constexpr int ROUND_TRIP_DEADLINE_MSEC = 400;

// Whether the server reads what we send now. While it does not, requests
// wait in XCB's queue; what would add much to it is better skipped.
bool ServerTakesRequests(xcb_connection_t* connection);
// Sends the queued requests if the server reads them now; otherwise a
// later flush does.
void FlushRequests(xcb_connection_t* connection);

// The reply to a request sent just before, or null when the server refused
// it or did not answer in time (lateOut, where given, tells which).
void* AwaitReplyTo(xcb_connection_t* connection, unsigned int sequence, bool* lateOut = nullptr);
template <typename T, typename Cookie>
unique_reply<T> AwaitReply(xcb_connection_t* connection, Cookie cookie, bool* lateOut = nullptr) {
  return Reply(static_cast<T*>(AwaitReplyTo(connection, cookie.sequence, lateOut)));
}

// Whether a checked request was refused, asked once the reply to a later
// request has come (so the answer is known without a round trip).
bool WasRefused(xcb_connection_t* connection, xcb_void_cookie_t checked);

// Sole owner of one resource made on the server (a window, a graphics
// context, a font, a colormap): freed exactly once, on reset or at the end of
// its scope, over the connection it was made on, which must outlive it.
// Move-only, as unique_handle; XCB_NONE owns nothing.
template <xcb_void_cookie_t (*Free)(xcb_connection_t*, std::uint32_t)>
class unique_xid {
 public:
  unique_xid() noexcept = default;
  unique_xid(xcb_connection_t* connection, std::uint32_t id) noexcept : connection_(connection), id_(id) {}
  unique_xid(const unique_xid&) = delete;
  unique_xid& operator=(const unique_xid&) = delete;
  unique_xid(unique_xid&& other) noexcept : connection_(other.connection_), id_(other.release()) {}
  unique_xid& operator=(unique_xid&& other) noexcept {
    if (this != &other) {
      reset();
      connection_ = other.connection_;
      id_ = other.release();
    }
    return *this;
  }
  ~unique_xid() { reset(); }

  // A fresh id of the connection, owned from the start; the caller makes
  // the resource under it.
  static unique_xid Make(xcb_connection_t* connection) { return unique_xid(connection, xcb_generate_id(connection)); }

  std::uint32_t get() const noexcept { return id_; }
  explicit operator bool() const noexcept { return id_ != XCB_NONE; }

  // Gives the resource up without freeing it: for one the server has
  // already destroyed.
  std::uint32_t release() noexcept { return std::exchange(id_, XCB_NONE); }

  void reset() noexcept {
    const std::uint32_t old = std::exchange(id_, XCB_NONE);
    if (old != XCB_NONE) Free(connection_, old);
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  std::uint32_t id_ = XCB_NONE;
};

using unique_x_window = unique_xid<&xcb_destroy_window>;
using unique_x_gc = unique_xid<&xcb_free_gc>;
using unique_x_font = unique_xid<&xcb_close_font>;
using unique_x_colormap = unique_xid<&xcb_free_colormap>;

// Interns count atoms in one round trip, waiting for the server however
// long it takes; XCB_NONE for any the server refused.
void InternAtoms(xcb_connection_t* connection, const char* const* names, int count, xcb_atom_t* atoms);

// How a visual's pixels hold red, green, blue and alpha.
struct PixelFormat {
  std::uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0;
  std::uint32_t PixelOf(Rgb color) const;  // opaque
};

const xcb_visualtype_t* FindVisual(const xcb_screen_t* screen, xcb_visualid_t id, std::uint8_t& depth);
PixelFormat FormatOf(const xcb_visualtype_t& visual, std::uint8_t depth);
// The root visual's format, without alpha: for opaque windows of ours.
PixelFormat ScreenFormat(const xcb_screen_t* screen);

// The colours gleamo's menu and text window are drawn in.
constexpr Rgb POPUP_BACKGROUND{240, 240, 240};
constexpr Rgb POPUP_TEXT{0, 0, 0};

// The server's own "fixed" font, 6x13 on every X server: no font files, no
// client-side rendering. Opened on first use.
class CFixedFont {
 public:
  explicit CFixedFont(xcb_connection_t* connection) : connection(connection) {}
  xcb_font_t Get();
  // The width of a text in pixels; the font's ascent and descent are known
  // from then on.
  int TextWidth(const char* text, std::size_t length);
  int Ascent() const { return ascent; }
  int LineHeight() const { return ascent + descent; }

  // Text windows: the lines of a text (at each '\n', each cut to what one
  // request draws), the widest one's width, and the lines drawn from the
  // window's corner inwards by the padding.
  static std::vector<std::string> LinesOf(const std::string& text);
  int WidestLine(const std::vector<std::string>& lines);
  void DrawLines(xcb_window_t window, xcb_gcontext_t gc, int padding, const std::vector<std::string>& lines);

 private:
  xcb_connection_t* connection;
  unique_x_font font;
  int ascent = 11, descent = 2;
};

// Sets a window's name (WM_NAME, and _NET_WM_NAME in UTF-8 for desktops that
// read only that) and its class "gleamo".
void NameWindow(xcb_connection_t* connection, xcb_window_t window, const char* name, xcb_atom_t netWmName,
                xcb_atom_t utf8String);
void SetGleamoClass(xcb_connection_t* connection, xcb_window_t window);
