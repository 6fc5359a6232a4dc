"""Tray hosts of the sway family, run headless for tests: waybar's tray
module and swaybar's own tray, each on sway 1.7's headless backend.

    host = WaybarHost(work_dir, scale=1)     # or SwaybarHost
    host.start_session(); host.start_host()
    app = host.spawn([...]); width, height, rgb = host.screenshot(); ...
    host.close()

sway will not run as root, so as root everything of the session (the bus,
sway, Xwayland, the bar and whatever spawn() starts) runs as nobody, with a
runtime folder, home and configuration of its own under work_dir. The bus
also lets root connect, so that a test can watch names on it. Screen
coordinates are those of the screenshot: output pixels, which at scale 2
are twice sway's layout coordinates (and Xwayland's root coordinates).
"""
import glob
import os
import pwd
import shutil
import signal
import socket
import stat
import struct
import subprocess
import tempfile
import time

from session_tools import end, is_gone, start_bus, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
WIDTH, HEIGHT = 1280, 720  # output pixels, at every scale
SYSTEM_PREFIXES = ("/usr/", "/bin/", "/sbin/", "/lib/", "/etc/")
PYTHON = "/usr/bin/python3"  # Debian's, where python3-dbus and python3-xlib live

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <listen>unix:path=%s</listen>
  <!-- the test, as root, watches names on the session's bus -->
  <policy context="default"><allow user="root"/></policy>
</busconfig>
"""

# sway's defaults, less what a headless test has no use for: no wallpaper,
# no key bindings. The exec line tells the fixture that sway is up, with its
# outputs and Xwayland's display (started on a client's first connection).
SWAY_CONFIG = """output HEADLESS-1 resolution %dx%d scale %d
exec printf '%%s\\n' "$DISPLAY" > %s.part && mv %s.part %s
%s
"""

# The bar of sway's default configuration (/etc/sway/config) without its
# clock. The fixture starts swaybar itself, as sway would (`swaybar -b
# bar-0`), so that it knows its process and can stop and start it again:
# sway's own start does nothing.
SWAYBAR_BLOCK = """bar {
    id bar-0
    position top
    swaybar_command true
    colors {
        statusline #ffffff
        background #323232
        inactive_workspace #32323200 #32323200 #5c5c5c
    }
}"""

# waybar's default configuration (/etc/xdg/waybar/config) with only its tray
# module; its default style sheet, /etc/xdg/waybar/style.css, applies.
WAYBAR_CONFIG = """{
    "height": 30,
    "spacing": 4,
    "modules-right": ["tray"],
    "tray": {"spacing": 10}
}
"""

BTN_LEFT, BTN_RIGHT, BTN_MIDDLE = 0x110, 0x111, 0x112
X11_BUTTONS = {1: BTN_LEFT, 2: BTN_MIDDLE, 3: BTN_RIGHT}


def _pids_marked(marker):
    """Processes whose environment carries the session's marker: what the
    session's programs started behind our back (Xwayland, a forked helper),
    found without naming any program."""
    found = []
    needle = ("GLEAMO_SWAY_SESSION=%s" % marker).encode()
    for path in glob.glob("/proc/[0-9]*/environ"):
        try:
            with open(path, "rb") as environ:
                if needle in environ.read().split(b"\0"):
                    found.append(int(path.split("/")[2]))
        except OSError:
            continue
    return found


def _reachable_by_others(path):
    """Whether a user other than the owner may pass every folder above path."""
    path = os.path.abspath(path)
    while True:
        parent = os.path.dirname(path)
        if parent == path:
            return True
        if not os.stat(parent).st_mode & stat.S_IXOTH:
            return False
        path = parent


class VirtualPointer:
    """A pointer device of the test's own, by the wlroots virtual-pointer
    protocol, spoken on the Wayland socket directly. The headless backend
    has no input devices: until one exists the seat offers clients no
    pointer at all, and no click reaches a bar."""

    DISPLAY = 1

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b""
        self.last_id = 1  # a new object takes the next id, in order
        self.registry = self._new_id()
        self._send(self.DISPLAY, 1, struct.pack("<I", self.registry))  # get_registry
        found = {}
        for obj, opcode, body in self._roundtrip():
            if obj == self.registry and opcode == 0:  # global(name, interface, version)
                name, length = struct.unpack_from("<II", body)
                found[body[8:8 + length - 1].decode()] = name
        if "zwlr_virtual_pointer_manager_v1" not in found:
            raise RuntimeError("the compositor offers no virtual pointers")
        self.seat = self._bind(found["wl_seat"], "wl_seat")
        manager = self._bind(found["zwlr_virtual_pointer_manager_v1"], "zwlr_virtual_pointer_manager_v1")
        self.pointer = self._new_id()
        self._send(manager, 0, struct.pack("<II", self.seat, self.pointer))  # create_virtual_pointer
        self._roundtrip()

    def _new_id(self):
        self.last_id += 1
        return self.last_id

    def _send(self, obj, opcode, body=b""):
        self.sock.sendall(struct.pack("<II", obj, (8 + len(body)) << 16 | opcode) + body)

    def _bind(self, name, interface):
        new_id = self._new_id()
        text = interface.encode() + b"\0"
        self._send(self.registry, 0, struct.pack("<II", name, len(text)) + text + b"\0" * (-len(text) % 4) +
                   struct.pack("<II", 1, new_id))
        return new_id

    def _roundtrip(self):
        """The events up to the answer of a wl_display.sync: every request
        sent before it has been handled."""
        callback = self._new_id()
        self._send(self.DISPLAY, 0, struct.pack("<I", callback))
        events = []
        while True:
            while len(self.buffer) < 8 or len(self.buffer) < struct.unpack_from("<I", self.buffer, 4)[0] >> 16:
                data = self.sock.recv(65536)
                if not data:
                    raise RuntimeError("the compositor closed the connection")
                self.buffer += data
            obj, word = struct.unpack_from("<II", self.buffer)
            body, self.buffer = self.buffer[8:word >> 16], self.buffer[word >> 16:]
            if obj == self.DISPLAY and word & 0xFFFF == 0:
                raise RuntimeError("Wayland protocol error: %r" % body)
            if obj == callback:
                return events
            events.append((obj, word & 0xFFFF, body))

    @staticmethod
    def _time():
        return int(time.monotonic() * 1000) & 0xFFFFFFFF

    def move(self, x, y, width, height):
        """To (x, y) of a width x height frame laid over the whole layout."""
        self._send(self.pointer, 1, struct.pack("<IIIII", self._time(), int(x), int(y), width, height))
        self._send(self.pointer, 4)  # frame
        self._roundtrip()

    def button(self, code, pressed):
        self._send(self.pointer, 2, struct.pack("<III", self._time(), code, 1 if pressed else 0))
        self._send(self.pointer, 4)
        self._roundtrip()

    def close(self):
        self.sock.close()


class _SwaySession:
    name = None
    icon_scale = 1

    def __init__(self, work_dir, scale=1):
        self.scale = scale
        self.icon_scale = scale  # both bars draw icons at the output's scale
        self.processes = []
        self.host = None
        self.env = None
        self.pointer = None
        self._bus = None
        self.logs = []
        self.marker = "%d-%d" % (os.getpid(), id(self))
        self.as_root = os.geteuid() == 0
        if self.as_root:
            user = pwd.getpwnam("nobody")
            self.uid, self.gid = user.pw_uid, user.pw_gid
        else:
            self.uid, self.gid = os.getuid(), os.getgid()
        # nobody must reach the session's folder; where the caller's sits in
        # a root-only tree, a folder of our own in /tmp stands in for it.
        self.own_dir = None
        if self.as_root and not _reachable_by_others(work_dir):
            self.own_dir = tempfile.mkdtemp(prefix="gleamo-sway-")
            work_dir = self.own_dir
        self.dir = os.path.abspath(work_dir)
        self.copied = {}

    # ---- the session ----

    def _user_path(self, *parts):
        path = os.path.join(self.dir, *parts)
        os.makedirs(path, exist_ok=True)
        if self.as_root:
            os.chown(path, self.uid, self.gid)
        return path

    def _drop(self):
        if not self.as_root:
            return []
        return ["setpriv", "--reuid=%d" % self.uid, "--regid=%d" % self.gid, "--clear-groups"]

    def _start(self, argv, env=None, **kwargs):
        process = subprocess.Popen(self._drop() + list(argv), env=env or self.env, **kwargs)
        self.processes.append(process)
        return process

    def _log(self, name):
        log = open(os.path.join(self.dir, name), "a")
        self.logs.append(log)
        return log

    def start_session(self):
        started = time.monotonic()
        if self.as_root:
            os.chown(self.dir, self.uid, self.gid)
        run = self._user_path("run")
        os.chmod(run, 0o700)
        config = self._user_path("config")
        self._user_path("config", "sway")
        self._user_path("bin")
        self.env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "HOME": self._user_path("home"),
            "USER": "nobody" if self.as_root else os.environ.get("USER", ""),
            "LANG": "C.UTF-8",
            "XDG_RUNTIME_DIR": run,
            "XDG_CONFIG_HOME": config,
            "XDG_CACHE_HOME": self._user_path("cache"),
            "XDG_DATA_HOME": self._user_path("data"),
            "WLR_BACKENDS": "headless",
            "WLR_LIBINPUT_NO_DEVICES": "1",
            "WLR_RENDERER": "pixman",
            "NO_AT_BRIDGE": "1",
            "GSETTINGS_BACKEND": "memory",
            "GLEAMO_SWAY_SESSION": self.marker,
        }
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus(run)
        ready = os.path.join(run, "sway-ready")
        sway_config = os.path.join(config, "sway", "config")
        with open(sway_config, "w") as text:
            text.write(SWAY_CONFIG % (WIDTH, HEIGHT,
                                      self.scale, ready, ready, ready, self._bar_block()))
        self._write_host_config()
        log = self._log("sway.log")
        self.sway = self._start(["sway", "-c", sway_config], stdout=log, stderr=subprocess.STDOUT)
        if not wait_until(lambda: os.path.exists(ready) or self.sway.poll() is not None, timeout=30):
            raise RuntimeError("sway did not come up; see %s" % log.name)
        if self.sway.poll() is not None:
            raise RuntimeError("sway ended at once; see %s" % log.name)
        with open(ready) as text:
            self.env["DISPLAY"] = text.read().strip()
        self.env["WAYLAND_DISPLAY"] = "wayland-1"
        self.env["SWAYSOCK"] = glob.glob(os.path.join(run, "sway-ipc.*.sock"))[0]
        self.pointer = VirtualPointer(os.path.join(run, "wayland-1"))
        self.park_pointer()
        self.background = self.screenshot()
        self.session_seconds = time.monotonic() - started

    def _start_bus(self, run):
        path = os.path.join(run, "bus")
        config = os.path.join(self.dir, "bus.conf")
        with open(config, "w") as text:
            text.write(BUS_CONFIG % path)
        return start_bus(self._start, "--config-file=" + config, stderr=None)

    def _bar_block(self):
        return ""

    def _write_host_config(self):
        pass

    def bus(self):
        """A connection of the test's own to the session's bus."""
        import dbus
        if self._bus is None:
            self._bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        return self._bus

    def watcher_owned(self):
        return self.bus().name_has_owner(WATCHER)

    def watcher_pid(self):
        bus = self.bus()
        return int(bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetConnectionUnixProcessID", "s", (bus.get_name_owner(WATCHER),)))

    # ---- the host ----

    def _host_argv(self):
        raise NotImplementedError

    def start_host(self):
        started = time.monotonic()
        log = self._log("%s.log" % self.name)
        self.host = self._start(self._host_argv(), stdout=log, stderr=subprocess.STDOUT)
        if not wait_until(lambda: self.watcher_owned() or self.host.poll() is not None, timeout=30):
            raise RuntimeError("%s never took %s" % (self.name, WATCHER))
        if self.host.poll() is not None:
            raise RuntimeError("%s ended at once; see %s" % (self.name, log.name))
        # Drawn: the top row of the screen no longer shows the bare desktop.
        row = WIDTH * 3
        if not wait_until(lambda: self.screenshot()[2][:row] != self.background[2][:row], timeout=30, step=0.1):
            raise RuntimeError("%s never drew its bar" % self.name)
        self.host_seconds = time.monotonic() - started

    def stop_host(self):
        if self.host is None:
            return
        end(self.host)
        self.processes.remove(self.host)
        self.host = None
        if not wait_until(lambda: not self.watcher_owned(), timeout=10):
            raise RuntimeError("%s left %s behind" % (self.name, WATCHER))

    # ---- inside the session ----

    def _runnable(self, program):
        """program, or a copy nobody may run where it sits in a root-only place."""
        if not self.as_root or os.sep not in program or os.path.abspath(program).startswith(SYSTEM_PREFIXES):
            return program
        if program not in self.copied:
            copy = os.path.join(self.dir, "bin", os.path.basename(program))
            shutil.copy(program, copy)
            os.chmod(copy, 0o755)
            self.copied[program] = copy
        return self.copied[program]

    def spawn(self, argv, **popen_kwargs):
        argv = list(argv)
        argv[0] = self._runnable(argv[0])
        env = popen_kwargs.pop("env", None) or self.env
        return self._start(argv, env=env, **popen_kwargs)

    def _user_run(self, argv, **kwargs):
        return subprocess.run(self._drop() + list(argv), env=self.env, check=True, **kwargs)

    def screenshot(self):
        ppm = self._user_run(["grim", "-t", "ppm", "-"], capture_output=True).stdout
        # P6, width, height, maxval, one white space, then the pixels
        fields, at = [], 0
        while len(fields) < 4:
            while ppm[at:at + 1].isspace():
                at += 1
            end = at
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[at:end])
            at = end
        width, height = int(fields[1]), int(fields[2])
        return width, height, ppm[at + 1:at + 1 + width * height * 3]

    def move_pointer(self, x, y):
        self.pointer.move(x, y, WIDTH, HEIGHT)

    def park_pointer(self):
        # Bottom left, on the bare desktop: the software cursor is part of
        # every screenshot, and a pointer over an item lights it.
        self.move_pointer(0, HEIGHT - 1)

    def click(self, x, y, button=1):
        # Two steps: Xwayland applies the last relative motion it saw as the
        # pointer left its windows to the first event after it comes back,
        # so one jump back onto an X window would press somewhere else.
        self.move_pointer(x + 1, y)
        time.sleep(0.05)
        self.move_pointer(x, y)
        time.sleep(0.1)  # a menu selects what the pointer is over on motion
        self.pointer.button(X11_BUTTONS[button], True)
        self.pointer.button(X11_BUTTONS[button], False)
        time.sleep(0.05)
        self.park_pointer()

    def menu_item_position(self, index):
        box = self.menu_box()
        if box is None:
            return None
        left, top, width, height = box
        # Three items of equal height.
        return left + width // 2, top + height * (2 * index + 1) // 6

    def menu_box(self):
        """(left, top, width, height) on the screen of the open menu, or None."""
        raise NotImplementedError

    def x_menu_box(self):
        """gleamo's own menu: an override-redirect window on Xwayland, whose
        root coordinates are sway's layout coordinates."""
        tree = subprocess.run(self._drop() + ["xwininfo", "-root", "-children"], env=self.env,
                              capture_output=True, text=True).stdout
        for line in tree.splitlines():
            if '("gleamo" "gleamo")' not in line:
                continue
            info = subprocess.run(self._drop() + ["xwininfo", "-id", line.split()[0]], env=self.env,
                                  capture_output=True, text=True).stdout
            if "IsViewable" not in info:
                continue
            field = dict(part.strip().split(":", 1) for part in info.splitlines() if ":" in part)
            left, top = int(field["Absolute upper-left X"]), int(field["Absolute upper-left Y"])
            width, height = int(field["Width"]), int(field["Height"])
            return left * self.scale, top * self.scale, width * self.scale, height * self.scale
        return None

    def close(self):
        if self.pointer:
            self.pointer.close()
            self.pointer = None
        for process in reversed(self.processes):
            end(process)
        self.processes = []
        # What they started and left behind (Xwayland, a helper), by id.
        for pid in _pids_marked(self.marker):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        wait_until(lambda: not [pid for pid in _pids_marked(self.marker) if not is_gone(pid)], timeout=5)
        for pid in _pids_marked(self.marker):
            if not is_gone(pid):
                os.kill(pid, signal.SIGKILL)
        if self._bus is not None:
            self._bus.close()
            self._bus = None
        for log in self.logs:
            log.close()
        self.logs = []
        if self.own_dir:
            shutil.rmtree(self.own_dir, ignore_errors=True)


class WaybarHost(_SwaySession):
    name = "waybar"

    def _write_host_config(self):
        with open(os.path.join(self._user_path("config", "waybar"), "config"), "w") as text:
            text.write(WAYBAR_CONFIG)

    def _host_argv(self):
        return ["waybar"]

    def menu_box(self):
        """waybar shows the item's dbusmenu as a GTK menu of its own: the
        white box (Adwaita's menu background) with the labels in it. Where
        the item opened a menu of its own instead, that one."""
        width, height, rgb = self.screenshot()
        rows = []
        for y in range(height):
            row = rgb[y * width * 3:(y + 1) * width * 3]
            white = [x for x in range(width) if row[3 * x:3 * x + 3] == b"\xff\xff\xff"]
            if len(white) > 20:
                rows.append((y, white[0], white[-1]))
        if not rows:
            return self.x_menu_box()
        left = min(r[1] for r in rows)
        right = max(r[2] for r in rows)
        top, bottom = rows[0][0], rows[-1][0]
        # The labels, dark on white; three lines of text, one an item.
        ink = [y for y in range(top, bottom + 1)
               if any(sum(rgb[(y * width + x) * 3:(y * width + x) * 3 + 3]) < 300 for x in range(left + 8, right - 8))]
        lines = []
        for y in ink:
            if lines and y - lines[-1][1] <= 2:
                lines[-1][1] = y
            else:
                lines.append([y, y])
        if len(lines) != 3:
            return left, top, right - left + 1, bottom - top + 1
        centres = [(a + b) / 2 for a, b in lines]
        step = (centres[2] - centres[0]) / 2
        return left, int(centres[0] - step / 2), right - left + 1, int(3 * step)


class SwaybarHost(_SwaySession):
    name = "swaybar"

    def _bar_block(self):
        return SWAYBAR_BLOCK

    def _host_argv(self):
        return ["swaybar", "-b", "bar-0"]

    def menu_box(self):
        # swaybar 1.7 draws no menus: both clicks call ContextMenu, and the
        # item opens a menu of its own.
        return self.x_menu_box()


class SwaybarWithoutXHost(SwaybarHost):
    """swaybar in a session with `xwayland disable`, and mako for its
    notifications: no X display for gleamo to draw a menu on, so a click
    offers the commands as a notification's actions, read off mako's bus
    interface (what `makoctl list` shows) and chosen through it (`makoctl
    invoke`), as a user's key binding would."""

    name = "swaybar"
    menu_as_notification = True
    MAKO = "/fr/emersion/Mako"

    def _bar_block(self):
        return SWAYBAR_BLOCK + "\nxwayland disable"

    def start_session(self):
        super().start_session()
        if not self.env["DISPLAY"]:
            del self.env["DISPLAY"]
        self.mako = self._start(["mako"], stdout=self._log("mako.log"), stderr=subprocess.STDOUT)
        if not wait_until(lambda: self.bus().name_has_owner("org.freedesktop.Notifications"), timeout=10):
            raise RuntimeError("mako never took org.freedesktop.Notifications")

    def _mako(self, method, signature="", args=()):
        return self.bus().call_blocking("org.freedesktop.Notifications", self.MAKO, "fr.emersion.Mako", method,
                                        signature, args)

    def notified_commands(self):
        """{label: (id, key)} of the actions of gleamo's notification (a
        server keeps them in no particular order); None while there is none."""
        for notice in self._mako("ListNotifications"):
            if str(notice["app-name"]) == "gleamo" and notice["actions"]:
                return {str(label): (int(notice["id"]), str(key)) for key, label in notice["actions"].items()}
        return None

    def choose_notified(self, command):
        self._mako("InvokeAction", "us", command)

