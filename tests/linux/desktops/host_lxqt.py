"""A real LXQt panel as a tray host, run headless.

    host = LxqtHost(work_dir, scale=1)   # scale 2: LXQt's global screen scaling at 2
    host.start_session(); host.start_host()
    ... host.spawn([...]), host.screenshot(), host.click(x, y, 3), host.menu_item_position(2) ...
    host.close()

One Xvfb, one session bus and lxqt-panel 1.2 holding only its status
notifier plugin, in the environment startlxqt gives a session, with no
window manager (the panel and its menus place themselves). Everything runs
as the calling user, root included: lxqt-panel does not refuse root. Each
process is ended by its own id.
"""
import os
import re
import subprocess
import time

import dbus
from session_tools import end, start_bus, start_x_server, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
WIDTH, HEIGHT = 480, 240

# The panel of a fresh LXQt session (bottom edge, 32 px, 22 px icons), with
# only the plugin that hosts StatusNotifierItems.
PANEL_CONF = """[General]
__userfile__=true
panels=panel1

[panel1]
plugins=statusnotifier
position=Bottom
desktop=0

[statusnotifier]
alignment=Right
type=statusnotifier
"""


class LxqtHost:
    name = "lxqt"
    icon_scale = 1
    icon_size = 22  # the pixmap it draws, unscaled

    def __init__(self, work_dir, scale=1):
        self.dir = work_dir
        self.scale = scale
        # At 2x Qt asks the icon for 44 px and draws the 22 px pixmap, the
        # largest gleamo offers, doubled pixel by pixel.
        self.icon_scale = scale
        self.env = None
        self.bus = None
        self.panel = None
        self.processes = []  # the session's own, in start order
        self.spawned = []

    # ---- the session ----

    def start_session(self):
        home = os.path.join(self.dir, "home")
        runtime = os.path.join(self.dir, "runtime")
        config = os.path.join(home, ".config")
        os.makedirs(os.path.join(config, "lxqt"))
        os.makedirs(runtime, mode=0o700)
        with open(os.path.join(config, "lxqt", "panel.conf"), "w") as conf:
            conf.write(PANEL_CONF)
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("XDG_", "QT_", "GDK_", "DBUS_", "WAYLAND_", "KDE_"))
               and key not in ("SESSION_MANAGER", "DESKTOP_SESSION", "DISPLAY")}
        env.update(HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=config,
                   XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   # What startlxqt sets: LXQt's defaults live in /usr/share/lxqt.
                   XDG_CONFIG_DIRS="/etc:/etc/xdg:/usr/share", XDG_DATA_DIRS="/usr/local/share:/usr/share",
                   XDG_CURRENT_DESKTOP="LXQt", XDG_MENU_PREFIX="lxqt-", QT_QPA_PLATFORMTHEME="lxqt",
                   XDG_SESSION_TYPE="x11", NO_AT_BRIDGE="1")
        if self.scale != 1:
            # lxqt-session's global screen scaling exports these to the session.
            env.update(QT_SCALE_FACTOR=str(self.scale), GDK_SCALE=str(self.scale))
        self.env = env
        self.env["DISPLAY"] = self._start_x_server()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus()
        self.bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        self._park_pointer()

    def _start(self, argv, **kwargs):
        process = subprocess.Popen(argv, env=self.env, **kwargs)
        self.processes.append(process)
        return process

    def _start_x_server(self):
        return start_x_server(self._start, WIDTH, HEIGHT)

    def _start_bus(self):
        return start_bus(self._start)

    # ---- the host ----

    def watcher_pid(self):
        """The process id of the watcher's owner, or None."""
        try:
            return int(self.bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                              "GetConnectionUnixProcessID", "s", (WATCHER,)))
        except dbus.exceptions.DBusException:
            return None

    def _watcher_answers(self):
        # The panel takes the name on a worker thread before it serves the
        # watcher object; an item registering in between is refused.
        try:
            self.bus.call_blocking(WATCHER, "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties", "Get", "ss",
                                   (WATCHER, "IsStatusNotifierHostRegistered"), timeout=2)
            return True
        except dbus.exceptions.DBusException:
            return False

    def _panel_window(self):
        """(x, y, width, height) of the panel's window once it is viewable."""
        tree = self._xwininfo("-root", "-children")
        for window in re.findall(r"^\s*(0x[0-9a-f]+) \"LXQt Panel\"", tree, re.MULTILINE):
            info = self._xwininfo("-id", window)
            if "IsViewable" in info:
                return self._geometry(info)
        return None

    def start_host(self, timeout=20):
        self.panel = self._start(["lxqt-panel"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: self.panel.poll() is not None or self._watcher_answers(), timeout):
            raise RuntimeError("lxqt-panel never served " + WATCHER)
        if self.panel.poll() is not None:
            raise RuntimeError("lxqt-panel ended with %d" % self.panel.returncode)
        self.panel_geometry = wait_until(self._panel_window, timeout)
        if not self.panel_geometry:
            raise RuntimeError("lxqt-panel never showed its panel")
        # Drawn: its background fills the panel (Xvfb's root is black).
        x, y, width, height = self.panel_geometry
        if not wait_until(lambda: self._pixel(x + 2, y + height // 2) != b"\0\0\0", timeout, step=0.1):
            raise RuntimeError("lxqt-panel never drew its panel")

    def stop_host(self, timeout=10):
        end(self.panel)
        self.processes.remove(self.panel)
        self.panel = None
        if not wait_until(lambda: not self.bus.name_has_owner(WATCHER), timeout):
            raise RuntimeError(WATCHER + " stayed after the panel ended")

    # ---- inside the session ----

    def spawn(self, argv, **popen_kwargs):
        """A program in the session; env= adds to (or overrides) the session's variables."""
        env = dict(self.env)
        env.update(popen_kwargs.pop("env", None) or {})
        process = subprocess.Popen(argv, env=env, **popen_kwargs)
        self.spawned.append(process)
        return process

    def screenshot(self):
        rgb = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=self.env, check=True,
                             capture_output=True).stdout
        return WIDTH, HEIGHT, rgb

    def _pixel(self, x, y):
        rgb = self.screenshot()[2]
        return rgb[(y * WIDTH + x) * 3:(y * WIDTH + x) * 3 + 3]

    def click(self, x, y, button=1):
        subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=self.env, check=True)
        time.sleep(0.2)  # Qt picks the menu item under the pointer from the motion
        subprocess.run(["xdotool", "click", str(button)], env=self.env, check=True)
        time.sleep(0.1)
        # A hovered tool button is drawn raised, behind the icon's clear pixels.
        self._park_pointer()

    def _park_pointer(self):
        subprocess.run(["xdotool", "mousemove", "0", "0"], env=self.env, check=True)

    def _xwininfo(self, *args):
        return subprocess.run(["xwininfo"] + list(args), env=self.env, capture_output=True, text=True).stdout

    @staticmethod
    def _geometry(info):
        def field(name):
            return int(re.search(r"%s:\s+(-?\d+)" % name, info).group(1))
        return field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")

    def open_menu(self):
        """(x, y, width, height) of the panel's popup menu on screen, or None."""
        tree = self._xwininfo("-root", "-children")
        for window in re.findall(r"^\s*(0x[0-9a-f]+) \"lxqt-panel\": \(\"lxqt-panel\"", tree, re.MULTILINE):
            info = self._xwininfo("-id", window)
            if "IsViewable" in info and "Override Redirect State: yes" in info:
                geometry = self._geometry(info)
                if geometry[2] > 8 and geometry[3] > 8:
                    return geometry
        return None

    def menu_item_position(self, index):
        menu = self.open_menu()
        if menu is None:
            return None
        x, y, width, height = menu
        # Three items of one height inside a frame of a few pixels.
        return x + width // 2, y + height * (2 * index + 1) // 6

    def close(self):
        for process in reversed(self.spawned):
            end(process)
        self.spawned = []
        if self.bus is not None:
            self.bus.close()
            self.bus = None
        for process in reversed(self.processes):
            end(process)
        self.processes = []
