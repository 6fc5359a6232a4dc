#include "linux/tray_choice_state.h"

TrayChoiceState::Effects TrayChoiceState::Start(bool itemOffered) {
  started = true;
  // A watcher, where one runs, is preferred to an X tray on the same
  // desktop (Plasma's X trays are a proxy for items), unless the X tray is
  // better there.
  if (hasItem && itemOffered && !xTrayOverItem) return 0;
  return WaitForXTray();
}

TrayChoiceState::Effects TrayChoiceState::ChoiceTimeUp() {
  return shown == Shown::Nowhere ? WaitForXTray() : 0;
}

TrayChoiceState::Effects TrayChoiceState::ItemShown(bool itemShown) {
  if (itemShown) {
    if (shown == Shown::XTray && !itemOverXTray) return REMOVE_ITEM;  // the X tray was first: one icon is enough
    shown = Shown::Item;
    everShown = true;
    waitingForXTray = false;
    return hasXDisplay ? UNDOCK_X_ICON : 0;
  }
  if (shown == Shown::Item) shown = Shown::Nowhere;
  // No watcher, or it went away: an X tray may show the icon meanwhile,
  // while the item waits for the next watcher. One asked first has had
  // its say.
  if (!hasXDisplay || (xTrayOverItem && waitingForXTray)) return SayNoHostOnce();
  return WaitForXTray();
}

TrayChoiceState::Effects TrayChoiceState::ItemDropped() {
  hasItem = false;
  if (shown == Shown::Item) shown = Shown::Nowhere;
  return started ? WaitForXTray() : 0;
}

TrayChoiceState::Effects TrayChoiceState::WaitForXTray() {
  if (!hasXDisplay || waitingForXTray || shown == Shown::XTray) return 0;
  waitingForXTray = true;
  return DOCK_X_ICON;
}

TrayChoiceState::Effects TrayChoiceState::XIconAsked(bool docked) {
  const Effects effects = XIconDocked(docked);
  if (shown != Shown::Nowhere) return effects;
  // No X tray yet where it was asked first: a watcher may show the item.
  if (xTrayOverItem && hasItem) return effects | ADD_ITEM;
  return effects | SayNoHostOnce();
}

TrayChoiceState::Effects TrayChoiceState::XIconDocked(bool docked) {
  if (!hasXDisplay || !waitingForXTray) return 0;
  if (docked && shown != Shown::XTray) {
    shown = Shown::XTray;
    everShown = true;
    // Where the item is better, it stays on offer for the watcher to come.
    return hasItem && !itemOverXTray ? REMOVE_ITEM : 0;
  }
  if (!docked && shown == Shown::XTray) {
    // The X tray went away: a watcher may take the icon, or the next tray.
    // Where the X tray is better, it comes back with its panel; an item
    // offered meanwhile would stay registered with the watcher after the
    // X tray took the icon from it, as watchers know items by connection.
    shown = Shown::Nowhere;
    return hasItem && !xTrayOverItem ? ADD_ITEM : 0;
  }
  return 0;
}

TrayChoiceState::Effects TrayChoiceState::XDisplayLost() {
  // An icon shown there is gone, and so is one that had no other way.
  if (shown == Shown::XTray || !hasItem) return ICON_LOST;
  // Only gleamo's own menu and texts go with it.
  hasXDisplay = false;
  waitingForXTray = false;
  return DROP_X_DISPLAY;
}

TrayChoiceState::Effects TrayChoiceState::SayNoHostOnce() {
  // Said when the icon has found no host yet; a host that restarts is not
  // worth a word.
  if (everShown || !noHostSaid.First()) return 0;
  return SAY_NO_HOST;
}
