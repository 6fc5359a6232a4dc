#include "linux/tray_choice.h"

#include <cstdio>
#include <ctime>

#include "res/program_texts.h"

namespace {

// How long the start waits for the session bus to say whether a
// StatusNotifierWatcher runs before an X tray may take the icon; a healthy
// bus answers in milliseconds.
constexpr std::uint64_t CHOICE_WAIT_USEC = 1'000'000;
// At login the panel may start a moment after gleamo: only a tray still
// missing after this is told where a user sees it.
constexpr std::uint64_t NO_TRAY_USEC = 5'000'000;

}  // namespace

CTrayChoice::CTrayChoice(sd_event* event, Handlers handlers) : event(event), handlers(std::move(handlers)) {
  xembed = CXEmbedTray::Connect(
      event, [this](int commandId) { this->handlers.command(commandId); }, [this] { OnDisplayLost(); });
}

CTrayChoice::~CTrayChoice() {
  statusNotifier.reset();
  xembed.reset();  // closes the X connection: the X tray drops the window
}

void CTrayChoice::AttachBus(sd_bus* bus) {
  statusNotifier = std::make_unique<CStatusNotifier>(
      bus, event, [this](int commandId) { handlers.command(commandId); },
      [this](int x, int y) { return OpenMenuAt(x, y); }, [this](bool itemShown) { OnItemShown(itemShown); });
}

void CTrayChoice::DropItem() {
  if (!statusNotifier) return;
  statusNotifier.reset();  // gives up the name: the watcher drops the item
  if (shown == Shown::Item) shown = Shown::Nowhere;
  if (started) WaitForXTray();
}

void CTrayChoice::ShowIcon(IconCode code, const char* tooltip) {
  if (!started) {
    started = true;
    StartTrays(code, tooltip);
    return;
  }
  // Both keep the picture, so whichever host comes first shows it at once.
  if (statusNotifier) statusNotifier->ReplaceIcon(code, tooltip);
  if (xembed) xembed->ReplaceIcon(code, tooltip);
}

void CTrayChoice::StartTrays(IconCode code, const char* tooltip) {
  for (CTrayIcon* tray : {static_cast<CTrayIcon*>(statusNotifier.get()), static_cast<CTrayIcon*>(xembed.get())}) {
    if (tray == nullptr) continue;
    tray->SetLabels(TRAY_TOP_LABEL, TRAY_BOTTOM_LABEL);
    tray->ReplaceIcon(code, tooltip);  // the first picture is there before any host asks
  }
  sd_event_add_time_relative(event, noTrayDeadline.put(), CLOCK_MONOTONIC, NO_TRAY_USEC, 0, &OnNoTrayDeadline, this);
  if (statusNotifier && statusNotifier->Add()) {
    // A watcher, where one runs, is preferred to an X tray on the same
    // desktop (Plasma's X trays are a proxy for items): X waits for the
    // bus's answer, or for a bus that does not give one.
    if (xembed) {
      sd_event_add_time_relative(event, choiceDeadline.put(), CLOCK_MONOTONIC, CHOICE_WAIT_USEC, 0, &OnChoiceDeadline,
                                 this);
    }
    return;
  }
  WaitForXTray();
}

int CTrayChoice::OnChoiceDeadline(sd_event_source*, std::uint64_t, void* self) {
  auto* choice = static_cast<CTrayChoice*>(self);
  if (choice->shown == Shown::Nowhere) choice->WaitForXTray();
  return 0;
}

int CTrayChoice::OnNoTrayDeadline(sd_event_source*, std::uint64_t, void* self) {
  auto* choice = static_cast<CTrayChoice*>(self);
  choice->noTrayDeadline.reset();
  if (choice->shown == Shown::Nowhere && !choice->everShown) choice->handlers.noTray();
  return 0;
}

void CTrayChoice::OnItemShown(bool itemShown) {
  if (itemShown) {
    if (shown == Shown::XTray) {
      statusNotifier->Remove();  // the X tray was first: one icon is enough
      return;
    }
    shown = Shown::Item;
    everShown = true;
    waitingForXTray = false;
    if (xembed) xembed->Remove();
    return;
  }
  if (shown == Shown::Item) shown = Shown::Nowhere;
  // No watcher, or it went away: an X tray may show the icon meanwhile,
  // while the item waits for the next watcher.
  if (xembed) {
    WaitForXTray();
  } else {
    SayNoHostOnce();
  }
}

void CTrayChoice::WaitForXTray() {
  choiceDeadline.reset();
  if (!xembed || displayLost || waitingForXTray || shown == Shown::XTray) return;
  waitingForXTray = true;
  xembed->Add();
  FollowXTray();
  if (shown == Shown::Nowhere) SayNoHostOnce();
}

void CTrayChoice::FollowXTray() {
  if (displayLost) {
    // Let go outside the XEmbed icon's own call that told of the loss.
    xembed.reset();
    displayLost = false;
    waitingForXTray = false;
    if (shown == Shown::XTray) shown = Shown::Nowhere;
  }
  if (!xembed || !waitingForXTray) return;
  const bool docked = xembed->Docked();
  if (docked && shown != Shown::XTray) {
    shown = Shown::XTray;
    everShown = true;
    if (statusNotifier) statusNotifier->Remove();
  } else if (!docked && shown == Shown::XTray) {
    // The X tray went away: a watcher may take the icon, or the next tray.
    shown = Shown::Nowhere;
    if (statusNotifier) statusNotifier->Add();
  }
}

void CTrayChoice::OnDisplayLost() {
  // The XEmbed icon has said it; an icon shown there is gone.
  if (shown == Shown::XTray || !statusNotifier) {
    handlers.iconLost();
    return;
  }
  displayLost = true;  // only gleamo's own menu and texts go with it
}

void CTrayChoice::SayNoHostOnce() {
  // Said when the icon has found no host yet; a host that restarts is not
  // worth a word.
  if (noHostSaid || everShown) return;
  noHostSaid = true;
  if (statusNotifier && xembed) {
    std::fprintf(stderr,
                 "gleamo: no StatusNotifierWatcher on the session bus and no system tray on the X display; the "
                 "icon appears in whichever starts first\n");
  } else if (xembed) {
    std::fprintf(stderr, "gleamo: no system tray on the X display; the icon appears when one starts\n");
  } else {
    std::fprintf(stderr,
                 "gleamo: no StatusNotifierWatcher on the session bus; the icon appears when a tray host starts\n");
  }
}

bool CTrayChoice::OpenMenuAt(int x, int y) {
  if (!xembed) return false;
  xembed->OpenMenu(x, y);
  return true;
}

void CTrayChoice::ShowText(const char* title, const std::string& text) {
  if (xembed) xembed->ShowText(title, text.c_str());
}
