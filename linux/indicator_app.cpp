#include "linux/indicator_app.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "activity/counter_scale.h"
#include "app/author_address.h"
#include "app/icon_code.h"
#include "app/start_words.h"
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

// Named apart from the icon's own window, which is "gleamo".
constexpr char USAGE_WINDOW_TITLE[] = "gleamo usage";
constexpr char NO_TRAY_SUMMARY[] = "gleamo has no tray to show its icon in";

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
                             bool verbose)
    : settings(settings),
      source(std::move(diskStatsPath), std::move(sysBlockRoot)),
      diagnostics(verbose ? DiagnosticStream(stdout) : nullptr) {}

CIndicatorApp::~CIndicatorApp() {
  trays.reset();
  timer.reset();
  DropBus();
}

void CIndicatorApp::DropBus() {
  pendingNotify.reset();
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

int CIndicatorApp::OnTimer(sd_event_source* /*source*/, int fd, std::uint32_t /*events*/, void* self) {
  // Ticks missed while the process stood still make one tick, as
  // coalesced timer messages do on Windows.
  std::uint64_t expirations = 0;
  if (read(fd, &expirations, sizeof expirations) != sizeof expirations) return 0;
  static_cast<CIndicatorApp*>(self)->OnPollTimer();
  return 0;
}

void CIndicatorApp::OnPollTimer() {
  // From the file to the icon, each step handing its result to the next.
  ActivitySample total = 0;
  if (tick.first) {
    tick.first = false;
    // How the connection went is said once, on a terminal too, and reaches
    // a session's log at once rather than when the buffer fills.
    total = ConnectAndPoll(source, tick.scale, stdout, diagnostics);
    std::fflush(stdout);
  } else {
    total = PollDiskCounters(source, tick.scale, diagnostics);
  }
  tick.iconCode =
      MakeIconCode(settings, total, tick.previousTotal, tick.scale.readHeight, tick.scale.writeHeight, tick.iconCode);
  const bool active = total != tick.previousTotal;
  tick.previousTotal = total;
  IconCode showCode = tick.iconCode;
  if (trays->NewPictureEveryOtherTick()) {
    if (tick.sentLastTick) {
      // Waits a tick; a burst that is over by then still lights the lamp.
      tick.sentLastTick = false;
      tick.heldBurstCode = active && tick.iconCode != tick.shownIconCode ? tick.iconCode : 0;
      return;
    }
    if (!active && tick.heldBurstCode != 0) showCode = tick.heldBurstCode;
  }
  tick.heldBurstCode = 0;
  tick.sentLastTick = showCode != tick.shownIconCode;
  if (tick.sentLastTick) {
    trays->ShowIcon(showCode, TRAY_TOOLTIP);
    tick.shownIconCode = showCode;
  }
}

void CIndicatorApp::TellNoTray() {
  // Started from a desktop's autostart, nobody reads standard error: the
  // desktop shows it, once, and gleamo goes on waiting for a tray.
  if (!noTrayTold.First()) return;
  const std::string advice = NoTrayAdvice();
  std::fprintf(stderr, "gleamo: %s\n", advice.c_str());
  Notify(NO_TRAY_SUMMARY, advice, false);
}

void CIndicatorApp::Notify(const char* summary, const std::string& body, bool usage) {
  // Shown by the desktop's notification service, each one in place of the
  // last; without one, in a window of gleamo's own.
  if (!bus) {
    ShowWithoutNotifications(usage);
    return;
  }
  if (pendingNotify) return;  // a burst of clicks: the one on its way says it
  usageNotified = usage;
  const int result = sd_bus_call_method_async(bus.get(), pendingNotify.put(), "org.freedesktop.Notifications",
                                              "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                              "Notify", &OnNotifyReply, this, "susssasa{sv}i", "gleamo",
                                              lastNotification, "", summary, body.c_str(), 0, 0, -1);
  if (result < 0) ShowWithoutNotifications(usage);
}

void CIndicatorApp::ShowWithoutNotifications(bool usage) {
  if (usage) {
    PrintUsage();  // a terminal's user reads it there
    trays->ShowText(USAGE_WINDOW_TITLE, LinuxUsageText());
  } else {
    trays->ShowText(NO_TRAY_SUMMARY, NoTrayAdvice());
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
  app->ShowWithoutNotifications(app->usageNotified);
  return 0;
}

int CIndicatorApp::OnBusDisconnected(sd_bus_message*, void* self, sd_bus_error*) {
  static_cast<CIndicatorApp*>(self)->LoseBus("lost the connection to the session bus");
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
  Notify("Usage", LinuxUsageText(), true);
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
