// Where the Linux icon is shown: as a StatusNotifierItem wherever a watcher
// runs on the session bus, else docked in an X tray over XEmbed. Both wait
// for their host and report it by callback; TrayChoiceState decides, and
// this carries it out. The X display, where there is one, also carries
// gleamo's own menu and text windows.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <functional>
#include <memory>
#include <string>

#include "common/gleamo_types.h"
#include "linux/sni/item.h"
#include "linux/systemd_handles.h"
#include "linux/tray_choice_state.h"
#include "linux/tray_icon.h"
#include "linux/x11/display.h"
#include "linux/x11/xembed_icon.h"

class CTrayChoice {
 public:
  struct Handlers {
    CTrayIcon::CommandHandler command;
    // No tray of either kind has shown the icon a few seconds after the
    // first picture: worth telling where a desktop user sees it.
    std::function<void()> noTray;
    // The icon was shown on the X display, which is gone, or the display
    // was the only way to show it: the program cannot go on.
    std::function<void()> iconLost;
    // A host asked for the menu and there is no X display to draw it on:
    // the commands are to be offered some other way.
    std::function<void()> menuWithoutDisplay;
  };

  // Connects to the X display, if there is one; the item comes with
  // AttachBus. Nothing is shown before the first ShowIcon.
  CTrayChoice(sd_event* event, Handlers handlers);
  ~CTrayChoice();
  CTrayChoice(const CTrayChoice&) = delete;
  CTrayChoice& operator=(const CTrayChoice&) = delete;

  // The item, for the session bus there is.
  void AttachBus(sd_bus* bus);
  // Gives up the item (its bus is gone, or going); an X tray may still
  // take the icon.
  void DropItem();

  bool HasXDisplay() const { return static_cast<bool>(display); }
  bool ShownAsItem() const { return state.ShownIn() == TrayChoiceState::Shown::Item; }
  // The host showing the icon draws at most one new picture every other tick.
  bool NewPictureEveryOtherTick() const {
    return ShownAsItem() && statusNotifier && TraitsOf(statusNotifier->Host()).newPictureEveryOtherTick;
  }

  // Shows this icon code wherever the icon is, or will be. The first call
  // puts both trays up.
  void ShowIcon(IconCode code, const char* newTooltip);
  // The tooltip's new text, the picture unchanged.
  void ShowTooltip(const char* newTooltip);
  // A text window on the X display; nothing without one.
  void ShowText(const char* title, const std::string& text);

 private:
  using Shown = TrayChoiceState::Shown;

  void StartTrays();
  void Apply(TrayChoiceState::Effects effects);
  void SayNoHost();
  bool OpenMenuAt(int x, int y);
  static int OnChoiceDeadline(sd_event_source* source, std::uint64_t usec, void* self);
  static int OnNoTrayDeadline(sd_event_source* source, std::uint64_t usec, void* self);

  sd_event* event;
  Handlers handlers;
  TrayChoiceState state{false, false};
  std::unique_ptr<CStatusNotifier> statusNotifier;
  std::unique_ptr<CXDisplay> display;
  std::unique_ptr<CXEmbedIcon> xembed;  // on the display: destroyed before it
  unique_sd_event_source choiceDeadline;
  unique_sd_event_source noTrayDeadline;
  bool started = false;
  IconPicture picture;  // the one picture of the last change
  std::string tooltip;
};
