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
  display = CXDisplay::Connect(
      event, [this](int commandId) { this->handlers.command(commandId); }, [this] { Apply(state.XDisplayLost()); });
  if (display) {
    xembed = std::make_unique<CXEmbedIcon>(*display, [this](bool docked) { Apply(state.XIconDocked(docked)); });
  }
  state = TrayChoiceState(false, static_cast<bool>(display));
}

CTrayChoice::~CTrayChoice() {
  statusNotifier.reset();
  xembed.reset();   // the X tray drops the window
  display.reset();  // and with the connection goes every window of ours
}

void CTrayChoice::AttachBus(sd_bus* bus) {
  statusNotifier = std::make_unique<CStatusNotifier>(
      bus, event, [this](int commandId) { handlers.command(commandId); },
      [this](int x, int y) { return OpenMenuAt(x, y); }, [this](bool itemShown) { Apply(state.ItemShown(itemShown)); });
  const TrayHostTraits& desktop = TraitsOf(SessionDesktopHost());
  state = TrayChoiceState(true, static_cast<bool>(display), desktop.itemOverXTray, desktop.xTrayOverItem);
}

void CTrayChoice::DropItem() {
  if (!statusNotifier) return;
  statusNotifier.reset();  // gives up the name: the watcher drops the item
  Apply(state.ItemDropped());
}

void CTrayChoice::ShowIcon(IconCode code, const char* newTooltip) {
  picture = PaintIconPicture(code);
  tooltip = newTooltip;
  // The tray that shows the icon gets it; while none does, both keep it, so
  // that whichever host comes first shows it at once. A tray that takes
  // over later is handed the picture of the moment first.
  const Shown shown = state.ShownIn();
  if (statusNotifier && shown != Shown::XTray) statusNotifier->ReplaceIcon(picture, tooltip.c_str());
  if (xembed && shown != Shown::Item) xembed->ReplaceIcon(picture, tooltip.c_str());
  if (!started) {
    started = true;
    StartTrays();
  }
}

void CTrayChoice::ShowTooltip(const char* newTooltip) {
  tooltip = newTooltip;
  const Shown shown = state.ShownIn();
  if (statusNotifier && shown != Shown::XTray) statusNotifier->ReplaceTooltip(tooltip.c_str());
  if (xembed && shown != Shown::Item) xembed->ReplaceTooltip(tooltip.c_str());
}

void CTrayChoice::StartTrays() {
  sd_event_add_time_relative(event, noTrayDeadline.put(), CLOCK_MONOTONIC, NO_TRAY_USEC, 0, &OnNoTrayDeadline, this);
  const bool itemOffered = statusNotifier && !state.XTrayFirst() && statusNotifier->Add();
  // X waits for the bus's answer, or for a bus that does not give one.
  if (itemOffered && xembed) {
    sd_event_add_time_relative(event, choiceDeadline.put(), CLOCK_MONOTONIC, CHOICE_WAIT_USEC, 0, &OnChoiceDeadline,
                               this);
  }
  Apply(state.Start(itemOffered));
}

void CTrayChoice::Apply(TrayChoiceState::Effects effects) {
  using State = TrayChoiceState;
  if ((effects & State::REMOVE_ITEM) && statusNotifier) statusNotifier->Remove();
  if ((effects & State::UNDOCK_X_ICON) && xembed) {
    xembed->Remove();
    // An item that took over from the X tray missed its pictures meanwhile.
    if (statusNotifier) statusNotifier->ReplaceIcon(picture, tooltip.c_str());
  }
  if ((effects & State::ADD_ITEM) && statusNotifier) {
    statusNotifier->ReplaceIcon(picture, tooltip.c_str());
    statusNotifier->Add();
  }
  if ((effects & State::DOCK_X_ICON) && xembed) {
    choiceDeadline.reset();
    xembed->ReplaceIcon(picture, tooltip.c_str());
    xembed->Add();
    Apply(state.XIconAsked(xembed->Docked()));
  }
  if (effects & State::SAY_NO_HOST) SayNoHost();
  if (effects & State::DROP_X_DISPLAY) {
    // Called from the display's own report of the loss, as its last act.
    xembed.reset();
    display.reset();
  }
  if (effects & State::ICON_LOST) handlers.iconLost();
}

int CTrayChoice::OnChoiceDeadline(sd_event_source*, std::uint64_t, void* self) {
  auto* choice = static_cast<CTrayChoice*>(self);
  choice->Apply(choice->state.ChoiceTimeUp());
  return 0;
}

int CTrayChoice::OnNoTrayDeadline(sd_event_source*, std::uint64_t, void* self) {
  auto* choice = static_cast<CTrayChoice*>(self);
  choice->noTrayDeadline.reset();
  if (choice->state.NeverShown()) choice->handlers.noTray();
  return 0;
}

void CTrayChoice::SayNoHost() {
  if (state.HasItem() && state.HasXDisplay()) {
    std::fprintf(stderr,
                 "gleamo: no StatusNotifierWatcher on the session bus and no system tray on the X display; the "
                 "icon appears in whichever starts first\n");
  } else if (state.HasXDisplay()) {
    std::fprintf(stderr, "gleamo: no system tray on the X display; the icon appears when one starts\n");
  } else {
    std::fprintf(stderr,
                 "gleamo: no StatusNotifierWatcher on the session bus; the icon appears when a tray host starts\n");
  }
}

bool CTrayChoice::OpenMenuAt(int x, int y) {
  if (!display) {
    if (!handlers.menuWithoutDisplay) return false;
    handlers.menuWithoutDisplay();
    return true;
  }
  display->OpenMenu(x, y);
  return true;
}

void CTrayChoice::ShowText(const char* title, const std::string& text) {
  if (display) display->ShowText(title, text.c_str());
}
