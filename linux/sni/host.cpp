#include "linux/sni/host.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linux/sni/wayland_scale.h"
#include "tray/icon_raster.h"

namespace {

struct KnownProgram {
  const char* name;  // a process or program name, exactly
  TrayHost host;
};

// Who owns the watcher on each desktop. Xfce's status tray runs in the
// panel's plugin wrapper, named after the plugin; Plasma's watcher lives in
// kded5, and Cinnamon's (and MATE's with the XApp applet) in xapp-sn-watcher,
// which also loads the pictures. MATE's own notification area applet is cut
// to 15 bytes in its process name.
constexpr std::array<KnownProgram, 12> KNOWN_PROGRAMS{{
    {"xfce4-panel", TrayHost::Xfce},
    {"wrapper-2.0", TrayHost::Xfce},
    {"kded5", TrayHost::Plasma},
    {"plasmashell", TrayHost::Plasma},
    {"lxqt-panel", TrayHost::Lxqt},
    {"mate-panel", TrayHost::Mate},
    {"notification-ar", TrayHost::Mate},
    {"notification-area-applet", TrayHost::Mate},
    {"xapp-sn-watcher", TrayHost::Xapp},
    {"gnome-shell", TrayHost::Gnome},
    {"waybar", TrayHost::Waybar},
    {"swaybar", TrayHost::Swaybar},
}};

struct KnownDesktop {
  const char* name;  // one entry of XDG_CURRENT_DESKTOP
  TrayHost host;
};

constexpr std::array<KnownDesktop, 7> KNOWN_DESKTOPS{{
    {"XFCE", TrayHost::Xfce},
    {"KDE", TrayHost::Plasma},
    {"LXQt", TrayHost::Lxqt},
    {"MATE", TrayHost::Mate},
    {"X-Cinnamon", TrayHost::Cinnamon},
    {"GNOME", TrayHost::Gnome},
    {"sway", TrayHost::Swaybar},
}};

TrayHost FromProgram(const std::string& name) {
  for (const KnownProgram& known : KNOWN_PROGRAMS) {
    if (name == known.name) return known.host;
  }
  // Xfce names the wrapper's process after the plugin: panel-1-systray.
  if (name.rfind("panel-", 0) == 0 && name.size() > 8 && name.compare(name.size() - 8, 8, "-systray") == 0) {
    return TrayHost::Xfce;
  }
  return TrayHost::Unknown;
}

TrayHost FromDesktop(const std::string& desktops) {
  // A colon-separated list, most specific first.
  std::size_t start = 0;
  while (start <= desktops.size()) {
    const std::size_t end = std::min(desktops.find(':', start), desktops.size());
    const std::string entry = desktops.substr(start, end - start);
    for (const KnownDesktop& known : KNOWN_DESKTOPS) {
      if (entry == known.name) return known.host;
    }
    start = end + 1;
  }
  return TrayHost::Unknown;
}

// A line of a /proc file of the process, without its newline; empty when
// it cannot be read (another user's, or a sandbox).
std::string ProcessName(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) return "";
  char name[64] = "";
  if (std::fgets(name, sizeof name, file) == nullptr) name[0] = '\0';
  std::fclose(file);
  name[std::strcspn(name, "\n")] = '\0';
  return name;
}

std::string ProgramName(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
  char target[4096];
  const ssize_t length = readlink(path, target, sizeof target - 1);
  if (length <= 0) return "";
  target[length] = '\0';
  const char* slash = std::strrchr(target, '/');
  return slash != nullptr ? slash + 1 : target;
}

}  // namespace

TrayHost IdentifyTrayHost(const std::string& processName, const std::string& programName,
                          const std::string& currentDesktop) {
  TrayHost host = FromProgram(processName);
  if (host == TrayHost::Unknown) host = FromProgram(programName);
  const TrayHost desktop = FromDesktop(currentDesktop);
  if (host == TrayHost::Unknown) return desktop;
  // One watcher program serves two panels that draw its pictures apart.
  if (host == TrayHost::Xapp && desktop == TrayHost::Cinnamon) return TrayHost::Cinnamon;
  return host;
}

TrayHost SessionDesktopHost() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return FromDesktop(desktop != nullptr ? desktop : "");
}

TrayHost IdentifyTrayHostOf(pid_t watcherPid) {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return IdentifyTrayHost(watcherPid != 0 ? ProcessName(watcherPid) : "",
                          watcherPid != 0 ? ProgramName(watcherPid) : "", desktop != nullptr ? desktop : "");
}

const TrayHostTraits& TraitsOf(TrayHost host) {
  // Each size offered is the design drawn at that size (a whole multiple of
  // 16 is the 16 px picture enlarged pixel by pixel), for a host that draws
  // it unscaled.
  static const TrayHostTraits nearestOf16And22{.pixmapSizes = {ICON_SIZE, 22}};
  static const TrayHostTraits xfce{.pixmapSizes = {ICON_SIZE, 22}, .xTrayOverItem = true};
  static const TrayHostTraits plasma{.pixmapSizes = {ICON_SIZE, 22}, .menuOnFailedActivate = true};
  static const TrayHostTraits xapp{.pixmapSizes = {ICON_SIZE}, .registerByName = true};
  static const TrayHostTraits cinnamon{.pixmapSizes = {24}, .itemOverXTray = true, .registerByName = true};
  // MATE's panel brings its X tray back before its watcher when it
  // restarts; the item, which its applet draws crisp, takes the icon back.
  static const TrayHostTraits mate{.pixmapSizes = {ICON_SIZE, 22}, .itemOverXTray = true};
  static const TrayHostTraits with32ForDoubled{.pixmapSizes = {ICON_SIZE, 2 * ICON_SIZE}};
  static const TrayHostTraits gnome{
      .pixmapSizes = {ICON_SIZE}, .timesOutputScale = true, .newPictureEveryOtherTick = true};
  static const TrayHostTraits waybar{.pixmapSizes = {ICON_SIZE}, .timesOutputScale = true};
  switch (host) {
    // Xfce shrinks the largest picture to its icon size, 22 px by default;
    // MATE's applet draws the largest up to its panel's size unscaled.
    case TrayHost::Xfce: return xfce;
    case TrayHost::Unknown:
    case TrayHost::Lxqt: return nearestOf16And22;
    case TrayHost::Mate: return mate;
    case TrayHost::Plasma: return plasma;
    // xapp-sn-watcher scales the largest picture to the applet's size:
    // 16 px in MATE's panel, 24 px in Cinnamon's.
    case TrayHost::Xapp: return xapp;
    case TrayHost::Cinnamon: return cinnamon;
    // The AppIndicator extension takes the smallest picture at least its
    // size, 16 px times the output's scale: that one alone is sent. swaybar
    // takes the one closest to its own: 16 px, 32 px on a doubled screen.
    case TrayHost::Gnome: return gnome;
    case TrayHost::Swaybar: return with32ForDoubled;
    // waybar scales the largest picture to its icon size, 16 px by
    // default, times the output's scale.
    case TrayHost::Waybar: return waybar;
  }
  return nearestOf16And22;
}

std::vector<int> PixmapSizesFor(TrayHost host) {
  const TrayHostTraits& traits = TraitsOf(host);
  if (!traits.timesOutputScale) return traits.pixmapSizes;
  const int scale = LargestOutputScale();
  std::vector<int> sizes;
  for (int size : traits.pixmapSizes) sizes.push_back(size * scale);
  return sizes;
}

const char* TrayHostName(TrayHost host) {
  switch (host) {
    case TrayHost::Xfce: return "xfce";
    case TrayHost::Plasma: return "plasma";
    case TrayHost::Lxqt: return "lxqt";
    case TrayHost::Mate: return "mate";
    case TrayHost::Xapp: return "xapp";
    case TrayHost::Cinnamon: return "cinnamon";
    case TrayHost::Gnome: return "gnome";
    case TrayHost::Waybar: return "waybar";
    case TrayHost::Swaybar: return "swaybar";
    case TrayHost::Unknown: break;
  }
  return "unknown";
}
