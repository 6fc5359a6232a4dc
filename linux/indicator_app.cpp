#include "linux/indicator_app.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>

#include "activity/counter_scale.h"
#include "app/author_address.h"
#include "app/icon_code.h"
#include "app/start_words.h"
#include "linux/sni/item.h"
#include "linux/tray_icon.h"
#include "res/program_texts.h"
#include "res/resource.h"

namespace {

// Usage on standard output, which carries only wide output in this program
// (the counter lines are wide): a stream takes one orientation for good.
void PrintUsage() {
  std::fwprintf(stdout, L"%s\n", LinuxUsageText().c_str());
  std::fflush(stdout);
}

}  // namespace

void KeepStandardStreamsOpen() {
  // A launcher that closed standard output or error hands its descriptor
  // to the next file opened, such as the X connection's socket, and the
  // program's lines would go into the X stream.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor: this one.
    if (open("/dev/null", O_RDWR | O_CLOEXEC) < 0) return;
  }
}

void UnblockStandardStreams() {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode))) continue;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_NONBLOCK) != 0) continue;
    // Setting O_NONBLOCK on the inherited description would change it for
    // the shell or launcher that shares it: opened again, it is ours alone.
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int own = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own < 0) continue;
    dup2(own, fd);
    close(own);
  }
  // One write per line: a line a pipe takes arrives whole, or not at all.
  setvbuf(stdout, nullptr, _IOLBF, 0);
}

bool StreamTakesLines(std::FILE* stream, bool& brokenOut) {
  pollfd output{fileno(stream), POLLOUT, 0};
  brokenOut = poll(&output, 1, 0) > 0 && (output.revents & (POLLERR | POLLNVAL)) != 0;
  return !brokenOut && (output.revents & POLLOUT) != 0;
}

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

namespace {

// A bus that has not finished its greeting by then never will: sd-bus
// would wait 90 s, and block the end of the program meanwhile.
constexpr std::uint64_t BUS_ANSWER_USEC = 5'000'000;
// Every bus call of ours is answered in this time, or counts as failed.
constexpr std::uint64_t BUS_CALL_USEC = 5'000'000;
// Whether the bus still runs, once the connection to it has closed.
constexpr std::uint64_t BUS_PROBE_USEC = 500'000;

// Named apart from the icon's own window, which is "gleamo".
constexpr char USAGE_WINDOW_TITLE[] = "gleamo usage";
constexpr char NO_TRAY_SUMMARY[] = "gleamo has no tray to show its icon in";
constexpr char NOTIFICATIONS[] = "org.freedesktop.Notifications";
constexpr char NOTIFICATIONS_PATH[] = "/org/freedesktop/Notifications";

bool OnGnome() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return desktop != nullptr && std::strstr(desktop, "GNOME") != nullptr;
}

// What to do about a desktop without a tray, named for the desktop.
std::string NoTrayAdvice() {
  if (OnGnome()) {
    return "GNOME shows tray icons with the \"AppIndicator and KStatusNotifierItem Support\" extension: install it "
           "(package gnome-shell-extension-appindicator), switch it on in Extensions, and the icon appears at "
           "once.";
  }
  return "Add a tray to the panel (Status Tray, System Tray or Notification Area), or start one such as trayer, "
         "and the icon appears at once.";
}

}  // namespace

CIndicatorApp::CIndicatorApp(const DisplaySettings& settings, std::string diskStatsPath, std::string sysBlockRoot,
                             bool verbose, const std::vector<std::string>& disks)
    : settings(settings),
      source(std::move(diskStatsPath), std::move(sysBlockRoot)),
      diagnostics(verbose ? DiagnosticStream(stdout) : nullptr) {
  if (!disks.empty()) source.CountOnly(disks);
}

CIndicatorApp::~CIndicatorApp() {
  trays.reset();
  timer.reset();
  DropBus();
}

void CIndicatorApp::DropBus() {
  pendingNotify.reset();
  notificationActions.reset();
  pendingOpenUri.reset();
  busDisconnected.reset();
  busDeadline.reset();
  if (trays) trays->DropItem();
  // Only a bus that is up can take what is still queued (the item
  // leaving); waiting on one that never answered would hold the end up.
  if (bus && sd_bus_is_ready(bus.get()) <= 0) sd_bus_close(bus.get());
  bus.reset();
}

int CIndicatorApp::Run() {
  UnblockStandardStreams();
  int result = sd_event_new(event.put());
  if (result < 0) {
    std::fprintf(stderr, "gleamo: no event loop: %s\n", std::strerror(-result));
    return 1;
  }

  // StatusNotifierItems need the session bus, XEmbed trays the X display:
  // either one is enough to show the icon. Neither connection waits for an
  // answer here.
  const int busResult = sd_bus_open_user(bus.put());
  trays = std::make_unique<CTrayChoice>(event.get(), CTrayChoice::Handlers{
                                                         [this](int commandId) { OnCommand(commandId); },
                                                         [this] { TellNoTray(); },
                                                         [this] { End(1); },
                                                         [this] { OfferCommands(); },
                                                     });
  if (busResult < 0 && !trays->HasXDisplay()) {
    std::fprintf(stderr, "gleamo: no session bus and no X display to show the tray icon on: %s\n",
                 std::strerror(-busResult));
    return 1;
  }
  if (busResult >= 0) {
    sd_bus_set_method_call_timeout(bus.get(), BUS_CALL_USEC);
    sd_bus_attach_event(bus.get(), event.get(), SD_EVENT_PRIORITY_NORMAL);
    sd_bus_match_signal_async(bus.get(), busDisconnected.put(), nullptr, "/org/freedesktop/DBus/Local",
                              "org.freedesktop.DBus.Local", "Disconnected", &OnBusDisconnected, nullptr, this);
    sd_event_add_time_relative(event.get(), busDeadline.put(), CLOCK_MONOTONIC, BUS_ANSWER_USEC, 0, &OnBusDeadline,
                               this);
    trays->AttachBus(bus.get());
    // The commands offered as a notification's actions come back this way.
    sd_bus_match_signal_async(bus.get(), notificationActions.put(), NOTIFICATIONS, NOTIFICATIONS_PATH, NOTIFICATIONS,
                              "ActionInvoked", &OnNotificationAction, nullptr, this);
  } else {
    bus.reset();
  }

  // The child of xdg-open is nobody's to wait for. A reader of standard
  // output that went away must not end the program: its lines just stop.
  // Signals that mean nothing to a lamp are not a reason to die silently.
  for (const int ignored : {SIGCHLD, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM}) signal(ignored, SIG_IGN);
  // A session's end (SIGTERM, or SIGHUP from its manager), SIGINT and
  // SIGQUIT end the run like "end program", so the icon leaves the tray.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  for (const int ending : END_SIGNALS) sigaddset(&endSignals, ending);
  sigprocmask(SIG_BLOCK, &endSignals, nullptr);
  for (std::size_t i = 0; i < END_SIGNALS.size(); ++i) {
    sd_event_add_signal(event.get(), endSignalSources[i].put(), END_SIGNALS[i], &OnEndSignal, this);
  }

  // The tick shares the loop's timer with the bus's deadlines: a descriptor
  // of its own would be one too many under a tight ulimit.
  tickUsec = std::uint64_t{settings.fastBlink ? 150U : 300U} * 1000;
  std::uint64_t now = 0;
  sd_event_now(event.get(), CLOCK_MONOTONIC, &now);
  result = sd_event_add_time(event.get(), timer.put(), CLOCK_MONOTONIC, now + tickUsec, 1, &OnTimer, this);
  if (result >= 0) result = sd_event_source_set_enabled(timer.get(), SD_EVENT_ON);
  if (result < 0) {
    std::fprintf(stderr, "gleamo: no poll timer: %s\n", std::strerror(-result));
    return 1;
  }

  const int exitCode = sd_event_loop(event.get());

  if (diagnostics != nullptr) std::fflush(diagnostics);
  trays.reset();
  DropBus();
  return exitCode < 0 ? 1 : exitCode;
}

void CIndicatorApp::End(int exitCode) {
  timer.reset();
  // The bus flushes what is queued as the loop ends, which on a bus that
  // never finished its greeting would wait for it: such a bus is closed.
  if (bus && sd_bus_is_ready(bus.get()) <= 0) sd_bus_close(bus.get());
  sd_event_exit(event.get(), exitCode);
}

int CIndicatorApp::OnEndSignal(sd_event_source*, const signalfd_siginfo*, void* self) {
  static_cast<CIndicatorApp*>(self)->End(0);
  return 0;
}

int CIndicatorApp::OnTimer(sd_event_source* source, std::uint64_t due, void* self) {
  auto* app = static_cast<CIndicatorApp*>(self);
  // Ticks missed while the process stood still make one tick, as
  // coalesced timer messages do on Windows.
  std::uint64_t now = 0;
  sd_event_now(sd_event_source_get_event(source), CLOCK_MONOTONIC, &now);
  std::uint64_t next = due + app->tickUsec;
  if (next <= now) next = now + app->tickUsec;
  sd_event_source_set_time(source, next);
  sd_event_source_set_enabled(source, SD_EVENT_ON);
  app->OnPollTimer();
  return 0;
}

void CIndicatorApp::OnPollTimer() {
  // From the file to the icon, each step handing its result to the next.
  ActivitySample total = 0;
  std::FILE* out = LinesOfThisTick();
  if (tick.first) {
    tick.first = false;
    // How the connection went is said once, on a terminal too, and reaches
    // a session's log at once rather than when the buffer fills.
    total = ConnectAndPoll(source, tick.scale, stdout, out);
    std::fflush(stdout);
  } else {
    // Out of descriptors at the start (a tight ulimit), the file may open
    // once another is closed.
    if (!source.IsOpen() && source.OpenMayWorkLater() && source.Open()) {
      std::fwprintf(stdout, L"\nConnected with %s\n", source.Path().c_str());
      std::fflush(stdout);
    }
    total = PollDiskCounters(source, tick.scale, out);
  }
  if (out != nullptr && std::ferror(out) != 0) {
    std::clearerr(out);  // the reader fell behind in the middle
    ++droppedTicks;
  }
  tick.iconCode =
      MakeIconCode(settings, total, tick.previousTotal, tick.scale.readHeight, tick.scale.writeHeight, tick.iconCode);
  const bool active = total != tick.previousTotal;
  tick.previousTotal = total;
  std::uint64_t now = 0;
  sd_event_now(event.get(), CLOCK_MONOTONIC, &now);
  const bool newTooltip = tooltip.Refresh(source, now);
  IconCode showCode = tick.iconCode;
  bool waits = false;
  if (trays->NewPictureEveryOtherTick()) {
    if (tick.sentLastTick) {
      // Waits a tick; a burst that is over by then still lights the lamp.
      tick.sentLastTick = false;
      tick.heldBurstCode = active && tick.iconCode != tick.shownIconCode ? tick.iconCode : 0;
      waits = true;
    } else if (!active && tick.heldBurstCode != 0) {
      showCode = tick.heldBurstCode;
    }
  }
  if (!waits) {
    tick.heldBurstCode = 0;
    tick.sentLastTick = showCode != tick.shownIconCode;
  }
  if (!waits && tick.sentLastTick) {
    trays->ShowIcon(showCode, tooltip.Text().c_str());
    tick.shownIconCode = showCode;
  } else if (newTooltip) {
    trays->ShowTooltip(tooltip.Text().c_str());
  }
}

std::FILE* CIndicatorApp::LinesOfThisTick() {
  if (diagnostics == nullptr) return nullptr;
  bool broken = false;
  if (!StreamTakesLines(diagnostics, broken)) {
    if (broken) diagnostics = nullptr;  // the reader is gone: the lines stop
    ++droppedTicks;
    return nullptr;
  }
  if (droppedTicks > 0) {
    std::fwprintf(diagnostics, L"(the counter lines of %u ticks were left out: they were not read in time)\n",
                  droppedTicks);
    droppedTicks = 0;
  }
  return diagnostics;
}

void CIndicatorApp::TellNoTray() {
  // Started from a desktop's autostart, nobody reads standard error: the
  // desktop shows it, once, and gleamo goes on waiting for a tray.
  if (!noTrayTold.First()) return;
  const std::string advice = NoTrayAdvice();
  std::fprintf(stderr, "gleamo: %s\n", advice.c_str());
  Notify(NO_TRAY_SUMMARY, advice, Notice::NoTray);
}

void CIndicatorApp::OfferCommands() {
  // A Wayland session without Xwayland: the menu's commands as the actions
  // of a notification, which servers such as mako and dunst offer.
  std::string body;
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) body += std::string(body.empty() ? "" : ", ") + item.label;
  Notify(SNI_TITLE, body, Notice::Commands);
}

void CIndicatorApp::Notify(const char* summary, const std::string& body, Notice notice) {
  // Shown by the desktop's notification service, each one in place of the
  // last; without one, in a window of gleamo's own.
  if (!bus) {
    ShowWithoutNotifications(notice);
    return;
  }
  if (pendingNotify) return;  // a burst of clicks: the one on its way says it
  lastNotice = notice;
  unique_bus_message call;
  int result =
      sd_bus_message_new_method_call(bus.get(), call.put(), NOTIFICATIONS, NOTIFICATIONS_PATH, NOTIFICATIONS, "Notify");
  if (result >= 0)
    result = sd_bus_message_append(call.get(), "susss", "gleamo", lastNotification, "", summary, body.c_str());
  // Actions are pairs of a key, the command's id, and its label.
  if (result >= 0) result = sd_bus_message_open_container(call.get(), 'a', "s");
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
    if (result < 0 || notice != Notice::Commands) break;
    result = sd_bus_message_append(call.get(), "ss", std::to_string(item.id).c_str(), item.label);
  }
  if (result >= 0) result = sd_bus_message_close_container(call.get());
  if (result >= 0) result = sd_bus_message_append(call.get(), "a{sv}i", 0, -1);
  if (result >= 0) result = sd_bus_call_async(bus.get(), pendingNotify.put(), call.get(), &OnNotifyReply, this, 0);
  if (result < 0) ShowWithoutNotifications(notice);
}

void CIndicatorApp::ShowWithoutNotifications(Notice notice) {
  switch (notice) {
    case Notice::Usage:
      PrintUsage();  // a terminal's user reads it there
      trays->ShowText(USAGE_WINDOW_TITLE, LinuxUsageText());
      break;
    case Notice::NoTray: trays->ShowText(NO_TRAY_SUMMARY, NoTrayAdvice()); break;
    case Notice::Commands:
      if (noMenuTold.First()) {
        std::fprintf(stderr,
                     "gleamo: no menu: there is no X display to draw it on (a Wayland session without Xwayland) "
                     "and no notification service to offer its commands; end gleamo with SIGTERM\n");
      }
      break;
  }
}

int CIndicatorApp::OnNotifyReply(sd_bus_message* reply, void* self, sd_bus_error* /*error*/) {
  auto* app = static_cast<CIndicatorApp*>(self);
  app->pendingNotify.reset();
  if (!sd_bus_message_is_method_error(reply, nullptr)) {
    if (sd_bus_message_read(reply, "u", &app->lastNotification) < 0) app->lastNotification = 0;
    return 0;
  }
  // No notification service: where a user sees it still.
  app->ShowWithoutNotifications(app->lastNotice);
  return 0;
}

int CIndicatorApp::OnNotificationAction(sd_bus_message* message, void* self, sd_bus_error* /*error*/) {
  auto* app = static_cast<CIndicatorApp*>(self);
  std::uint32_t id = 0;
  const char* key = nullptr;
  if (sd_bus_message_read(message, "us", &id, &key) < 0) return 0;
  // Only the actions of gleamo's own commands notification count.
  if (app->lastNotice != Notice::Commands || id == 0 || id != app->lastNotification) return 0;
  for (const TrayMenuItem& item : TRAY_MENU_ITEMS) {
    if (std::to_string(item.id) == key) app->OnCommand(item.id);
  }
  return 0;
}

int CIndicatorApp::OnBusDisconnected(sd_bus_message*, void* self, sd_bus_error*) {
  // sd-bus closes the connection itself on a message it cannot take in
  // (larger than the memory the process may use, or malformed); the bus
  // still answering a fresh connection tells that apart from its end.
  unique_sd_bus probe;
  bool busRuns = sd_bus_open_user(probe.put()) >= 0;
  if (busRuns) {
    sd_bus_set_method_call_timeout(probe.get(), BUS_PROBE_USEC);
    busRuns = sd_bus_call_method(probe.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "GetId", nullptr, nullptr, "") >= 0;
  }
  static_cast<CIndicatorApp*>(self)->LoseBus(
      busRuns ? "the session bus sent a message too large for gleamo's memory, or malformed, and the connection "
                "to it had to close"
              : "lost the connection to the session bus");
  return 0;
}

int CIndicatorApp::OnBusDeadline(sd_event_source*, std::uint64_t, void* self) {
  auto* app = static_cast<CIndicatorApp*>(self);
  app->busDeadline.reset();
  if (app->bus && sd_bus_is_ready(app->bus.get()) <= 0) app->LoseBus("the session bus does not answer");
  return 0;
}

void CIndicatorApp::LoseBus(const char* why) {
  // An icon in an X tray needs no bus: it stays, and gleamo with it. An
  // item without its bus is gone: the program ends with an error, so that
  // a session manager can start it again.
  if (trays->ShownAsItem() || !trays->HasXDisplay()) {
    std::fprintf(stderr, "gleamo: %s\n", why);
    End(1);
    return;
  }
  std::fprintf(stderr, "gleamo: %s; going on without it\n", why);
  DropBus();
}

void CIndicatorApp::OnCommand(int commandId) {
  switch (commandId) {
    case ID_HELP: ShowUsage(); break;
    case ID_MEET_AUTHOR: OpenAuthorPage(); break;
    case ID_END_PROGRAM: End(0); break;
    default: break;
  }
}

void CIndicatorApp::ShowUsage() {
  Notify("Usage", LinuxUsageText(), Notice::Usage);
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
