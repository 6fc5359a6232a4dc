"""MATE's panel as a real tray host under a private X server.

    MateHost(work_dir, scale=1)   MATE's panel with only its notification
                                  area applet; the applet is its own
                                  StatusNotifierWatcher and host.

It puts up its own Xvfb, session bus and panel, with private XDG folders
and settings in a GLib key file (no dconf), and ends everything it started,
each by its process id. No window manager is needed. The applets are started
by the bus (D-Bus activation), so the bus gets the whole session
environment, and they are found and ended by the ids the bus gives for them.
Everything runs as the calling user; none of these programs refuses root.
"""
import os
import re
import subprocess
import time

import dbus
from Xlib import X, display as xdisplay
from session_tools import end, end_pid, start_bus, start_x_server, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
PANEL_SIZE = 24  # mate-panel's default height, in logical pixels

LAYOUT = """[Toplevel top]
expand=true
orientation=top
size=%d

[Object tray]
object-type=applet
applet-iid=%s
toplevel-id=top
position=0
locked=true
"""


class _PanelHost:
    """mate-panel with one applet; subclasses say which and what else runs."""

    applet_iid = None
    icon_scale = 1
    icon_size = 22  # the pixmap it draws, unscaled

    def __init__(self, work_dir, scale=1):
        self.dir = work_dir
        self.scale = scale
        self.width, self.height = 480 * scale, 160 * scale
        self.processes = []  # ours, in start order
        self.panel = None
        self.env = None
        self.bus = None
        self.x = None

    # -- session -----------------------------------------------------------

    def start_session(self):
        config = os.path.join(self.dir, "config")
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(os.path.join(config, "glib-2.0", "settings"), exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        layout = os.path.join(self.dir, "panel.layout")
        with open(layout, "w") as text:
            text.write(LAYOUT % (PANEL_SIZE, self.applet_iid))
        # The panel copies the layout into its settings on its first start
        # and reads them back from there after a restart.
        with open(os.path.join(config, "glib-2.0", "settings", "keyfile"), "w") as text:
            text.write("[org/mate/panel/general]\ndefault-layout='%s'\n" % layout)
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("XDG_", "DBUS_", "GDK_", "GTK_", "WAYLAND_")) and key != "SESSION_MANAGER"}
        env.update(HOME=self.dir, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                   XDG_CACHE_HOME=os.path.join(self.dir, "cache"), XDG_DATA_HOME=os.path.join(self.dir, "data"),
                   GSETTINGS_BACKEND="keyfile", NO_AT_BRIDGE="1", XDG_CURRENT_DESKTOP=self.desktop,
                   XDG_SESSION_TYPE="x11")
        if self.scale != 1:
            env["GDK_SCALE"] = str(self.scale)
        self.env = env
        env["DISPLAY"] = self._start_x_server()
        # After DISPLAY: the applets the bus starts get the bus's environment.
        env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus()
        self.bus = dbus.bus.BusConnection(env["DBUS_SESSION_BUS_ADDRESS"])
        self.x = xdisplay.Display(env["DISPLAY"])
        self.park_pointer()

    def _start(self, argv, **kwargs):
        kwargs.setdefault("env", self.env)
        process = subprocess.Popen(argv, **kwargs)
        self.processes.append(process)
        return process

    def _start_x_server(self):
        return start_x_server(self._start, self.width, self.height, "-br")

    def _start_bus(self):
        return start_bus(self._start, stderr=self._log("dbus-daemon"))

    # -- host --------------------------------------------------------------

    def _start_panel(self):
        self.panel = self._start(["mate-panel"], stdout=subprocess.DEVNULL, stderr=self._log("mate-panel"))
        if not wait_until(self._panel_drawn, timeout=20):
            raise RuntimeError("mate-panel never drew its panel")

    def _log(self, name):
        return open(os.path.join(self.dir, name + ".log"), "a")

    def _panel_drawn(self):
        # Its background on the whole top row, where the root window is black.
        width, height, rgb = self.screenshot()
        row = rgb[:width * 3]
        return row[:3] != b"\0\0\0" and row.count(row[:3]) == width

    def _stop_panel(self):
        if self.panel is None:
            return
        applets = [pid for pid in self._bus_pids(r"org\.mate\.panel\.applet\..*Factory")]
        end(self.panel)
        self.processes.remove(self.panel)
        self.panel = None
        # An applet quits when its panel goes; make sure of it.
        for pid in applets:
            end_pid(pid)

    def _bus_pids(self, pattern):
        pids = set()
        for name in self.bus.list_names():
            if re.fullmatch(pattern, str(name)):
                try:
                    pids.add(self._pid_of(name))
                except dbus.DBusException:
                    pass  # gone meanwhile
        return pids

    def _pid_of(self, name):
        return int(self.bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                          "GetConnectionUnixProcessID", "s", (name,)))

    def watcher_owner(self):
        """/proc comm and exe of the process that owns the watcher name."""
        pid = self._pid_of(WATCHER)
        with open("/proc/%d/comm" % pid) as comm:
            return pid, comm.read().strip(), os.readlink("/proc/%d/exe" % pid)

    def _wait_for_watcher(self, present=True, timeout=20):
        if not wait_until(lambda: self.bus.name_has_owner(WATCHER) == present, timeout):
            raise RuntimeError("%s was never %s" % (WATCHER, "taken" if present else "let go"))

    def spawn(self, argv, **popen_kwargs):
        return self._start(argv, **popen_kwargs)

    # -- screen and pointer ------------------------------------------------

    def screenshot(self):
        root = self.x.screen().root
        image = root.get_image(0, 0, self.width, self.height, X.ZPixmap, 0xFFFFFFFF)
        data = image.data  # BGRX, 32 bits a pixel at depth 24
        rgb = bytearray(self.width * self.height * 3)
        rgb[0::3] = data[2::4]
        rgb[1::3] = data[1::4]
        rgb[2::3] = data[0::4]
        return self.width, self.height, bytes(rgb)

    def _xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(arg) for arg in args], env=self.env, check=True)

    def click(self, x, y, button=1):
        self._xdotool("mousemove", "--sync", x, y)
        time.sleep(0.3)  # a GTK menu selects the item under the pointer on motion
        self._xdotool("click", button)

    def park_pointer(self):
        # A pointer over the icon lights its button and changes the background.
        self._xdotool("mousemove", "--sync", self.width - 1, self.height - 1)

    def popup_menus(self):
        """(x, y, width, height) of the viewable override-redirect windows
        where this host opens its menus."""
        menus = []
        for window in self.x.screen().root.query_tree().children:
            try:
                attributes = window.get_attributes()
                geometry = window.get_geometry()
            except Exception:
                continue
            if attributes.map_state == X.IsViewable and attributes.override_redirect and self._menu_shaped(geometry):
                menus.append((geometry.x, geometry.y, geometry.width, geometry.height))
        return menus

    def _menu_shaped(self, geometry):
        # Below the panel at the top of the screen.
        return geometry.y >= PANEL_SIZE * self.scale - 2 and geometry.height >= 20 * self.scale

    def menu_item_position(self, index):
        """Centre of item index (0 help, 1 meet author, 2 end program) of the
        one menu open, or None. GTK menus put their three items of one
        height between a padding of the same size at top and bottom."""
        menus = self.popup_menus()
        if len(menus) != 1:
            return None
        x, y, width, height = menus[0]
        pad = self.menu_padding * self.scale
        item = (height - 2 * pad) / 3
        return x + width // 2, int(y + pad + item * index + item / 2)

    menu_padding = 4  # Adwaita's menu padding, measured

    # -- end ---------------------------------------------------------------

    def close(self):
        for process in reversed(list(self.processes)):
            try:
                if process.args[0] == "dbus-daemon" and self.bus is not None:
                    # Whatever the bus started for us and still runs: by its id.
                    try:
                        for pid in self._bus_pids(r":\d+\.\d+") - {os.getpid()}:
                            end_pid(pid)
                    finally:
                        self.bus.close()
                        self.bus = None
                if process.args[0] == "Xvfb" and self.x is not None:
                    self.x.close()
                    self.x = None
            finally:
                end(process)
        self.processes = []


class MateHost(_PanelHost):
    """MATE 1.27: the notification area applet owns the watcher and shows
    the items itself (its status-notifier host), alongside XEmbed icons."""

    name = "mate"
    desktop = "MATE"
    applet_iid = "NotificationAreaAppletFactory::NotificationArea"

    def start_host(self):
        self._start_panel()
        self._wait_for_watcher(True)

    def stop_host(self):
        self._stop_panel()
        self._wait_for_watcher(False)


