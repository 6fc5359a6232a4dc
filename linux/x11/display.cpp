#include "linux/x11/display.h"

#include <sys/epoll.h>

#include <cstdio>

#include "linux/x11/x_resources.h"

namespace {

const xcb_screen_t* ScreenAt(xcb_connection_t* connection, int screenNumber) {
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  return roots.rem != 0 ? roots.data : nullptr;
}

}  // namespace

std::unique_ptr<CXDisplay> CXDisplay::Connect(sd_event* event, CTrayIcon::CommandHandler onCommand,
                                              LostHandler onLost) {
  int screenNumber = 0;
  unique_xcb_connection connection(xcb_connect(nullptr, &screenNumber));
  // XCB hands back an object in an error state rather than null.
  if (xcb_connection_has_error(connection.get())) return nullptr;
  const xcb_screen_t* screen = ScreenAt(connection.get(), screenNumber);
  if (screen == nullptr) return nullptr;
  std::unique_ptr<CXDisplay> display(
      new CXDisplay(std::move(connection), screen, screenNumber, event, std::move(onCommand), std::move(onLost)));
  if (!display->Watch()) return nullptr;
  return display;
}

CXDisplay::CXDisplay(unique_xcb_connection connection, const xcb_screen_t* screen, int screenNumber, sd_event* loop,
                     CTrayIcon::CommandHandler onCommand, LostHandler onLost)
    : connection(std::move(connection)),
      screen(screen),
      screenNumber(screenNumber),
      loop(loop),
      onLost(std::move(onLost)),
      menu(this->connection.get(), screen, std::move(onCommand)),
      text(this->connection.get(), screen) {}

CXDisplay::~CXDisplay() {
  // Closing the connection destroys every window of ours, and a menu still
  // open goes with its grabs.
  readable.reset();
}

bool CXDisplay::Watch() {
  const int fd = xcb_get_file_descriptor(connection.get());
  if (sd_event_add_io(loop, readable.put(), fd, EPOLLIN, &OnReadable, this) < 0) return false;
  // Replies read while waiting for another can bring events along, which
  // then wait in XCB's queue, not on the socket: look there before every
  // sleep, and send what the handlers asked for.
  sd_event_source_set_prepare(readable.get(), &OnPrepare);
  return true;
}

int CXDisplay::OnPrepare(sd_event_source* /*source*/, void* self) {
  auto* display = static_cast<CXDisplay*>(self);
  while (auto event = Reply(xcb_poll_for_queued_event(display->connection.get()))) display->Dispatch(event.get());
  FlushRequests(display->connection.get());
  return 0;
}

int CXDisplay::OnReadable(sd_event_source* /*source*/, int /*fd*/, std::uint32_t /*events*/, void* self) {
  auto* display = static_cast<CXDisplay*>(self);
  while (auto event = Reply(xcb_poll_for_event(display->connection.get()))) display->Dispatch(event.get());
  if (xcb_connection_has_error(display->connection.get())) {
    // The X server went away, and the icon and any window of ours with it;
    // whether the program can go on is the owner's to say.
    std::fprintf(stderr, "gleamo: lost the connection to the X display\n");
    display->readable.reset();
    // Taken out first: the handler may destroy the display, and with it
    // the handler's own object.
    const LostHandler lost = std::move(display->onLost);
    if (lost) lost();
    return 0;
  }
  FlushRequests(display->connection.get());
  return 0;
}

void CXDisplay::Dispatch(const xcb_generic_event_t* event) {
  if (menu.Dispatch(event) || text.Dispatch(event)) return;
  if (onEvent) onEvent(event);
}
