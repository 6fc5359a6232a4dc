#!/usr/bin/env python3
"""gleamo in X trays that host only XEmbed icons, judged by the screen.

    xembed_icon_test.py --app GLEAMO_TEST_APP --pixmap GLEAMO_TEST_PIXMAP

Run under dbus-run-session: a private session bus with no StatusNotifierWatcher.
Puts up its own Xvfb and real trays on it (trayer; tint2 for a tray with an
ARGB visual; a stand-in tray of x_tray_fixture.py for what trays seldom do),
and drives gleamo with xdotool.
"""
import fcntl
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import dbus
import dbus.lowlevel

from Xlib import X, display
from Xlib.protocol import event

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fixtures import Fixture, GleamoRun, parse_arguments, usage_of  # noqa: E402
from session_tools import wait_until  # noqa: E402
from x_tray_fixture import StandInTray  # noqa: E402

ARGS = None
USAGE = None  # what "help" shows
SCREEN_WIDTH, SCREEN_HEIGHT = 800, 600
WATCHER = "org.kde.StatusNotifierWatcher"
NO_HOST = "no StatusNotifierWatcher on the session bus and no system tray on the X display"
USAGE_TITLE = "gleamo usage"
DROPPED = "the system tray keeps dropping the icon"
# tint2 starts at once where the root window already names a desktop.
TINT2_CONFIG = """panel_items = S
panel_size = 100% 36
panel_position = bottom left horizontal
systray_padding = 2 2 4
systray_icon_size = 32
"""


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def start_xvfb():
    """A private X server; its process and display name."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "%dx%dx24" % (SCREEN_WIDTH, SCREEN_HEIGHT), "-nolisten", "tcp", "-noreset"],
                            pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as displayfd:
        return xvfb, ":" + displayfd.readline().strip()


def shown_windows(*pattern):
    return subprocess.run(["xdotool", "search", "--onlyvisible"] + list(pattern), capture_output=True,
                          text=True).stdout.split()


def icon_window():
    """The docked icon: gleamo's window that a tray has mapped, or None."""
    found = shown_windows("--name", "^gleamo$")
    return found[0] if found else None


def usage_windows():
    return shown_windows("--name", "^%s$" % USAGE_TITLE)


def menu_window(icon):
    others = [w for w in shown_windows("--classname", "^gleamo$") if w != icon and w not in usage_windows()]
    return others[0] if others else None


def ask_to_close(window):
    """Sends what a window manager's close button sends, to a window that
    says it takes it."""
    connection = display.Display()
    try:
        target = connection.create_resource_object("window", int(window))
        protocols = connection.intern_atom("WM_PROTOCOLS")
        delete = connection.intern_atom("WM_DELETE_WINDOW")
        assert delete in target.get_wm_protocols(), "the window does not take WM_DELETE_WINDOW"
        target.send_event(event.ClientMessage(window=target, client_type=protocols,
                                              data=(32, [delete, X.CurrentTime, 0, 0, 0])))
        connection.sync()
    finally:
        connection.close()


def geometry(window):
    values = dict(line.split("=") for line in run("xdotool", "getwindowgeometry", "--shell", window).split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screen_pixels(x, y, width, height):
    """RGB bytes of a rectangle of what the screen shows."""
    return subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                           "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout


class Tray:
    """A real tray host, started and stopped by the test."""

    def __init__(self, kind, work):
        if kind == "trayer":
            command = ["trayer", "--edge", "bottom", "--align", "left", "--widthtype", "pixel", "--width", "120",
                       "--height", "26", "--SetDockType", "false", "--SetPartialStrut", "false"]
        else:
            config = os.path.join(work, "tint2rc")
            with open(config, "w") as text:
                text.write(TINT2_CONFIG)
            command = ["tint2", "-c", config]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=5)


class XGleamo(GleamoRun):
    """gleamo on a counter file of the test's."""

    def __init__(self, options, env=None, close_fd=None, stdout=None):
        super().__init__(ARGS.app, options, env, close_fd=close_fd, stdout=stdout)

    def keep_reading(self):
        """Moves the read counter on every 50 ms, so that the icon stays
        active, until the returned function is called."""
        stop = threading.Event()

        def read():
            reads = 1000
            while not stop.wait(0.05):
                reads += 5
                self.set_counters(reads, 500)

        thread = threading.Thread(target=read)
        thread.start()
        return lambda: (stop.set(), thread.join())

    def stop(self):
        """Ends the run as a session's end would; returns the exit code and
        what gleamo said on standard error (a sanitizer's report too)."""
        code = self.end()
        said = self.stderr() if os.path.exists(self.err_path) else ""
        shutil.rmtree(self.dir, ignore_errors=True)
        return code, said


class XEmbedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.xvfb, os.environ["DISPLAY"] = start_xvfb()
        for name, value in (("_NET_NUMBER_OF_DESKTOPS", "1"), ("_NET_CURRENT_DESKTOP", "0")):
            run("xprop", "-root", "-f", name, "32c", "-set", name, value)

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.terminate()
        cls.xvfb.wait(timeout=5)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="gleamo-trays-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)

    def tray(self, kind="trayer"):
        tray = Tray(kind, self.work)
        self.addCleanup(tray.stop)
        return tray

    def stand_in_tray(self, **options):
        tray = StandInTray(**options)
        self.addCleanup(tray.close)
        return tray

    def docked_in(self, tray, app):
        self.assertTrue(tray.wait(lambda: tray.icon), "gleamo never docked: " + app.stderr())

    def start(self, options, env=None, close_fd=None, stdout=None):
        app = XGleamo(options, env, close_fd, stdout)
        # Ended by SIGTERM at the latest: cleanly, and without a sanitizer's report.
        self.addCleanup(self.assert_ends_cleanly, app)
        return app

    def assert_ends_cleanly(self, app):
        code, said = app.stop()
        self.assertEqual(code, 0, said)

    def shows(self, code):
        """Whether the docked icon shows the model of code at its size, the
        tray's own background where the picture is transparent."""
        icon = icon_window()
        if icon is None:
            return False
        x, y, width, height = geometry(icon)
        model = bytes.fromhex(run(ARGS.pixmap, str(code), "%dx%d" % (width, height)))
        shown = screen_pixels(x, y, width, height)
        background = screen_pixels(x + width + 3, y + height // 2, 1, 1)
        for i in range(width * height):
            argb = model[4 * i:4 * i + 4]
            expected = argb[1:] if argb[0] == 255 else background
            if shown[3 * i:3 * i + 3] != expected:
                return False
        return True

    def assert_shows(self, code, timeout=5.0):
        if not wait_until(lambda: self.shows(code), timeout):
            icon = icon_window()
            self.fail("the tray never showed code %d; icon %s" % (code, icon and geometry(icon)))

    def assert_usage_window(self):
        """The one window showing the usage: a top-level window with the
        usage's lines drawn from top to bottom."""
        found = wait_until(usage_windows)
        self.assertEqual(len(found), 1, "no usage window, or more than one")
        window = found[0]
        self.assertIn(window, shown_windows("--classname", "^gleamo$"))
        x, y, width, height = geometry(window)
        pixels = screen_pixels(x, y, width, height)
        text_rows = [row for row in range(height) if b"\0\0\0" in pixels[3 * width * row:3 * width * (row + 1)]]
        lines = USAGE.count("\n") + 1
        self.assertTrue(text_rows, "the usage window is empty")
        self.assertGreaterEqual(text_rows[-1] - text_rows[0], (lines - 1) * 13, "fewer lines than the usage has")
        return window

    def open_menu(self, button):
        icon = icon_window()
        x, y, width, height = geometry(icon)
        run("xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", str(button))
        menu = wait_until(lambda: menu_window(icon))
        self.assertIsNotNone(menu, "no menu after a click with button %d" % button)
        return menu

    def choose(self, menu, index):
        x, y, width, height = geometry(menu)
        run("xdotool", "mousemove", str(x + width // 2), str(y + height * (2 * index + 1) // 6), "click", "1")

    def test_icon_shows_the_model_at_the_trays_size_and_its_menu_ends_the_program(self):
        self.tray()
        app = self.start(["-c", "-r", "-f"])
        self.assert_shows(110)  # idle
        self.assertEqual(geometry(icon_window())[2:], (24, 24))  # trayer's rows, the picture unscaled in the middle
        stop_reading = app.keep_reading()
        self.addCleanup(stop_reading)
        self.assert_shows(111)  # red while the counters move
        stop_reading()
        self.assert_shows(110)

        menu = self.open_menu(3)
        x, y, width, height = geometry(menu)
        self.assertGreaterEqual(height, 3 * 13)  # three rows of readable text
        self.assertTrue(0 <= x and x + width <= SCREEN_WIDTH and 0 <= y and y + height <= SCREEN_HEIGHT)
        run("xdotool", "key", "Escape")
        self.assertTrue(wait_until(lambda: menu_window(icon_window()) is None), "Escape left the menu open")
        self.open_menu(1)
        run("xdotool", "mousemove", str(SCREEN_WIDTH - 10), "10", "click", "1")
        self.assertTrue(wait_until(lambda: menu_window(icon_window()) is None), "a click outside left the menu open")

        self.choose(self.open_menu(3), 2)  # end program
        self.assertEqual(app.process.wait(timeout=5), 0)
        self.assertIsNone(icon_window())
        self.assertNotIn(NO_HOST, app.stderr())

    def test_resting_on_the_icon_shows_the_tooltip_beside_it_until_it_leaves_or_is_clicked(self):
        self.tray()
        self.start(["-f"])
        self.assert_shows(130000)
        x, y, width, height = geometry(icon_window())

        def tooltip():
            found = shown_windows("--name", "^gleamo tooltip$")
            return found[0] if found else None

        run("xdotool", "mousemove", str(x + width // 2), str(y + height // 2))
        self.assertIsNone(tooltip(), "the tooltip came before the pointer rested")
        window = wait_until(tooltip, timeout=3)
        self.assertIsNotNone(window, "no tooltip while the pointer rested on the icon")
        # Beside the icon: above it, trayer being at the bottom of the screen.
        tip_x, tip_y, tip_width, tip_height = geometry(window)
        self.assertTrue(tip_y + tip_height <= y and y - (tip_y + tip_height) <= 8 and abs(tip_x - x) <= 8,
                        (geometry(window), (x, y)))
        pixels = screen_pixels(tip_x, tip_y, tip_width, tip_height)
        text_rows = [row for row in range(tip_height)
                     if b"\0\0\0" in pixels[3 * tip_width * row:3 * tip_width * (row + 1)]]
        self.assertGreaterEqual(text_rows[-1] - text_rows[0], 13, "fewer than the title and the disk's line")
        self.assertGreaterEqual(tip_width, len("sda  read 0 B/s  write 0 B/s  busy 0 %") * 6)

        run("xdotool", "mousemove", str(SCREEN_WIDTH - 10), "10")
        self.assertTrue(wait_until(lambda: tooltip() is None), "the tooltip outlived the pointer's leaving")
        run("xdotool", "mousemove", str(x + width // 2), str(y + height // 2))
        self.assertIsNotNone(wait_until(tooltip, timeout=3))
        run("xdotool", "click", "1")
        self.assertTrue(wait_until(lambda: tooltip() is None), "the tooltip outlived a click")
        run("xdotool", "key", "Escape")

    def test_under_xwayland_the_menu_closes_when_the_pointer_leaves_it(self):
        # There the grab sees no click on a Wayland window, only the pointer
        # leaving. gleamo knows Xwayland by WAYLAND_DISPLAY, all that
        # differs here from X.
        self.tray()
        self.start(["-f"], env=dict(os.environ, WAYLAND_DISPLAY="wayland-gleamo-test"))
        self.assert_shows(130000)
        x, y, width, height = geometry(self.open_menu(1))
        run("xdotool", "mousemove", str(x + width // 2), str(y + height // 6))  # onto "help"
        run("xdotool", "mousemove", str(SCREEN_WIDTH - 10), "10")
        self.assertTrue(wait_until(lambda: menu_window(icon_window()) is None), "leaving left the menu open")

    def test_icon_comes_back_when_the_tray_restarts(self):
        tray = self.tray()
        app = self.start(["-s", "-g", "-f"])
        self.assert_shows(10)
        tray.stop()
        self.assertTrue(wait_until(lambda: icon_window() is None), "the icon outlived its tray")
        self.tray()
        self.assert_shows(10)
        self.assertEqual(app.stop()[0], 0)  # SIGTERM, as a session's end
        self.assertIsNone(icon_window())

    def test_with_an_argb_tray_the_picture_is_doubled_on_its_background(self):
        self.tray("tint2")
        self.start(["-a", "-f"])
        self.assert_shows(130000)
        self.assertEqual(geometry(icon_window())[2:], (32, 32))

    def test_without_a_session_bus_help_prints_the_usage_and_meet_author_uses_xdg_open(self):
        tools = os.path.join(self.work, "tools")
        os.makedirs(tools)
        opened = os.path.join(self.work, "opened")
        with open(os.path.join(tools, "xdg-open"), "w") as script:
            script.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" > %s\n" % opened)
        os.chmod(os.path.join(tools, "xdg-open"), 0o755)
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.work, "no-bus"),
                   PATH=tools + os.pathsep + os.environ["PATH"])
        self.tray()
        app = self.start(["-f"], env=env)
        self.assert_shows(130000)
        self.open_menu(1)
        run("xdotool", "key", "Down", "Down", "Down", "Up", "Up", "Return")  # from none: help, meet author, ...
        self.assertTrue(wait_until(lambda: USAGE in app.stdout()), app.stderr())
        usage = self.assert_usage_window()
        self.choose(self.open_menu(1), 0)  # help again: the same window, not a second one
        self.assertTrue(wait_until(lambda: app.stdout().count(USAGE) == 2), app.stderr())
        self.assertEqual(self.assert_usage_window(), usage)

        def click_in(window):
            x, y, width, height = geometry(window)
            run("xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1")

        def key_on(window):
            x, y = geometry(window)[:2]
            run("xdotool", "mousemove", str(x + 5), str(y + 5), "key", "space")

        for close in (click_in, key_on, ask_to_close):  # the last as a window manager's close button
            if not usage_windows():
                self.choose(self.open_menu(1), 0)
            close(self.assert_usage_window())
            self.assertTrue(wait_until(lambda: not usage_windows()), "%s left the usage window open" % close.__name__)
        self.choose(self.open_menu(1), 1)  # meet author
        self.assertTrue(wait_until(lambda: os.path.exists(opened) and os.path.getsize(opened) > 0))
        with open(opened) as text:
            self.assertEqual(text.read(), "https://norvath.example/gleamo/\n")
        self.assertIsNone(app.process.poll())

    def test_forged_tray_announcements_leave_the_icon_docked(self):
        tray = self.stand_in_tray()
        app = self.start(["-a", "-f"])
        self.docked_in(tray, app)
        self.assert_shows(130000)
        other = display.Display()  # a third client
        self.addCleanup(other.close)
        existing = other.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
        gone = other.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
        gone.destroy()
        for sender in (other, tray.display):
            for named in (gone.id, existing.id, 0, tray.root.id, tray.window.id):
                tray.announce(named, sender)
        # gleamo reads its events in order: once it paints the icon at this
        # size, it has read every announcement before it.
        tray.resize_icon(32, 32)
        self.assert_shows(130000)
        self.assertEqual(geometry(icon_window())[2:], (32, 32))
        self.assertEqual(len(tray.docks), 1)

    def test_an_icon_the_tray_drops_docks_again_and_one_it_keeps_dropping_is_offered_seldom(self):
        tray = self.stand_in_tray()
        app = self.start(["-s", "-g", "-f"])
        self.docked_in(tray, app)
        for drop in (tray.destroy_icon, tray.give_back_icon):
            docks = len(tray.docks)
            drop()
            self.assertTrue(tray.wait(lambda: len(tray.docks) > docks and tray.icon, 2.5),
                            "not docked again after %s" % drop.__name__)
            self.assert_shows(10)
            self.assertEqual(len(shown_windows("--name", "^gleamo$")), 1, "an icon left on the root window")
        tray.destroy_docked = True
        tray.destroy_icon()
        self.assertTrue(tray.wait(lambda: DROPPED in app.stderr(), 5), app.stderr())
        docks = len(tray.docks)
        tray.wait(lambda: False, 1.5)
        self.assertLessEqual(len(tray.docks) - docks, 1, "offered again and again")
        self.assertEqual(app.stderr().count(DROPPED), 1)

    def test_size_hints_follow_the_trays_size_both_ways(self):
        tray = self.stand_in_tray()
        app = self.start(["-a", "-f"])
        self.docked_in(tray, app)
        self.assertTrue(tray.wait(lambda: tray.hints() == 24), "the hints never followed the tray's 24 px")
        for width, height, side in ((5000, 16, None), (24, 24, 24), (32, 32, 32), (24, 24, 24)):
            tray.resize_icon(width, height)
            if side:
                self.assertTrue(tray.wait(lambda: tray.hints() == side), "hints %d after %dx%d, not %d" % (
                    tray.hints(), width, height, side))
        self.assert_shows(130000)

    def test_a_tray_that_answers_each_square_with_another_shape_is_asked_once(self):
        tray = self.stand_in_tray(answer_hints=True)  # N by N+1 for hints of N
        app = self.start(["-a", "-f"])
        self.docked_in(tray, app)
        self.assertTrue(tray.wait(lambda: len(tray.sizes) >= 2), tray.sizes)
        tray.wait(lambda: False, 1.0)
        self.assertLessEqual(len(tray.sizes), 3, "the hints walk: %s" % tray.sizes[:10])
        self.assert_shows(130000)

    def test_losing_the_display_ends_the_program_with_1(self):
        xvfb, name = start_xvfb()
        self.addCleanup(lambda: xvfb.poll() is None and (xvfb.terminate(), xvfb.wait(timeout=5)))
        tray = StandInTray(name)
        app = XGleamo(["-f"], dict(os.environ, DISPLAY=name))
        self.addCleanup(app.stop)
        self.docked_in(tray, app)
        xvfb.terminate()
        xvfb.wait(timeout=5)
        self.assertEqual(app.process.wait(timeout=5), 1, app.stderr())
        self.assertIn("gleamo: lost the connection to the X display\n", app.stderr())

    def test_started_with_standard_output_or_error_closed_it_docks_and_ends_by_sigterm(self):
        self.tray()
        for closed in (1, 2):
            app = self.start(["-f"], close_fd=closed)
            self.assert_shows(130000)
            self.assertEqual(app.stop()[0], 0, "with descriptor %d closed" % closed)

    def test_without_a_host_says_so_once_and_takes_whichever_comes_first(self):
        app = self.start(["-f"])
        self.assertTrue(wait_until(lambda: NO_HOST in app.stderr()), app.stderr())
        tray = self.tray()
        self.assert_shows(130000)
        self.assertEqual(app.stderr().count(NO_HOST), 1)
        tray.stop()

        # A watcher first: the icon stays a StatusNotifierItem when a tray follows.
        app = self.start(["-f"])
        self.assertTrue(wait_until(lambda: NO_HOST in app.stderr()), app.stderr())
        watcher = Fixture("watcher")
        self.addCleanup(watcher.stop)
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem"))
        self.tray()
        time.sleep(1.5)
        self.assertIsNone(icon_window())
        self.assertIsNone(app.process.poll())

    def test_a_watcher_that_only_flickers_or_is_forged_leaves_the_icon_to_the_x_tray(self):
        app = self.start(["-f"])
        self.assertTrue(wait_until(lambda: NO_HOST in app.stderr()), app.stderr())
        bus = dbus.SessionBus(private=True)
        self.addCleanup(bus.close)
        forged = dbus.lowlevel.SignalMessage("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged")
        forged.append(WATCHER, "", ":1.999", signature="sss")
        bus.send_message(forged)
        flicker = Fixture("watcher")
        time.sleep(0.3)
        flicker.stop()
        self.tray()
        self.assert_shows(130000)
        self.assertIsNone(app.process.poll())

    def test_an_item_opens_gleamos_menu_where_the_host_has_none_and_falls_back_to_x(self):
        watcher = Fixture("watcher")
        self.addCleanup(watcher.stop)
        app = self.start(["-f"])
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem"))
        self.tray()
        bus = dbus.SessionBus(private=True)
        self.addCleanup(bus.close)
        item = dbus.Interface(bus.get_object("org.kde.StatusNotifierItem-%d-1" % app.process.pid,
                                             "/StatusNotifierItem", introspect=False), "org.kde.StatusNotifierItem")
        # swaybar's clicks, and a left click where a host calls Activate.
        for call in (item.ContextMenu, item.Activate):
            call(200, 150)
            menu = wait_until(lambda: menu_window(None))
            self.assertIsNotNone(menu, "no menu after %s" % call._method_name)
            self.assertEqual(geometry(menu)[:2], (200, 150))
            run("xdotool", "key", "Escape")
            self.assertTrue(wait_until(lambda: menu_window(None) is None))
        self.assertIsNone(icon_window())  # the item shows the icon, not the X tray

        watcher.stop()  # the host goes away: the X tray that runs takes the icon
        self.assert_shows(130000)
        self.choose(self.open_menu(1), 2)
        self.assertEqual(app.process.wait(timeout=5), 0)

    def test_a_grabbed_server_or_a_reader_that_stopped_never_holds_the_loop(self):
        watcher = Fixture("watcher")
        self.addCleanup(watcher.stop)
        bus = dbus.SessionBus(private=True)
        self.addCleanup(bus.close)

        def start_item(options, stdout=None):
            app = self.start(options, stdout=stdout)
            self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem"))
            return app, "org.kde.StatusNotifierItem-%d-1" % app.process.pid

        def answers_within_a_second(name):
            started = time.monotonic()
            bus.call_blocking(name, "/StatusNotifierItem", "org.freedesktop.DBus.Peer", "Ping", "", [], timeout=1.0)
            self.assertLess(time.monotonic() - started, 1.0)

        def ends_within_a_second(app):
            app.process.send_signal(signal.SIGTERM)
            self.assertEqual(app.process.wait(timeout=1.0), 0, app.stderr())

        # Another client holds the server while a host asks for the menu.
        app, name = start_item(["-f"])
        grabber = display.Display()
        grabber.grab_server()
        grabber.sync()
        try:
            menu = dbus.lowlevel.MethodCallMessage(name, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                                   "ContextMenu")
            menu.append(200, 150, signature="ii")
            bus.send_message(menu)
            time.sleep(0.2)
            answers_within_a_second(name)
            ends_within_a_second(app)
        finally:
            grabber.ungrab_server()
            grabber.close()

        # The counter lines go to a small pipe whose reader stops reading;
        # when it reads again, one line says what was left out.
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        fcntl.fcntl(writer, 1031, 4096)  # F_SETPIPE_SZ: full after a few ticks
        app, name = start_item(["-f", "--verbose"], stdout=writer)
        os.close(writer)
        time.sleep(2.5)
        answers_within_a_second(name)
        said = b""
        deadline = time.monotonic() + 3
        while b"in time)\n" not in said and time.monotonic() < deadline:
            if select.select([reader], [], [], 0.2)[0]:
                said += os.read(reader, 65536)
        self.assertIn(b"were left out: they were not read in time", said)
        ends_within_a_second(app)

    def test_an_x_icon_outlives_a_lost_or_silent_bus(self):
        self.tray()
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: daemon.poll() is None and (daemon.kill(), daemon.wait()))
        lost = self.start(["-s", "-r", "-f"], env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=daemon.stdout.readline().strip()))
        silent_path = os.path.join(self.work, "silent")
        silent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)  # takes connections, never answers
        silent.bind(silent_path)
        silent.listen(8)
        self.addCleanup(silent.close)
        started = time.monotonic()
        hung = self.start(["-s", "-g", "-f"], env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS="unix:path=" + silent_path))
        self.assert_shows(10)  # the hung one's green symbol, at once
        self.assertLess(time.monotonic() - started, 3.0)
        self.assertTrue(wait_until(lambda: len(shown_windows("--name", "^gleamo$")) == 2), "the lost one never docked")
        daemon.kill()
        daemon.wait()
        self.assertTrue(wait_until(lambda: "the session bus does not answer; going on without it" in hung.stderr(),
                                   timeout=8), hung.stderr())
        self.assertTrue(wait_until(lambda: "lost the connection to the session bus; going on without it"
                                   in lost.stderr()), lost.stderr())
        time.sleep(0.5)
        self.assertEqual(len(shown_windows("--name", "^gleamo$")), 2)
        self.assertEqual((lost.process.poll(), hung.process.poll()), (None, None))


def main():
    global ARGS, USAGE
    ARGS, argv = parse_arguments("app", "pixmap")
    USAGE = usage_of([ARGS.app, "unused", "unused"])
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
