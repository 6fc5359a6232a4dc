// What each StatusNotifierItem host does with an item's pictures and
// clicks, in one place. Hosts differ where it matters to pixel art: some
// draw the pixmap nearest their icon size unscaled, others take the largest
// one offered and scale it smoothly to their own size, each to a different
// size. The item therefore offers each host the sizes it draws crisply,
// told apart by the program that owns the StatusNotifierWatcher.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

enum class TrayHost { Unknown, Xfce, Plasma, Lxqt, Mate, Xapp, Cinnamon, Gnome, Waybar, Swaybar };

struct TrayHostTraits {
  // The pixmap sizes to offer, smallest first.
  std::vector<int> pixmapSizes;
  // The host opens the item's own menu when Activate fails (Plasma): a
  // left click then shows the host's native menu rather than ours.
  bool menuOnFailedActivate = false;
  // The host draws at its icon size times the output's scale (waybar):
  // the sizes are to be multiplied by it.
  bool timesOutputScale = false;
  // The desktop's own X tray serves worse than its watcher's host
  // (Cinnamon's shell scales docked icons, passes no clicks on to them and
  // loses them when it restarts): an item shown there takes the icon back
  // from the X tray.
  bool itemOverXTray = false;
  // The reverse: the desktop's X tray shows the icon for less (Xfce's
  // status tray fetches every property of the item and redraws from its
  // pixmaps at each new picture, where an XEmbed icon paints its own
  // window): the X tray is asked first, the item offered only if none is
  // there yet.
  bool xTrayOverItem = false;
  // The host draws a new picture far slower than it is told of one (GNOME's
  // extension, a few a second at most, at a high cost each): it is sent one
  // every other tick at most.
  bool newPictureEveryOtherTick = false;
  // The watcher forgets every item whose name begins with that of a client
  // that leaves (xapp-sn-watcher: the shell at :1.1 restarting drops the
  // item at :1.10): the item is registered by its own well-known name,
  // which no other client's name begins.
  bool registerByName = false;
};

// The host behind a watcher, from the watcher owner's process name (its
// /proc/PID/comm, which the kernel cuts to 15 bytes) and the file name of
// its program; the session's desktop (XDG_CURRENT_DESKTOP) decides where
// the process says nothing.
TrayHost IdentifyTrayHost(const std::string& processName, const std::string& programName,
                          const std::string& currentDesktop);

// The host behind the watcher that runs as this process (0: unknown), as
// its /proc entries and the session's desktop tell; a process of another
// user, or in a sandbox, is known by the desktop alone.
TrayHost IdentifyTrayHostOf(pid_t watcherPid);

const TrayHostTraits& TraitsOf(TrayHost host);

// The host the session's desktop (XDG_CURRENT_DESKTOP) comes with.
TrayHost SessionDesktopHost();

// The sizes to offer the host here and now: its traits' sizes, times the
// largest output scale of the Wayland session where the host asks for it.
std::vector<int> PixmapSizesFor(TrayHost host);

// A short name for messages and tests.
const char* TrayHostName(TrayHost host);
