#include "linux/x11/xembed_icon.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "linux/icon_pixmap.h"

namespace {

constexpr std::uint32_t SYSTEM_TRAY_REQUEST_DOCK = 0;
constexpr std::uint32_t XEMBED_MAPPED = 1;

// A tray that drops the icon while it keeps the selection gets a fresh one
// soon; one that keeps dropping it, only now and then, so that the two of
// us cannot spin.
constexpr std::uint64_t REDOCK_DELAY_USEC = 500'000;
constexpr std::uint64_t SLOW_REDOCK_DELAY_USEC = 5'000'000;
constexpr std::uint64_t SETTLED_DOCK_USEC = 5'000'000;  // docked this long: not dropped "soon"
constexpr int DROPS_BEFORE_SLOWING = 3;

const xcb_screen_t* ScreenAt(xcb_connection_t* connection, int screenNumber) {
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  return roots.rem != 0 ? roots.data : nullptr;
}

}  // namespace

WindowPlacement PlaceIconInWindow(int width, int height) {
  const int canvas = std::min(width, height);
  const IconPlacement placement = PlaceIcon(canvas);
  return {placement.factor, (width - canvas) / 2 + placement.offset, (height - canvas) / 2 + placement.offset};
}

std::unique_ptr<CXEmbedTray> CXEmbedTray::Connect(sd_event* event, CommandHandler onCommand,
                                                  DisplayLostHandler onDisplayLost) {
  int screenNumber = 0;
  unique_xcb_connection connection(xcb_connect(nullptr, &screenNumber));
  // XCB hands back an object in an error state rather than null.
  if (xcb_connection_has_error(connection.get())) return nullptr;
  const xcb_screen_t* screen = ScreenAt(connection.get(), screenNumber);
  if (screen == nullptr) return nullptr;
  std::unique_ptr<CXEmbedTray> tray(
      new CXEmbedTray(std::move(connection), screen, screenNumber, std::move(onCommand), std::move(onDisplayLost)));
  if (!tray->Listen(event)) return nullptr;
  return tray;
}

CXEmbedTray::CXEmbedTray(unique_xcb_connection connection, const xcb_screen_t* screen, int screenNumber,
                         CommandHandler onCommand, DisplayLostHandler onDisplayLost)
    : connection(std::move(connection)),
      screen(screen),
      onDisplayLost(std::move(onDisplayLost)),
      menu(this->connection.get(), screen, std::move(onCommand)),
      text(this->connection.get(), screen) {
  char selection[32];
  std::snprintf(selection, sizeof selection, "_NET_SYSTEM_TRAY_S%d", screenNumber);
  const char* names[ATOM_COUNT] = {
      selection,    "_NET_SYSTEM_TRAY_OPCODE", "_NET_SYSTEM_TRAY_VISUAL", "MANAGER", "_XEMBED_INFO", "_NET_WM_NAME",
      "UTF8_STRING"};
  InternAtoms(this->connection.get(), names, ATOM_COUNT, atoms.data());
}

CXEmbedTray::~CXEmbedTray() {
  // Closing the connection destroys every window of ours: the tray drops
  // the icon, and a menu still open goes with its grabs.
  readable.reset();
  redockTimer.reset();
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
    // The X server went away, and the icon and any window of ours with it;
    // whether the program can go on is the owner's to say.
    std::fprintf(stderr, "gleamo: lost the connection to the X display\n");
    tray->readable.reset();
    tray->redockTimer.reset();
    if (tray->onDisplayLost) tray->onDisplayLost();
    return 0;
  }
  xcb_flush(tray->connection.get());
  return 0;
}

xcb_window_t CXEmbedTray::SelectionOwner() {
  xcb_connection_t* c = connection.get();
  auto reply = Reply(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atoms[TRAY_SELECTION]), nullptr));
  return reply ? reply->owner : XCB_NONE;
}

bool CXEmbedTray::TrayPresent() {
  return SelectionOwner() != XCB_NONE;
}

bool CXEmbedTray::Add() {
  xcb_connection_t* c = connection.get();
  wanted = true;
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
  sd_event_now(loop, CLOCK_MONOTONIC, &dockedAt);

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
  request.data.data32[2] = icon.get();
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

  icon = unique_x_window::Make(c);
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
    iconColormap = unique_x_colormap::Make(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, iconColormap.get(), screen->root, visual);
    mask |= XCB_CW_COLORMAP;
    values.push_back(iconColormap.get());
  }
  // Sized afresh by each tray.
  iconWidth = iconHeight = ICON_SIZE;
  xcb_create_window(c, depth, icon.get(), screen->root, 0, 0, ICON_SIZE, ICON_SIZE, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    visual, mask, values.data());
  iconGc = unique_x_gc::Make(c);
  xcb_create_gc(c, iconGc.get(), icon.get(), 0, nullptr);

  // The tray maps the window itself when the icon asks to be shown.
  const std::uint32_t xembedInfo[2] = {0, XEMBED_MAPPED};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, icon.get(), atoms[XEMBED_INFO], atoms[XEMBED_INFO], 32, 2, xembedInfo);
  // Trays that size icons by their hints (GTK's sockets) would give a
  // window without them one pixel.
  SetSizeHints(ICON_SIZE);
  askedSide = 0;
  // Named, for trays that list their icons and for tools that look for it.
  NameWindow(c, icon.get(), "gleamo", atoms[NET_WM_NAME], atoms[UTF8_STRING]);
  SetGleamoClass(c, icon.get());
}

void CXEmbedTray::SetSizeHints(int side) {
  // WM_SIZE_HINTS: flags, four unused, minimum size, ..., base size, gravity.
  constexpr std::uint32_t MIN_SIZE = 1u << 4;
  constexpr std::uint32_t BASE_SIZE = 1u << 8;
  std::uint32_t hints[18] = {MIN_SIZE | BASE_SIZE};
  hints[5] = hints[6] = static_cast<std::uint32_t>(side);
  hints[15] = hints[16] = static_cast<std::uint32_t>(side);
  xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, icon.get(), XCB_ATOM_WM_NORMAL_HINTS,
                      XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
  hintedSide = side;
}

void CXEmbedTray::FollowTraySize() {
  // A tray that answers our square with yet another shape (N by N+1 for
  // every N) would walk the hints along for ever: its answer stands.
  const bool answersAsk = askedSide != 0 && (iconWidth == askedSide || iconHeight == askedSide);
  askedSide = 0;
  int side = iconWidth;
  if (iconWidth != iconHeight) {
    if (answersAsk) return;
    // A tray that gives icons its height (or width) but takes the other side
    // from the hints gets asked for a square, as its other icons are; one
    // that chose both sides, for its smaller one, the picture's canvas.
    if (iconWidth == hintedSide) {
      side = iconHeight;
    } else if (iconHeight == hintedSide) {
      side = iconWidth;
    } else {
      side = std::min(iconWidth, iconHeight);
    }
  }
  // A square size is followed both ways.
  if (side == hintedSide) return;
  SetSizeHints(side);
  if (iconWidth != iconHeight) askedSide = side;
}

void CXEmbedTray::Remove() {
  wanted = false;
  redockTimer.reset();
  Undock();
  xcb_flush(connection.get());
}

void CXEmbedTray::Undock() {
  // Destroyed rather than left on the root window, where a vanished tray's
  // save-set would put it; the next tray gets a fresh one in its visual.
  iconGc.reset();
  icon.reset();
  iconColormap.reset();
  manager = XCB_NONE;
}

void CXEmbedTray::OnIconLost() {
  std::uint64_t now = 0;
  sd_event_now(loop, CLOCK_MONOTONIC, &now);
  droppedSoon = now - dockedAt < SETTLED_DOCK_USEC ? droppedSoon + 1 : 0;
  Undock();
  const bool slow = droppedSoon >= DROPS_BEFORE_SLOWING;
  if (slow && !dropsReported) {
    std::fprintf(stderr, "gleamo: the system tray keeps dropping the icon; offering it again every %d s\n",
                 static_cast<int>(SLOW_REDOCK_DELAY_USEC / 1000000));
    dropsReported = true;
  }
  sd_event_add_time_relative(loop, redockTimer.put(), CLOCK_MONOTONIC,
                             slow ? SLOW_REDOCK_DELAY_USEC : REDOCK_DELAY_USEC, 0, &OnRedockTimer, this);
}

int CXEmbedTray::OnRedockTimer(sd_event_source* /*source*/, std::uint64_t /*usec*/, void* self) {
  auto* tray = static_cast<CXEmbedTray*>(self);
  // A tray that announced itself meanwhile has the icon already.
  if (tray->Docked() || !tray->wanted) return 0;
  const xcb_window_t owner = tray->SelectionOwner();
  if (owner != XCB_NONE) tray->Dock(owner);
  return 0;
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
  if (!icon) return;
  xcb_connection_t* c = connection.get();
  xcb_clear_area(c, 0, icon.get(), 0, 0, 0, 0);

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
    xcb_change_gc(c, iconGc.get(), XCB_GC_FOREGROUND, &foreground);
    xcb_poly_fill_rectangle(c, icon.get(), iconGc.get(), static_cast<std::uint32_t>(rectangles.size()),
                            rectangles.data());
  }
  xcb_flush(c);
}

void CXEmbedTray::OpenMenu(int rootX, int rootY) {
  menu.Open(rootX, rootY);
}

void CXEmbedTray::ShowText(const char* title, const char* text) {
  this->text.Show(title, text);
}

void CXEmbedTray::Dispatch(const xcb_generic_event_t* event) {
  if (menu.Dispatch(event) || text.Dispatch(event)) return;
  switch (event->response_type & 0x7F) {
    case XCB_EXPOSE: {
      const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
      if (expose->count == 0 && expose->window == icon.get()) PaintIcon();
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (configure->window != icon.get()) break;
      if (configure->width == iconWidth && configure->height == iconHeight) break;  // moved only
      iconWidth = configure->width;
      iconHeight = configure->height;
      FollowTraySize();
      PaintIcon();
      break;
    }
    case XCB_REPARENT_NOTIFY: {
      const auto* reparent = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
      if (reparent->window != icon.get() || reparent->parent != screen->root || !Docked()) break;
      // Given back by a tray that still owns the selection: offered again.
      // A tray that is going away, or whose tray part closed while its
      // panel stays, has let the selection go: wait for the next one.
      if (SelectionOwner() == manager) {
        OnIconLost();
      } else {
        Undock();
      }
      break;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto* destroy = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
      if (destroy->window == icon.get()) {
        icon.release();  // the tray destroyed it
        OnIconLost();
      } else if (destroy->window == manager && Docked()) {
        Undock();
      }
      break;
    }
    case XCB_CLIENT_MESSAGE: {
      const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
      // A tray took the selection: the old one is gone or going. Anyone can
      // send this message, naming any window: only the selection's owner is
      // believed, and only when it is not the tray that holds the icon.
      if (message->type != atoms[MANAGER] || message->data.data32[1] != atoms[TRAY_SELECTION]) break;
      const xcb_window_t owner = message->data.data32[2];
      if (!wanted || owner == XCB_NONE || owner == manager || owner != SelectionOwner()) break;
      Undock();
      redockTimer.reset();
      Dock(owner);  // painted when the tray maps the new window
      break;
    }
    case XCB_BUTTON_RELEASE: {
      const auto* release = reinterpret_cast<const xcb_button_release_event_t*>(event);
      if (release->event == icon.get() && !menu.IsOpen() && (release->detail == 1 || release->detail == 3)) {
        menu.Open(release->root_x, release->root_y);
      }
      break;
    }
    default: break;
  }
}
