#include "linux/x11/xembed_icon.h"

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
constexpr std::uint64_t REPAINT_RETRY_USEC = 100'000;
constexpr std::uint64_t SETTLED_DOCK_USEC = 5'000'000;  // docked this long: not dropped "soon"
constexpr int DROPS_BEFORE_SLOWING = 3;
// An X server's shutdown and the loss of the connection it ends with come
// within milliseconds.
constexpr std::uint64_t UNDOCK_REPORT_DELAY_USEC = 100'000;
// The pointer resting this long on the icon shows the tooltip.
constexpr std::uint64_t HOVER_USEC = 500'000;

}  // namespace

CXEmbedIcon::CXEmbedIcon(CXDisplay& display, DockedHandler onDocked)
    : display(display),
      connection(display.Connection()),
      screen(display.Screen()),
      onDocked(std::move(onDocked)),
      tooltipWindow(connection, screen) {
  char selection[32];
  std::snprintf(selection, sizeof selection, "_NET_SYSTEM_TRAY_S%d", display.ScreenNumber());
  const char* names[ATOM_COUNT] = {
      selection,    "_NET_SYSTEM_TRAY_OPCODE", "_NET_SYSTEM_TRAY_VISUAL", "MANAGER", "_XEMBED_INFO", "_NET_WM_NAME",
      "UTF8_STRING"};
  InternAtoms(connection, names, ATOM_COUNT, atoms.data());
  display.SetEventHandler([this](const xcb_generic_event_t* event) {
    Dispatch(event);
    ReportIfChanged();
  });
}

CXEmbedIcon::~CXEmbedIcon() {
  display.SetEventHandler(nullptr);
  // Destroying the window takes the icon out of the tray.
  redockTimer.reset();
  Undock();
  FlushRequests(connection);
}

void CXEmbedIcon::ReportIfChanged() {
  if (Docked() == reportedDocked) return;
  if (Docked()) {
    undockReport.reset();
    reportedDocked = true;
    if (onDocked) onDocked(true);
    return;
  }
  // An undocked icon is told a moment later, if it still is: an X server
  // that shuts down takes the tray away just before the connection, and
  // the icon was shown there until the end.
  if (!undockReport) {
    sd_event_add_time_relative(display.Loop(), undockReport.put(), CLOCK_MONOTONIC, UNDOCK_REPORT_DELAY_USEC, 0,
                               &OnUndockReport, this);
  }
}

int CXEmbedIcon::OnUndockReport(sd_event_source* /*source*/, std::uint64_t /*usec*/, void* self) {
  auto* icon = static_cast<CXEmbedIcon*>(self);
  icon->undockReport.reset();
  if (icon->Docked() || !icon->reportedDocked) return 0;
  icon->reportedDocked = false;
  if (icon->onDocked) icon->onDocked(false);
  return 0;
}

std::optional<xcb_window_t> CXEmbedIcon::SelectionOwner() {
  xcb_connection_t* c = connection;
  auto reply = AwaitReply<xcb_get_selection_owner_reply_t>(c, xcb_get_selection_owner(c, atoms[TRAY_SELECTION]));
  if (!reply) return std::nullopt;
  return reply->owner;
}

void CXEmbedIcon::DockLater(std::uint64_t delayUsec) {
  sd_event_add_time_relative(display.Loop(), redockTimer.put(), CLOCK_MONOTONIC, delayUsec, 0, &OnRedockTimer, this);
}

bool CXEmbedIcon::Add() {
  xcb_connection_t* c = connection;
  wanted = true;
  // A tray that starts later announces itself with a MANAGER message to
  // the root window's StructureNotify listeners.
  const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &rootEvents);
  auto reply = AwaitReply<xcb_get_selection_owner_reply_t>(c, xcb_get_selection_owner(c, atoms[TRAY_SELECTION]));
  if (!reply) return false;
  if (reply->owner != XCB_NONE) Dock(reply->owner);
  reportedDocked = Docked();
  FlushRequests(c);
  return true;
}

void CXEmbedIcon::Dock(xcb_window_t owner) {
  xcb_connection_t* c = connection;
  // Told when this tray goes away; a tray already gone refuses the request.
  const std::uint32_t ownerEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  const xcb_void_cookie_t watch = xcb_change_window_attributes_checked(c, owner, XCB_CW_EVENT_MASK, &ownerEvents);
  // Both answered in one round trip: the property's reply comes after the
  // error the first request may have brought.
  bool late = false;
  auto property = AwaitReply<xcb_get_property_reply_t>(
      c, xcb_get_property(c, 0, owner, atoms[TRAY_VISUAL], XCB_ATOM_VISUALID, 0, 1), &late);
  if (!property) {
    xcb_discard_reply(c, watch.sequence);
    // Not answered in time: asked again soon. Refused: the tray is gone.
    if (late) DockLater(REDOCK_DELAY_USEC);
    return;
  }
  if (WasRefused(c, watch)) return;
  manager = owner;
  sd_event_now(display.Loop(), CLOCK_MONOTONIC, &dockedAt);

  xcb_visualid_t visual = screen->root_visual;
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
  FlushRequests(c);
}

void CXEmbedIcon::CreateIconWindow(xcb_visualid_t visual) {
  xcb_connection_t* c = connection;
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
                   XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW);
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

void CXEmbedIcon::SetSizeHints(int side) {
  // WM_SIZE_HINTS: flags, four unused, minimum size, ..., base size, gravity.
  constexpr std::uint32_t MIN_SIZE = 1u << 4;
  constexpr std::uint32_t BASE_SIZE = 1u << 8;
  std::uint32_t hints[18] = {MIN_SIZE | BASE_SIZE};
  hints[5] = hints[6] = static_cast<std::uint32_t>(side);
  hints[15] = hints[16] = static_cast<std::uint32_t>(side);
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, icon.get(), XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                      32, 18, hints);
  hintedSide = side;
}

void CXEmbedIcon::FollowTraySize() {
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

void CXEmbedIcon::Remove() {
  wanted = false;
  redockTimer.reset();
  undockReport.reset();
  Undock();
  reportedDocked = false;
  FlushRequests(connection);
}

void CXEmbedIcon::Undock() {
  HideTooltip();
  // Destroyed rather than left on the root window, where a vanished tray's
  // save-set would put it; the next tray gets a fresh one in its visual.
  iconGc.reset();
  icon.reset();
  iconColormap.reset();
  manager = XCB_NONE;
}

void CXEmbedIcon::OnIconLost() {
  std::uint64_t now = 0;
  sd_event_now(display.Loop(), CLOCK_MONOTONIC, &now);
  droppedSoon = now - dockedAt < SETTLED_DOCK_USEC ? droppedSoon + 1 : 0;
  Undock();
  const bool slow = droppedSoon >= DROPS_BEFORE_SLOWING;
  if (slow) {
    dropsSaid.Say(OneMessage::Only, stderr,
                  "gleamo: the system tray keeps dropping the icon; offering it again every %d s\n",
                  static_cast<int>(SLOW_REDOCK_DELAY_USEC / 1000000));
  }
  DockLater(slow ? SLOW_REDOCK_DELAY_USEC : REDOCK_DELAY_USEC);
}

int CXEmbedIcon::OnRedockTimer(sd_event_source* /*source*/, std::uint64_t /*usec*/, void* self) {
  auto* icon = static_cast<CXEmbedIcon*>(self);
  // A tray that announced itself meanwhile has the icon already.
  if (icon->Docked() || !icon->wanted) return 0;
  const std::optional<xcb_window_t> owner = icon->SelectionOwner();
  if (!owner) {
    icon->DockLater(REDOCK_DELAY_USEC);  // the server does not answer now
  } else if (*owner != XCB_NONE) {
    icon->Dock(*owner);
  }
  icon->ReportIfChanged();
  return 0;
}

int CXEmbedIcon::OnRepaintTimer(sd_event_source* /*source*/, std::uint64_t /*usec*/, void* self) {
  auto* icon = static_cast<CXEmbedIcon*>(self);
  icon->repaintTimer.reset();
  icon->PaintIcon();
  return 0;
}

void CXEmbedIcon::ReplaceIcon(const IconPicture& picture, const char* newTooltip) {
  raster = picture.raster;
  PaintIcon();
  ReplaceTooltip(newTooltip);
}

void CXEmbedIcon::ReplaceTooltip(const char* tooltip) {
  tooltipText = tooltip != nullptr ? tooltip : "";
  if (tooltipWindow.IsOpen()) tooltipWindow.Update(tooltipText);
}

void CXEmbedIcon::HideTooltip() {
  hoverTimer.reset();
  tooltipWindow.Close();
}

int CXEmbedIcon::OnHoverTimer(sd_event_source* /*source*/, std::uint64_t /*usec*/, void* self) {
  auto* icon = static_cast<CXEmbedIcon*>(self);
  icon->hoverTimer.reset();
  if (!icon->icon || icon->display.MenuIsOpen()) return 0;
  xcb_connection_t* c = icon->connection;
  auto where = AwaitReply<xcb_translate_coordinates_reply_t>(
      c, xcb_translate_coordinates(c, icon->icon.get(), icon->screen->root, 0, 0));
  if (!where) return 0;
  icon->tooltipWindow.Show(icon->tooltipText, where->dst_x, where->dst_y, icon->iconWidth, icon->iconHeight);
  return 0;
}

void CXEmbedIcon::PaintIcon() {
  if (!icon) return;
  xcb_connection_t* c = connection;
  // A server that reads nothing now would have the pictures pile up in
  // XCB's queue until sending them blocked: the newest is painted when it
  // reads again.
  if (!ServerTakesRequests(c)) {
    if (!repaintTimer) {
      sd_event_add_time_relative(display.Loop(), repaintTimer.put(), CLOCK_MONOTONIC, REPAINT_RETRY_USEC, 0,
                                 &OnRepaintTimer, this);
    }
    return;
  }
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
  FlushRequests(c);
}

void CXEmbedIcon::Dispatch(const xcb_generic_event_t* event) {
  if (tooltipWindow.Dispatch(event)) return;
  switch (event->response_type & 0x7F) {
    case XCB_ENTER_NOTIFY: {
      // Only the pointer coming over it: not the end of the menu's grab
      // with the pointer still there.
      const auto* enter = reinterpret_cast<const xcb_enter_notify_event_t*>(event);
      if (enter->event != icon.get() || enter->mode != XCB_NOTIFY_MODE_NORMAL) break;
      sd_event_add_time_relative(display.Loop(), hoverTimer.put(), CLOCK_MONOTONIC, HOVER_USEC, 0, &OnHoverTimer, this);
      break;
    }
    case XCB_LEAVE_NOTIFY:
      if (reinterpret_cast<const xcb_leave_notify_event_t*>(event)->event == icon.get()) HideTooltip();
      break;
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
    case XCB_BUTTON_PRESS:
      if (reinterpret_cast<const xcb_button_press_event_t*>(event)->event == icon.get()) HideTooltip();
      break;
    case XCB_BUTTON_RELEASE: {
      const auto* release = reinterpret_cast<const xcb_button_release_event_t*>(event);
      if (release->event == icon.get() && !display.MenuIsOpen() && (release->detail == 1 || release->detail == 3)) {
        display.OpenMenu(release->root_x, release->root_y);
      }
      break;
    }
    default: break;
  }
}
