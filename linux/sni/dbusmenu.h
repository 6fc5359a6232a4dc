// gleamo's menu over com.canonical.dbusmenu, for hosts that draw an item's
// menu themselves: a root and the items of TRAY_MENU_ITEMS, which never
// change. A click on an item runs its command.
#pragma once

#include <systemd/sd-bus.h>

#include "linux/systemd_handles.h"
#include "linux/tray_icon.h"

constexpr char SNI_MENU_PATH[] = "/MenuBar";

class CDbusMenu {
 public:
  explicit CDbusMenu(CTrayIcon::CommandHandler onCommand);
  CDbusMenu(const CDbusMenu&) = delete;
  CDbusMenu& operator=(const CDbusMenu&) = delete;

  // Puts the menu on the bus at SNI_MENU_PATH; a negative errno when it
  // cannot be.
  int Publish(sd_bus* bus);
  void Withdraw() { object.reset(); }

 private:
  CTrayIcon::CommandHandler onCommand;
  unique_bus_slot object;
};
