#!/usr/bin/env python3
"""gleamo's icon in a real host: Xfce's panel with only its status tray, which
hosts both items and XEmbed icons.

    xfce_panel_host_test.py --app GLEAMO_TEST_APP --pixmap GLEAMO_TEST_PIXMAP

Puts up its own X server, session bus, xfconfd (with a private configuration
holding one panel with the status tray plugin) and panel, and ends each of
them, and whatever the panel started, by its process id. No window manager is
needed. Judges gleamo only by what the screen shows and by its exit code.
"""
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fixtures import model_pixmaps, parse_arguments  # noqa: E402
from session_tools import children_of, end, wait_until  # noqa: E402

ARGS = None
WIDTH, HEIGHT = 480, 160
PANEL_SIZE = 30
ICON_SIZE = 22  # the status tray's default icon size
IDLE_BAR = 130000  # blue bar icon, counters standing still
WATCHER = "org.kde.StatusNotifierWatcher"

PANEL_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="%(size)d"/>
      <property name="plugin-ids" type="array">
%(ids)s
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
%(plugins)s
  </property>
</channel>
"""


def panel_config(plugins=("systray",)):
    """One panel along the top holding these plugins, numbered from 1."""
    numbered = list(enumerate(plugins, 1))
    return PANEL_CONFIG % {
        "size": PANEL_SIZE,
        "ids": "\n".join('        <value type="int" value="%d"/>' % n for n, _ in numbered),
        "plugins": "\n".join('    <property name="plugin-%d" type="string" value="%s"/>' % (n, name)
                             for n, name in numbered)}


def model_icon(code, size):
    """The ARGB pixmap of the given size the pixel model gives the code."""
    for pixmap_size, argb in model_pixmaps(ARGS.pixmap, code):
        if pixmap_size == size:
            return argb
    raise AssertionError("the pixel model has no %d px pixmap" % size)


class Screen:
    """The private X server's root window, read back in RGB."""

    def __init__(self, env):
        self.env = env

    def shot(self):
        return subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=self.env,
                              check=True, capture_output=True).stdout

    def find_icon(self, model, size):
        """Top left corner of a size x size canvas on the panel showing the
        model exactly: its opaque pixels in their colours, its transparent
        ones all one colour (the tray's background, not a blend)."""
        shot = self.shot()
        opaque = [(x, y, model[(y * size + x) * 4 + 1:(y * size + x) * 4 + 4])
                  for y in range(size) for x in range(size) if model[(y * size + x) * 4] == 0xFF]
        clear = [(x, y) for y in range(size) for x in range(size) if model[(y * size + x) * 4] == 0]
        assert opaque and clear and len(opaque) + len(clear) == size * size

        def pixel(x, y):
            at = (y * WIDTH + x) * 3
            return shot[at:at + 3]

        first_x, first_y, first_rgb = opaque[0]
        for top in range(0, PANEL_SIZE + 1 - size + 1):
            for left in range(0, WIDTH - size + 1):
                if pixel(left + first_x, top + first_y) != first_rgb:
                    continue
                if any(pixel(left + x, top + y) != rgb for x, y, rgb in opaque):
                    continue
                background = pixel(left + clear[0][0], top + clear[0][1])
                if all(pixel(left + x, top + y) == background for x, y in clear):
                    return left, top
        return None

    def popup_menus(self):
        """(x, y, width, height) of the viewable windows taller than the
        panel: the panel's own menu, or gleamo's, which a click brings while
        the panel has not loaded the item's menu yet."""
        tree = subprocess.run(["xwininfo", "-root", "-children"], env=self.env, check=True,
                              capture_output=True, text=True).stdout
        menus = []
        for window, width, height, x, y in re.findall(r"^\s*(0x[0-9a-f]+).*?\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", tree,
                                                      re.MULTILINE):
            if int(height) < 40:
                continue
            info = subprocess.run(["xwininfo", "-id", window], env=self.env, capture_output=True, text=True).stdout
            if "IsViewable" in info:
                menus.append((int(x), int(y), int(width), int(height)))
        return menus

    def click(self, x, y):
        subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=self.env, check=True)
        time.sleep(0.3)  # the menu selects the item under the pointer on motion
        subprocess.run(["xdotool", "click", "1"], env=self.env, check=True)

    def park_pointer(self):
        # A pointer over the icon lights its button and changes the background.
        subprocess.run(["xdotool", "mousemove", str(WIDTH - 1), str(HEIGHT - 1)], env=self.env, check=True)


class XfcePanelTest(unittest.TestCase):
    def setUp(self):
        for program in ("Xvfb", "dbus-daemon", "xfce4-panel", "import", "xdotool", "xwininfo"):
            if shutil.which(program) is None:
                self.fail("%s is missing: run scripts/setup.sh" % program)
        xfconfd = glob.glob("/usr/lib/*/xfce4/xfconf/xfconfd") + glob.glob("/usr/lib/xfce4/xfconf/xfconfd")
        if not xfconfd:
            self.fail("xfconfd is missing: run scripts/setup.sh")
        self.dir = tempfile.mkdtemp(prefix="gleamo-xfce-")
        self.addCleanup(shutil.rmtree, self.dir, True)  # last: the processes write there until they end
        self.processes = []
        self.addCleanup(self.end_all)
        config = os.path.join(self.dir, "config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(config)
        with open(os.path.join(config, "xfce4-panel.xml"), "w") as panel:
            panel.write(panel_config())
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700)

        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                        XDG_CACHE_HOME=os.path.join(self.dir, "cache"), XDG_DATA_HOME=os.path.join(self.dir, "data"),
                        XDG_RUNTIME_DIR=runtime, NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory")
        self.env.pop("SESSION_MANAGER", None)
        self.env["DISPLAY"] = self.start_x_server()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_bus()
        self.start([xfconfd[0]])
        self.bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        self.addCleanup(self.bus.close)
        self.screen = Screen(self.env)
        self.screen.park_pointer()

    def start(self, command, **kwargs):
        process = subprocess.Popen(command, env=kwargs.pop("env", self.env), **kwargs)
        self.processes.append(process)
        return process

    def end_all(self):
        for process in reversed(self.processes):
            self.end_with_children(process)

    def end_with_children(self, process):
        """Ends one of ours and what it started (the panel runs its status
        tray in a wrapper process), each by its id; returns the exit code."""
        children = children_of(process.pid) if process.poll() is None else []
        code = end(process)
        for pid in children:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        return code

    def start_x_server(self):
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % (WIDTH, HEIGHT), "-nolisten", "tcp"],
                   pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as display:
            number = display.readline().strip()
        self.assertTrue(number, "Xvfb gave no display number")
        return ":" + number

    def start_bus(self):
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                         text=True)
        address = bus.stdout.readline().strip()
        bus.stdout.close()
        self.assertTrue(address, "dbus-daemon gave no address")
        return address

    def start_panel(self):
        panel = self.start(["xfce4-panel", "--disable-wm-check"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if not wait_until(lambda: self.bus.name_has_owner(WATCHER), timeout=10):
            self.fail("the panel's status tray never took " + WATCHER)
        return panel

    def end_panel(self, panel):
        self.end_with_children(panel)
        self.assertTrue(wait_until(lambda: not self.bus.name_has_owner(WATCHER), timeout=10))

    def start_gleamo(self, options, env=None):
        stats = os.path.join(self.dir, "diskstats")
        os.makedirs(os.path.join(self.dir, "block", "sda", "device"))
        with open(stats, "w") as text:
            text.write("   8       0 sda 1000 0 0 0 500 0 0 0 0 0 0\n")
        self.gleamo_err = os.path.join(self.dir, "stderr")
        with open(self.gleamo_err, "w") as err:
            return self.start([ARGS.app, stats, os.path.join(self.dir, "block")] + options, env=env or self.env,
                              stdout=subprocess.DEVNULL, stderr=err)

    def find_any_icon(self, models):
        """(left, top, size) of the picture the panel shows, or None. It draws
        the pixmap it picks for its icon size unscaled: 22 px by default, and
        after some restarts the 16 px one."""
        for size, model in models:
            found = self.screen.find_icon(model, size)
            if found:
                return found[0], found[1], size
        return None

    def wait_for_icon(self, models, timeout=10.0):
        found = wait_until(lambda: self.find_any_icon(models), timeout, step=0.2)
        if not found:
            subprocess.run(["import", "-window", "root", os.path.join(self.dir, "screen.png")], env=self.env)
            shutil.copy(os.path.join(self.dir, "screen.png"), os.path.join(os.getcwd(), "xfce-panel-last.png"))
            self.fail("the panel never showed the 22 or 16 px picture unscaled (screen in xfce-panel-last.png)")
        return found

    def registered_items(self):
        watcher = self.bus.get_object(WATCHER, "/StatusNotifierWatcher")
        return list(watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=dbus.PROPERTIES_IFACE))

    def test_as_an_item_where_the_desktop_is_not_named(self):
        self.crisp_icon_survives_a_panel_restart_and_its_menu_ends_the_program(self.env, as_item=True)

    def test_as_an_xembed_icon_on_xfce_where_a_new_picture_costs_the_panel_less(self):
        self.crisp_icon_survives_a_panel_restart_and_its_menu_ends_the_program(
            dict(self.env, XDG_CURRENT_DESKTOP="XFCE"), as_item=False)

    def crisp_icon_survives_a_panel_restart_and_its_menu_ends_the_program(self, env, as_item):
        panel = self.start_panel()
        gleamo = self.start_gleamo(["-f"], env)
        models = [(size, model_icon(IDLE_BAR, size)) for size in (ICON_SIZE, 16)]
        self.wait_for_icon(models)

        self.end_panel(panel)
        self.assertIsNone(gleamo.poll())
        self.start_panel()
        left, top, size = self.wait_for_icon(models)
        # One icon, on the road this desktop takes, also after the restart.
        self.assertTrue(wait_until(lambda: bool(self.registered_items()) == as_item, timeout=5),
                        "registered items: %r" % self.registered_items())

        self.screen.click(left + size // 2, top + size // 2)
        menus = wait_until(self.screen.popup_menus, timeout=5)
        self.assertEqual(len(menus or []), 1, "no menu opened at the icon: %r" % menus)
        x, y, width, height = menus[0]
        self.assertLess(abs(x - left), ICON_SIZE * 2, "the menu opened away from the icon")
        # Three items of equal height: "end program" is the last.
        self.screen.click(x + width // 2, y + height * 5 // 6)
        try:
            code = gleamo.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.fail("clicking the menu's last item did not end the program")
        self.assertEqual(code, 0)
        self.screen.park_pointer()
        self.assertTrue(wait_until(lambda: self.find_any_icon(models) is None, timeout=5),
                        "the icon stayed after the program ended")
        with open(self.gleamo_err) as err:
            self.assertNotIn("no StatusNotifierWatcher", err.read())


def main():
    global ARGS
    # Its own session bus, started with the panel.
    ARGS, argv = parse_arguments("app", "pixmap", session_bus=False)
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
