// The Linux controller: one sd-event loop runs the poll tick and the tray
// icon's traffic (D-Bus, or the X display's for XEmbed trays) on a single
// thread, as the hidden dialog does on Windows.
#pragma once

#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "activity/counter_scale.h"
#include "app/display_settings.h"
#include "common/gleamo_types.h"
#include "linux/disk_stats.h"
#include "linux/said_once.h"
#include "linux/systemd_handles.h"
#include "linux/tray_choice.h"
#include "res/program_texts.h"

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed; before
// anything else opens a file.
void KeepStandardStreamsOpen();

// Puts standard output and error of a pipe or terminal on descriptions of
// their own that never block: a reader that does not keep up loses lines
// rather than holding the event loop. Regular files never block; a socket's
// description may be shared with the session (a journal stream) and is
// left as it is. Before anything is written to either.
void UnblockStandardStreams();

// Whether a line written to the stream now would go out at once; false
// for a reader that has fallen behind. brokenOut: nobody will ever read.
bool StreamTakesLines(std::FILE* stream, bool& brokenOut);

// The argument words as one string, joined by single blanks, the way the
// Windows entry receives its command line.
std::string JoinArguments(int count, const char* const* words);

// Where the counter lines asked for with --verbose go: the stream, unless
// its descriptor is the null device (nobody reads them: not worth the
// formatting).
std::FILE* DiagnosticStream(std::FILE* stream);

class CIndicatorApp {
 public:
  // Nothing runs until Run. The counter source is named by its two paths so
  // that tests can hand in files of their own. The connection lines go to
  // standard output once; the counter lines of every tick only when verbose.
  // Disks named count in place of every physical disk.
  CIndicatorApp(const DisplaySettings& settings, std::string diskStatsPath, std::string sysBlockRoot,
                bool verbose = false, const std::vector<std::string>& disks = {});
  ~CIndicatorApp();
  CIndicatorApp(const CIndicatorApp&) = delete;
  CIndicatorApp& operator=(const CIndicatorApp&) = delete;

  // Connects to the session bus and the X display, starts the tick (300 ms,
  // 150 ms fast) and runs until "end program", SIGTERM or SIGINT; then
  // takes the icon away. Returns 0; 1 when there is neither a session bus
  // nor an X display to show an icon on, or when the one the icon was shown
  // through is lost or never answers, so that a session manager can start
  // it again.
  int Run();

  // One tick: sample, decide the icon code, rebuild the tray on a change,
  // and tell the tray of a new tooltip.
  void OnPollTimer();
  // What a menu item's click does.
  void OnCommand(int commandId);

 private:
  // What one tick hands the next.
  struct Tick {
    bool first = true;  // the next tick connects before sampling
    ActivitySample previousTotal = 0;
    IconCode iconCode = 18;
    IconCode shownIconCode = 0;  // the code the tray last showed
    // For a host sent a picture every other tick at most: whether one went
    // out at the last tick, and a burst of this tick that had to wait.
    bool sentLastTick = false;
    IconCode heldBurstCode = 0;
    CounterScale scale;
  };

  // What a notification says, for when there is no service to show it.
  enum class Notice { NoTray, Usage, Commands };

  std::FILE* LinesOfThisTick();
  void TellNoTray();
  void OfferCommands();
  void Notify(const char* summary, const std::string& body, Notice notice);
  void ShowWithoutNotifications(Notice notice);
  void LoseBus(const char* why);
  void DropBus();
  void ShowUsage();
  void OpenAuthorPage();
  void End(int exitCode);
  static int OnTimer(sd_event_source* source, std::uint64_t due, void* self);
  static int OnEndSignal(sd_event_source* source, const signalfd_siginfo* info, void* self);
  static int OnBusDisconnected(sd_bus_message* message, void* self, sd_bus_error* error);
  static int OnBusDeadline(sd_event_source* source, std::uint64_t usec, void* self);
  static int OnNotifyReply(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int OnNotificationAction(sd_bus_message* message, void* self, sd_bus_error* error);
  static int OnOpenUriReply(sd_bus_message* reply, void* self, sd_bus_error* error);

  const DisplaySettings& settings;
  CDiskStatsSource source;
  CDiskTooltip tooltip{TRAY_TOOLTIP};
  // Standard output for the counter lines with --verbose; null otherwise,
  // and once nobody can read them any more.
  std::FILE* diagnostics;
  unsigned droppedTicks = 0;  // whose lines a slow reader made us leave out
  unique_sd_event event;
  unique_sd_bus bus;
  unique_sd_event_source timer;
  std::uint64_t tickUsec = 0;
  static constexpr std::array<int, 4> END_SIGNALS{SIGTERM, SIGHUP, SIGINT, SIGQUIT};
  std::array<unique_sd_event_source, END_SIGNALS.size()> endSignalSources;
  unique_sd_event_source busDeadline;
  unique_bus_slot busDisconnected;
  std::unique_ptr<CTrayChoice> trays;
  SaidOnce<> noTrayTold;
  unique_bus_slot pendingNotify;
  std::uint32_t lastNotification = 0;  // replaced by the next one
  Notice lastNotice = Notice::NoTray;  // what the last one says
  unique_bus_slot notificationActions;
  SaidOnce<> noMenuTold;
  unique_bus_slot pendingOpenUri;
  Tick tick;
};
