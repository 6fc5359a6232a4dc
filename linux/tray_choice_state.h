// Which tray shows the icon, as plain state: a StatusNotifierItem wherever
// a watcher runs, else an XEmbed icon in an X tray; the first host found
// takes the icon and the other tray stands down until that host goes away.
// Each event returns what the trays are to do; CTrayChoice does it and
// feeds back what follows.
#pragma once

#include <cstdint>

#include "linux/said_once.h"

class TrayChoiceState {
 public:
  enum class Shown : std::uint8_t { Nowhere, Item, XTray };

  // What the trays are to do about an event, done in this order.
  using Effects = unsigned;
  static constexpr Effects REMOVE_ITEM = 1u << 0;     // take the item off the bus: the X tray shows the icon
  static constexpr Effects UNDOCK_X_ICON = 1u << 1;   // take the X icon out of its tray: a watcher shows the item
  static constexpr Effects ADD_ITEM = 1u << 2;        // offer the item to watchers again
  static constexpr Effects DOCK_X_ICON = 1u << 3;     // dock in the X tray there is, and in later ones; then XIconAsked
  static constexpr Effects SAY_NO_HOST = 1u << 4;     // tell, once, that no host shows the icon yet
  static constexpr Effects ICON_LOST = 1u << 5;       // the icon cannot be shown any more: the program ends
  static constexpr Effects DROP_X_DISPLAY = 1u << 6;  // let the lost X display go

  // Which trays there are: an item for a session bus, an X icon for a
  // display; whether a watcher that starts takes the icon from an X tray,
  // or the X tray is asked first (the item is offered only where none
  // docks the icon then, and not again once one has).
  TrayChoiceState(bool hasItem, bool hasXDisplay, bool itemOverXTray = false, bool xTrayOverItem = false)
      : hasItem(hasItem),
        hasXDisplay(hasXDisplay),
        itemOverXTray(itemOverXTray),
        xTrayOverItem(xTrayOverItem && hasXDisplay) {}

  Shown ShownIn() const { return shown; }
  bool HasItem() const { return hasItem; }
  bool HasXDisplay() const { return hasXDisplay; }
  // The item waits to be offered until the X tray has been asked.
  bool XTrayFirst() const { return xTrayOverItem; }
  // No host has ever shown the icon: worth telling the user, a few
  // seconds after the start.
  bool NeverShown() const { return shown == Shown::Nowhere && !everShown; }

  // The first picture is there; the item was offered to watchers, or could
  // not be. With an item on offer, the X tray waits for the watcher's
  // answer, or for ChoiceTimeUp.
  Effects Start(bool itemOffered);
  Effects ChoiceTimeUp();
  // The item is registered with a watcher (true), or no watcher shows it.
  Effects ItemShown(bool itemShown);
  // The session bus is gone, and the item with it.
  Effects ItemDropped();
  // Whether DOCK_X_ICON found a tray.
  Effects XIconAsked(bool docked);
  // A tray took the X icon later, or the one holding it let it go.
  Effects XIconDocked(bool docked);
  Effects XDisplayLost();

 private:
  Effects WaitForXTray();
  Effects SayNoHostOnce();

  bool hasItem;
  bool hasXDisplay;
  bool itemOverXTray;
  bool xTrayOverItem;
  Shown shown = Shown::Nowhere;
  bool started = false;
  bool waitingForXTray = false;  // the X icon is offered to X trays
  bool everShown = false;
  SaidOnce<> noHostSaid;
};
