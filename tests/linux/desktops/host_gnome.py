"""GNOME Shell 43 as a tray host, headless: the shell is its own Wayland
compositor on a virtual monitor, with Debian's AppIndicator extension
(uuid ubuntu-appindicators@ubuntu.com) switched on in a private dconf
database.

    host = GnomeHost(work_dir, scale=1)   # scale 2: the whole UI doubled
    host.start_session(); host.start_host()
    ...
    host.close()

Everything lives in work_dir: a private system bus (the shell asks it for
logind, accounts, NetworkManager... and must get a quick "no such service",
not the machine's daemons), a private session bus that can start only the
shell's notification helper, dconf-service for the settings, gnome-shell.
The screen is read through the shell's org.gnome.Shell.Screenshot, which
serves only a few bus names: the fixture owns one of them,
org.gnome.Screenshot (gnome-screenshot's), so no --unsafe-mode is needed.
Clicks are real pointer events: a Mutter RemoteDesktop session, relative
motion only (absolute motion needs a PipeWire screencast stream). While that
session runs the shell shows an orange "remote control" indicator in the
panel, left of the power menu; it is opened before any tray icon appears so
that icons do not shift when it comes.

The extension draws its icons at 240/255 opacity, full opacity only under
the pointer: use hover() over an icon before matching it pixel for pixel.

Runs as whoever starts it; gnome-shell accepts root (it then shows a
"Logged in as a privileged user" notification banner at the top centre).
"""
import os
import subprocess
import time

import dbus
import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402
from session_tools import descendants_of, end, end_pid, start_bus, wait_until  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"
EXTENSION = "ubuntu-appindicators@ubuntu.com"
WIDTH, HEIGHT = 1280, 720  # the virtual monitor and the screenshots, in physical pixels
BUTTONS = {1: 0x110, 2: 0x112, 3: 0x111}  # evdev BTN_LEFT, BTN_MIDDLE, BTN_RIGHT
MENU_BACKGROUND = b"\x30\x30\x30"  # a popup menu's fill in the default (dark) shell theme

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>%(type)s</type>
  <listen>unix:path=%(socket)s</listen>
  <auth>EXTERNAL</auth>
  %(servicedir)s
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
  </policy>
</busconfig>
"""

# The shell has this helper started by D-Bus activation; it owns
# org.freedesktop.Notifications and hands each notification to the shell.
# It needs the gjs program (Debian package gjs).
NOTIFICATIONS_SERVICE = """[D-BUS Service]
Name=org.gnome.Shell.Notifications
Exec=/usr/bin/gjs /usr/share/gnome-shell/org.gnome.Shell.Notifications
"""


def end_process(process, timeout=10):
    """Ends one of ours by its id, then what it started and left behind
    (the session bus's activated helper), each by its own id."""
    left = descendants_of(process.pid) if process.poll() is None else []
    end(process, timeout)
    for pid in left:
        end_pid(pid)


def _menu_box(width, height, rgb, near_x, scale):
    """(left, top, right, bottom) of the popup menu hanging below the panel
    at column near_x: the popup's flat fill, joined up from its top edge."""
    def at(x, y):
        return rgb[(y * width + x) * 3:(y * width + x) * 3 + 3]

    seed = next(((near_x, y) for y in range(20 * scale, 90 * scale) if at(near_x, y) == MENU_BACKGROUND), None)
    if seed is None:
        return None
    seen = {seed}
    todo = [seed]
    while todo:
        x, y = todo.pop()
        for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
            if 0 <= nx < width and 0 <= ny < height and (nx, ny) not in seen and at(nx, ny) == MENU_BACKGROUND:
                seen.add((nx, ny))
                todo.append((nx, ny))
    xs = [x for x, _ in seen]
    ys = [y for _, y in seen]
    box = min(xs), min(ys), max(xs), max(ys)
    # Anything smaller is not a menu (a workspace thumbnail in the overview).
    if box[2] - box[0] < 80 * scale or box[3] - box[1] < 30 * scale:
        return None
    return box


class GnomeHost:
    name = "gnome"
    icon_scale = 1

    def __init__(self, work_dir, scale=1, extension=True):
        """extension False: plain GNOME, no tray at all."""
        self.dir = work_dir
        self.scale = scale
        # The extension picks the smallest pixmap of at least 16 px times the
        # UI scale and draws it at that size: 1:1 when it is exactly that.
        self.icon_scale = scale
        self.extension = extension
        self.env = None
        self.processes = []
        self.shell = None
        self.shell_log = os.path.join(work_dir, "gnome-shell.log")
        self.bus = None
        self._session_bus = None
        self._remote = None
        self._pointer = None

    # -- session ---------------------------------------------------------
    def start_session(self):
        paths = {}
        for name in ("runtime", "home", "config", "cache", "data", "services"):
            paths[name] = os.path.join(self.dir, name)
            os.makedirs(paths[name], mode=0o700, exist_ok=True)
        with open(os.path.join(paths["services"], "org.gnome.Shell.Notifications.service"), "w") as service:
            service.write(NOTIFICATIONS_SERVICE)
        profile = os.path.join(self.dir, "dconf-profile")
        with open(profile, "w") as text:
            text.write("user-db:user\n")
        self.env = {
            "PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "LANG": "C.UTF-8",
            "HOME": paths["home"], "XDG_RUNTIME_DIR": paths["runtime"],
            "XDG_CONFIG_HOME": paths["config"], "XDG_CACHE_HOME": paths["cache"],
            "XDG_DATA_HOME": paths["data"],
            # Only our own profile: the machine's /etc/dconf databases stay out.
            "DCONF_PROFILE": profile,
            # What GDM and gnome-session give a GNOME session's programs.
            "XDG_CURRENT_DESKTOP": "GNOME", "XDG_SESSION_DESKTOP": "gnome", "DESKTOP_SESSION": "gnome",
            "XDG_SESSION_TYPE": "wayland",
            "NO_AT_BRIDGE": "1", "GTK_A11Y": "none",
        }
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self._start_bus("system", None)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus("session", paths["services"])
        self._session_bus = self.processes[-1]
        self.bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        self.spawn(["/usr/libexec/dconf-service"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: self.bus.name_has_owner("ca.desrt.dconf")):
            raise RuntimeError("dconf-service did not start")
        # dconf's command line tool is not installed with GNOME: gsettings
        # writes through dconf-service into XDG_CONFIG_HOME/dconf/user.
        settings = [("org.gnome.shell", "enabled-extensions", "['%s']" % EXTENSION if self.extension else "@as []")]
        if self.scale != 1:
            # Mutter takes this for every monitor it configures itself.
            settings.append(("org.gnome.desktop.interface", "scaling-factor", "uint32 %d" % self.scale))
        for schema, key, value in settings:
            subprocess.run(["gsettings", "set", schema, key, value], env=self.env, check=True)
        self.bus.request_name("org.gnome.Screenshot", dbus.bus.NAME_FLAG_DO_NOT_QUEUE)

    def _start_bus(self, kind, servicedir):
        config = os.path.join(self.dir, "%s-bus.conf" % kind)
        with open(config, "w") as text:
            text.write(BUS_CONFIG % {"type": kind, "socket": os.path.join(self.dir, "%s-bus" % kind),
                                     "servicedir": "<servicedir>%s</servicedir>" % servicedir if servicedir else ""})
        return start_bus(self.spawn, "--config-file=" + config)

    def spawn(self, argv, **popen_kwargs):
        env = dict(self.env)
        env.update(popen_kwargs.pop("env", None) or {})
        process = subprocess.Popen(argv, env=env, **popen_kwargs)
        self.processes.append(process)
        return process

    # -- host ------------------------------------------------------------
    def start_host(self):
        with open(self.shell_log, "a") as log:
            self.shell = self.spawn(["gnome-shell", "--headless", "--wayland", "--no-x11",
                                     "--virtual-monitor", "%dx%d" % (WIDTH, HEIGHT)],
                                    stdout=log, stderr=subprocess.STDOUT)
        owned = WATCHER if self.extension else "org.gnome.Shell.Screenshot"
        if not wait_until(lambda: self.bus.name_has_owner(owned) or self.shell.poll() is not None, timeout=30):
            raise RuntimeError("gnome-shell never took %s (log: %s)" % (owned, self.shell_log))
        if self.shell.poll() is not None:
            raise RuntimeError("gnome-shell ended with %s (log: %s)" % (self.shell.returncode, self.shell_log))
        self.env["WAYLAND_DISPLAY"] = "wayland-0"  # in our own XDG_RUNTIME_DIR
        # Drawn: the screenshot service answers once the stage has painted.
        if not wait_until(self._try_screenshot, timeout=30, step=0.2):
            raise RuntimeError("gnome-shell never gave a screenshot (log: %s)" % self.shell_log)
        self._remote = None
        self._remote_desktop()

    def stop_host(self):
        if self.shell is not None:
            end_process(self.shell)
            self.processes.remove(self.shell)
            self.shell = None
        self._remote = None
        self._pointer = None
        if not wait_until(lambda: not self.bus.name_has_owner(WATCHER), timeout=10):
            raise RuntimeError("%s stayed after gnome-shell ended" % WATCHER)

    # -- screen ----------------------------------------------------------
    def _try_screenshot(self):
        try:
            return self.screenshot()
        except dbus.DBusException:
            return None

    def screenshot(self):
        path = os.path.join(self.dir, "shot.png")
        shooter = self.bus.get_object("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot")
        ok, used = shooter.Screenshot(False, False, path, dbus_interface="org.gnome.Shell.Screenshot", timeout=20)
        if not ok:
            raise dbus.DBusException("the shell took no screenshot")
        pixbuf = GdkPixbuf.Pixbuf.new_from_file(str(used))
        width, height = pixbuf.get_width(), pixbuf.get_height()
        channels, stride = pixbuf.get_n_channels(), pixbuf.get_rowstride()
        data = pixbuf.get_pixels()
        rows = [data[y * stride:y * stride + width * channels] for y in range(height)]
        if channels == 3:
            return width, height, b"".join(rows)
        rgb = bytearray(width * height * 3)
        for y, row in enumerate(rows):
            line = bytearray(width * 3)
            line[0::3], line[1::3], line[2::3] = row[0::4], row[1::4], row[2::4]
            rgb[y * width * 3:(y + 1) * width * 3] = line
        return width, height, bytes(rgb)

    # -- pointer ---------------------------------------------------------
    def _remote_desktop(self):
        if self._remote is None:
            manager = self.bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
            path = manager.CreateSession(dbus_interface="org.gnome.Mutter.RemoteDesktop")
            session = dbus.Interface(self.bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                                     "org.gnome.Mutter.RemoteDesktop.Session")
            session.Start()
            self._remote = session
        return self._remote

    def hover(self, x, y):
        """Puts the pointer at screen pixel (x, y)."""
        session = self._remote_desktop()
        # First into the bottom right corner, where the pointer stops, then
        # back by the difference. Not the top left corner: it is the hot
        # corner that opens the overview. Mutter multiplies relative motion
        # by the UI scale.
        session.NotifyPointerMotionRelative(10000.0, 10000.0)
        session.NotifyPointerMotionRelative((x - (WIDTH - 1)) / self.scale, (y - (HEIGHT - 1)) / self.scale)
        self._pointer = (x, y)

    def click(self, x, y, button=1, count=1):
        """count 2: a double click, well within the shell's 400 ms."""
        self.hover(x, y)
        time.sleep(0.2)  # the shell picks the actor under the pointer on motion
        session = self._remote_desktop()
        for _ in range(count):
            session.NotifyPointerButton(BUTTONS[button], True)
            session.NotifyPointerButton(BUTTONS[button], False)

    def menu_item_position(self, index):
        """Middle of the index-th item of the menu the shell opened under
        the last click: the items are the bands of rows holding bright text
        inside the popup's fill."""
        if self._pointer is None:
            return None
        width, height, rgb = self.screenshot()
        box = _menu_box(width, height, rgb, self._pointer[0], self.scale)
        if box is None:
            return None
        left, top, right, bottom = box
        bands = []
        for y in range(top, bottom + 1):
            row = rgb[(y * width + left) * 3:(y * width + right + 1) * 3]
            bright = any(min(row[i:i + 3]) >= 160 for i in range(0, len(row), 3))
            if bright and bands and bands[-1][1] >= y - 2 * self.scale:
                bands[-1][1] = y
            elif bright:
                bands.append([y, y])
        if index >= len(bands):
            return None
        first, last = bands[index]
        return (left + right) // 2, (first + last) // 2

    def close(self):
        if self._remote is not None and self.shell is not None and self.shell.poll() is None:
            try:
                self._remote.Stop()
            except dbus.DBusException:
                pass
        self._remote = None
        for process in reversed(self.processes):
            if process is self._session_bus and self.bus is not None:
                self.bus.close()
                self.bus = None
            end_process(process)
        self.processes = []
        self.shell = None
