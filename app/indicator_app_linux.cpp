#include "app/indicator_app_linux.h"

#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "activity/counter_scale.h"
#include "app/activity_tick.h"
#include "app/author_address.h"
#include "app/icon_code.h"
#include "app/start_words.h"
#include "res/resource.h"

extern char** environ;

namespace {

constexpr char USAGE_WINDOW_TITLE[] = "gleamo usage";

// Usage on standard output, which carries only wide output in this program
// (the counter lines are wide): a stream takes one orientation for good. On
// the X display too, where there is one, for a user without a terminal.
void PrintUsage(CXEmbedTray* display) {
  std::fwprintf(stdout, L"%s\n", LinuxUsageText().c_str());
  std::fflush(stdout);
  if (display != nullptr) display->ShowText(USAGE_WINDOW_TITLE, LinuxUsageText().c_str());
}

}  // namespace

std::string JoinArguments(int count, const char* const* words) {
  std::string joined;
  for (int i = 0; i < count; ++i) {
    if (i > 0) joined += ' ';
    joined += words[i];
  }
  return joined;
}

std::FILE* DiagnosticStream(std::FILE* stream) {
  const int fd = fileno(stream);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 3)) return nullptr;
  return stream;
}

CIndicatorApp::CIndicatorApp(const DisplaySettings& settings, std::string diskStatsPath, std::string sysBlockRoot,
                             bool verbose)
    : settings(settings),
      source(std::move(diskStatsPath), std::move(sysBlockRoot)),
      diagnostics(verbose ? DiagnosticStream(stdout) : nullptr) {}

CIndicatorApp::~CIndicatorApp() {
  RemoveTray();
  timer.reset();
  bus.reset();  // flushes what is still queued
}

void CIndicatorApp::RemoveTray() {
  pendingNotify.reset();
  pendingOpenUri.reset();
  watcherMatch.reset();
  tray = nullptr;
  statusNotifier.reset();  // gives up the name: the watcher drops the item
  xembed.reset();          // closes the X connection: the X tray drops the window
}

int CIndicatorApp::Run() {
  int result = sd_event_new(event.put());
  if (result < 0) {
    std::fprintf(stderr, "gleamo: no event loop: %s\n", std::strerror(-result));
    return 1;
  }

  // StatusNotifierItems need the session bus, XEmbed trays the X display:
  // either one is enough to show the icon.
  const int busResult = sd_bus_open_user(bus.put());
  xembed = CXEmbedTray::Connect(
      event.get(), [this](int commandId) { OnCommand(commandId); },
      [this] {
        // The icon was on the X display: the run has failed.
        if (tray == nullptr || tray == xembed.get()) sd_event_exit(event.get(), 1);
      });
  if (busResult < 0 && !xembed) {
    std::fprintf(stderr, "gleamo: no session bus and no X display to show the tray icon on: %s\n",
                 std::strerror(-busResult));
    return 1;
  }
  if (busResult >= 0) {
    sd_bus_attach_event(bus.get(), event.get(), SD_EVENT_PRIORITY_NORMAL);
    // The session bus goes away with the session: so does its tray icon.
    sd_bus_set_exit_on_disconnect(bus.get(), 1);
  }

  // The child of xdg-open is nobody's to wait for.
  signal(SIGCHLD, SIG_IGN);
  // SIGTERM (a session ending) and SIGINT end the run like "end program",
  // so the icon leaves the tray.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &endSignals, nullptr);
  sd_event_add_signal(event.get(), terminateSignal.put(), SIGTERM, nullptr, nullptr);
  sd_event_add_signal(event.get(), interruptSignal.put(), SIGINT, nullptr, nullptr);

  // A periodic timer of the kernel's own: each tick costs one wake-up and
  // one read, with nothing to re-arm.
  const int timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  const long intervalNsec = (settings.fastBlink ? 150L : 300L) * 1000 * 1000;
  const itimerspec period{{0, intervalNsec}, {0, intervalNsec}};
  result = timerFd < 0 ? -errno : 0;
  if (result == 0 && timerfd_settime(timerFd, 0, &period, nullptr) < 0) result = -errno;
  if (result == 0) result = sd_event_add_io(event.get(), timer.put(), timerFd, EPOLLIN, &OnTimer, this);
  if (result < 0) {
    if (timerFd >= 0) close(timerFd);
    std::fprintf(stderr, "gleamo: no poll timer: %s\n", std::strerror(-result));
    return 1;
  }
  sd_event_source_set_io_fd_own(timer.get(), 1);

  const int exitCode = sd_event_loop(event.get());

  if (diagnostics != nullptr) std::fflush(diagnostics);
  RemoveTray();
  if (bus) sd_bus_flush(bus.get());
  return std::max(exitCode, 0);
}

int CIndicatorApp::OnTimer(sd_event_source* /*source*/, int fd, std::uint32_t /*events*/, void* self) {
  // Ticks missed while the process stood still make one tick, as
  // coalesced timer messages do on Windows.
  std::uint64_t expirations = 0;
  if (read(fd, &expirations, sizeof expirations) != sizeof expirations) return 0;
  static_cast<CIndicatorApp*>(self)->OnPollTimer();
  return 0;
}

void CIndicatorApp::OnPollTimer() {
  RunActivityTick(
      settings, TickState<bool>{firstTick, previousTotal, iconCode, shownIconCode, tooltip, sizeof tooltip},
      [this] {
        // How the connection went is said once, on a terminal too, and
        // reaches a session's log at once rather than when the buffer fills.
        const ActivitySample total = ConnectAndPoll(source, stdout, diagnostics);
        std::fflush(stdout);
        return total;
      },
      [this] { return PollDiskCounters(source, diagnostics); }, [this] { RebuildTray(); });
}

void CIndicatorApp::RebuildTray() {
  if (!tray) {
    ChooseTray();
    return;
  }
  tray->ReplaceIcon(iconCode, tooltip);
}

void CIndicatorApp::ChooseTray() {
  const bool watcher = bus && WatcherPresent();
  if (!xembed || watcher) {
    UseStatusNotifier();
    return;
  }
  const bool xTray = xembed->TrayPresent();
  if (!xTray) {
    if (bus) {
      std::fprintf(stderr,
                   "gleamo: no StatusNotifierWatcher on the session bus and no system tray on the X display; the "
                   "icon appears in whichever starts first\n");
    } else {
      std::fprintf(stderr, "gleamo: no system tray on the X display; the icon appears when one starts\n");
    }
  }
  ShowThrough(*xembed);
  // A StatusNotifierWatcher that starts while no X tray holds the icon
  // takes it over.
  if (bus) {
    MatchNameOwnerChanges(bus.get(), watcherMatch.put(), &OnWatcherOwnerChanged, this);
  }
}

void CIndicatorApp::UseStatusNotifier() {
  watcherMatch.reset();
  tray = nullptr;
  xembed.reset();
  statusNotifier = std::make_unique<CStatusNotifier>(bus.get(), [this](int commandId) { OnCommand(commandId); });
  ShowThrough(*statusNotifier);
}

void CIndicatorApp::ShowThrough(CTrayIcon& chosen) {
  tray = &chosen;
  tray->SetLabels(TRAY_TOP_LABEL, TRAY_BOTTOM_LABEL);
  tray->ReplaceIcon(iconCode, tooltip);  // the first picture is there before any host asks
  tray->Add();
}

bool CIndicatorApp::WatcherPresent() {
  unique_bus_message reply;
  int owned = 0;
  if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", nullptr, reply.put(), "s", SNI_WATCHER_NAME) < 0 ||
      sd_bus_message_read(reply.get(), "b", &owned) < 0) {
    return false;
  }
  return owned != 0;
}

int CIndicatorApp::OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* /*error*/) {
  auto* app = static_cast<CIndicatorApp*>(self);
  if (!WatcherStarted(message)) return 0;
  if (app->tray == app->xembed.get() && !app->xembed->Docked()) app->UseStatusNotifier();
  return 0;
}

void CIndicatorApp::OnCommand(int commandId) {
  switch (commandId) {
    case ID_HELP: ShowUsage(); break;
    case ID_MEET_AUTHOR: OpenAuthorPage(); break;
    case ID_END_PROGRAM:
      timer.reset();
      sd_event_exit(event.get(), 0);
      break;
    default: break;
  }
}

void CIndicatorApp::ShowUsage() {
  if (!bus) {
    PrintUsage(xembed.get());
    return;
  }
  const int result = sd_bus_call_method_async(bus.get(), pendingNotify.put(), "org.freedesktop.Notifications",
                                              "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                              "Notify", &OnNotifyReply, this, "susssasa{sv}i", "gleamo", 0u, "",
                                              "Usage", LinuxUsageText().c_str(), 0, 0, -1);
  if (result < 0) {
    PrintUsage(xembed.get());
  }
}

int CIndicatorApp::OnNotifyReply(sd_bus_message* reply, void* self, sd_bus_error* /*error*/) {
  // No notification service: the text goes where a terminal user sees it.
  if (sd_bus_message_is_method_error(reply, nullptr)) PrintUsage(static_cast<CIndicatorApp*>(self)->xembed.get());
  return 0;
}

void CIndicatorApp::OpenAuthorPage() {
  if (!bus) {
    OnOpenUriReply(nullptr, this, nullptr);
    return;
  }
  const int result = sd_bus_call_method_async(bus.get(), pendingOpenUri.put(), "org.freedesktop.portal.Desktop",
                                              "/org/freedesktop/portal/desktop", "org.freedesktop.portal.OpenURI",
                                              "OpenURI", &OnOpenUriReply, this, "ssa{sv}", "", AUTHOR_ADDRESS, 0);
  if (result < 0) {
    OnOpenUriReply(nullptr, this, nullptr);
  }
}

int CIndicatorApp::OnOpenUriReply(sd_bus_message* reply, void* /*self*/, sd_bus_error* /*error*/) {
  if (reply != nullptr && !sd_bus_message_is_method_error(reply, nullptr)) return 0;
  // No portal: xdg-open, with the signal state a fresh program expects.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char program[] = "xdg-open";
  char address[sizeof AUTHOR_ADDRESS];
  std::memcpy(address, AUTHOR_ADDRESS, sizeof address);
  char* arguments[] = {program, address, nullptr};
  pid_t child = 0;
  const int result = posix_spawnp(&child, program, nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) std::fprintf(stderr, "gleamo: cannot open %s: %s\n", AUTHOR_ADDRESS, std::strerror(result));
  return 0;
}
