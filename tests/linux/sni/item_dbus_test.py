#!/usr/bin/env python3
"""gleamo's tray icon on a private session bus (run under dbus-run-session).

    item_dbus_test.py --app GLEAMO_TEST_APP --gleamo GLEAMO --pixmap GLEAMO_TEST_PIXMAP

GLEAMO_TEST_APP is gleamo reading a diskstats file the test writes, GLEAMO
the program itself on this machine's disks, GLEAMO_TEST_PIXMAP prints the
pixmaps the pixel model gives an icon code.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fixtures import Fixture, GleamoRun, model_pixmaps, parse_arguments, usage_of  # noqa: E402
from session_tools import wait_until  # noqa: E402

ARGS = None
ITEM = "org.kde.StatusNotifierItem"
ITEM_PATH = "/StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
ID_END_PROGRAM, ID_HELP, ID_MEET_AUTHOR = 5020, 5030, 5050
USAGE = None  # the usage as the Linux edition spells it, in the menu's "help" and --help
NO_WATCHER = "no StatusNotifierWatcher on the session bus"


class Gleamo(GleamoRun):
    """gleamo as a tray item on the test's bus."""

    def __init__(self, bus, options, real=False, env=None, source="counters"):
        super().__init__(ARGS.app, options, env, source, ARGS.gleamo if real else None)
        self.bus = bus
        self.name = "org.kde.StatusNotifierItem-%d-1" % self.process.pid
        if not wait_until(lambda: self.bus.name_has_owner(self.name)):
            raise AssertionError("gleamo did not take its bus name; stderr: " + self.stderr())

    def item_property(self, name):
        item = self.bus.get_object(self.name, "/StatusNotifierItem", introspect=False)
        return item.Get(ITEM, name, dbus_interface=dbus.PROPERTIES_IFACE, byte_arrays=True)

    def pixmaps(self):
        return [(int(w), int(h), bytes(data)) for w, h, data in self.item_property("IconPixmap")]

    def menu(self):
        return dbus.Interface(self.bus.get_object(self.name, "/MenuBar", introspect=False), MENU)

    def click(self, item_id):
        self.menu().Event(item_id, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))

    def stop(self):
        self.end()
        shutil.rmtree(self.dir, ignore_errors=True)


class TrayTest(unittest.TestCase):
    def setUp(self):
        self.bus = dbus.SessionBus(private=True)
        self.cleanups = []

    def tearDown(self):
        for cleanup in reversed(self.cleanups):
            cleanup()
        self.bus.close()

    def start(self, options, **kwargs):
        app = Gleamo(self.bus, options, **kwargs)
        self.cleanups.append(app.stop)
        return app

    def fixture(self, kind, *arguments):
        fixture = Fixture(kind, *arguments)
        self.cleanups.append(fixture.stop)
        return fixture

    def wait_for_pixmaps(self, app, code, timeout=5.0):
        # A host the item does not know (the stand-in watcher) is offered 16
        # and 22 px, which suit hosts that draw the nearest size unscaled.
        expected = [(size, size, argb) for size, argb in model_pixmaps(ARGS.pixmap, code) if size in (16, 22)]
        if not wait_until(lambda: app.pixmaps() == expected, timeout):
            self.fail("the icon never showed code %d" % code)


def tooltip_of(app):
    """The ToolTip's title and text."""
    _, _, title, text = app.item_property("ToolTip")
    return str(title), str(text)


class ItemTest(TrayTest):
    def test_item_describes_itself_and_carries_the_tooltip(self):
        app = self.start(["-f"])
        self.assertEqual(app.item_property("Id"), "gleamo")
        self.assertEqual(app.item_property("Category"), "Hardware")
        self.assertEqual(app.item_property("Status"), "Active")
        self.assertEqual(app.item_property("Title"), "gleamo")
        self.assertEqual(app.item_property("ItemIsMenu"), True)
        self.assertEqual(app.item_property("Menu"), "/MenuBar")
        # GNOME's extension asks at every new picture, and logs an error where it is missing.
        self.assertEqual(app.item_property("IconAccessibleDesc"), "gleamo disk activity lamp")
        icon_name, icon, title, description = app.item_property("ToolTip")
        self.assertEqual((str(title), str(description)),
                         ("Tavoli by Norvath", "sda  read 0 B/s  write 0 B/s  busy 0 %"))

    def test_char_icon_shows_activity_by_colour(self):
        app = self.start(["-c", "-r", "-f"])
        self.wait_for_pixmaps(app, 110)  # counters standing still: idle
        app.set_counters(1005, 500)
        self.wait_for_pixmaps(app, 111)  # red while they move
        self.wait_for_pixmaps(app, 110)

    def test_bar_icon_shows_the_scaled_heights(self):
        app = self.start(["-f"])
        self.wait_for_pixmaps(app, 130000)
        app.set_counters(1010, 500)  # the first change is the largest yet: full height
        self.wait_for_pixmaps(app, 131500)
        self.wait_for_pixmaps(app, 130000)
        app.set_counters(1015, 504)
        self.wait_for_pixmaps(app, 130715)

    def test_new_icon_is_signalled_only_when_the_code_changes(self):
        signals = self.fixture("signals")
        app = self.start(["-f"])
        self.wait_for_pixmaps(app, 130000)
        sender = self.bus.get_name_owner(app.name)
        time.sleep(1.0)  # six ticks and more at the same code
        self.assertEqual([r for r in signals.received() if r["sender"] == sender], [])

        app.set_counters(1010, 500)
        self.wait_for_pixmaps(app, 131500)
        self.wait_for_pixmaps(app, 130000)
        time.sleep(0.6)
        # The tooltip's text stays the same, so hosts need not fetch it again.
        self.assertEqual([r["signal"] for r in signals.received() if r["sender"] == sender],
                         ["NewIcon", "NewIcon"])

    def test_tooltip_tells_the_rates_and_is_announced_only_when_its_text_changes(self):
        signals = self.fixture("signals")
        app = self.start(["-f"])
        sender = self.bus.get_name_owner(app.name)
        at_rest = ("Tavoli by Norvath", "sda  read 0 B/s  write 0 B/s  busy 0 %")
        self.assertEqual(tooltip_of(app), at_rest)  # from the first tick
        # About a second's work: 20 MB read, 1 MB written, 0.4 s busy.
        app.set_counters(1010, 510, sectors_read=40000, sectors_written=2000, io_ms=400)
        busy = wait_until(lambda: tooltip_of(app) != at_rest, timeout=3)
        self.assertTrue(busy, "the tooltip never told the rates")
        title, text = tooltip_of(app)
        self.assertEqual(title, at_rest[0])
        self.assertRegex(text, r"\Asda  read \d+(\.\d+)? MB/s  write \d+(\.\d+)? [km]B/s  busy \d+ %\Z")
        self.assertTrue(wait_until(lambda: tooltip_of(app) == at_rest, timeout=3), "the rates never fell back")
        time.sleep(1.5)  # idle: nothing more to tell
        told = [r["signal"] for r in signals.received() if r["sender"] == sender and r["signal"] == "NewToolTip"]
        self.assertEqual(told, ["NewToolTip", "NewToolTip"])

    def test_a_host_that_draws_slowly_gets_a_picture_every_other_tick_and_every_burst(self):
        watcher = self.fixture("watcher")
        signals = self.fixture("signals")
        # GNOME's extension, known by the desktop here; 300 ms ticks.
        app = self.start([], env=dict(os.environ, XDG_CURRENT_DESKTOP="GNOME"))
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem"))
        sender = self.bus.get_name_owner(app.name)

        def model(code):
            return dict(model_pixmaps(ARGS.pixmap, code))[16]

        def next_picture():
            told = signals.wait_for(lambda r: r["signal"] == "NewIcon" and r["sender"] == sender, timeout=3)
            self.assertIsNotNone(told, "no new picture")
            return time.monotonic(), dict((size, argb) for size, _, argb in app.pixmaps())[16]

        self.assertTrue(wait_until(lambda: dict((s, a) for s, _, a in app.pixmaps()).get(16) == model(130000)))
        time.sleep(0.7)
        signals.received()
        app.set_counters(1010, 500)
        lit_at, lit = next_picture()
        self.assertEqual(lit, model(131500))
        idle_at, idle = next_picture()
        self.assertEqual(idle, model(130000))
        self.assertGreater(idle_at - lit_at, 0.45, "the idle picture came at the very next tick")
        # A burst of one tick, at the tick that must wait: it lights the lamp at the next.
        app.set_counters(1015, 504)
        _, burst = next_picture()
        self.assertEqual(burst, model(130715))

    def test_no_regular_counter_file_is_a_failed_connection_with_an_idle_icon(self):
        # A FIFO would hold the open until a writer came, /dev/zero never end.
        for source, error in (("missing", "No such file or directory"), ("fifo", "not a regular file"),
                              ("/dev/zero", "not a regular file")):
            with self.subTest(source=source):
                app = self.start(["-s", "-g", "-f"], source=source)
                self.wait_for_pixmaps(app, 10)
                time.sleep(0.5)  # ticks later: still running, still idle
                self.assertIsNone(app.process.poll())
                self.wait_for_pixmaps(app, 10, timeout=0.1)
                self.assertEqual(app.end(), 0)  # within end()'s few seconds
                self.assertIn("Connecting to %s...\n\nFailed to connect with %s, Error: %s\n"
                              % (app.stats, app.stats, error), app.stdout())


class MenuTest(TrayTest):
    def test_layout_has_the_three_items_in_order(self):
        app = self.start(["-f"])
        menu = app.menu()
        revision, (root_id, root_properties, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"))
        self.assertEqual(root_id, 0)
        self.assertEqual(root_properties["children-display"], "submenu")
        items = [(int(child[0]), str(child[1]["label"])) for child in children]
        self.assertEqual(items, [(ID_HELP, "help"), (ID_MEET_AUTHOR, "meet author"), (ID_END_PROGRAM, "end program")])
        for child in children:
            self.assertEqual(list(child[2]), [])

        # Only the properties asked for, and no children below depth 0.
        _, (_, properties, children) = menu.GetLayout(0, 1, ["label"])
        self.assertEqual([dict(child[1]) for child in children],
                         [{"label": "help"}, {"label": "meet author"}, {"label": "end program"}])
        _, (_, _, none) = menu.GetLayout(0, 0, dbus.Array([], signature="s"))
        self.assertEqual(list(none), [])

    def test_properties_and_about_to_show(self):
        app = self.start(["-f"])
        menu = app.menu()
        self.assertEqual(menu.GetProperty(ID_MEET_AUTHOR, "label"), "meet author")
        self.assertEqual(menu.GetProperty(ID_HELP, "enabled"), True)
        group = menu.GetGroupProperties([ID_END_PROGRAM, 999], ["label"])
        self.assertEqual([(int(i), dict(p)) for i, p in group], [(ID_END_PROGRAM, {"label": "end program"})])
        self.assertEqual(menu.AboutToShow(0), False)
        updates, errors = menu.AboutToShowGroup([0, ID_HELP, 999])
        self.assertEqual((list(updates), list(errors)), ([], [999]))
        version = app.bus.get_object(app.name, "/MenuBar", introspect=False).Get(
            MENU, "Version", dbus_interface=dbus.PROPERTIES_IFACE)
        self.assertEqual(version, 3)
        with self.assertRaises(dbus.DBusException) as raised:
            menu.Event(999, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
        self.assertEqual(raised.exception.get_dbus_name(), "org.freedesktop.DBus.Error.InvalidArgs")
        self.assertIsNone(app.process.poll())

    def test_calls_naming_thousands_of_ids_are_refused_and_the_item_lives_on(self):
        self.fixture("watcher")  # so that no notice of a missing tray joins the notifications
        notifications = self.fixture("notifications")
        app = self.start(["-f"])
        menu = app.menu()
        # Each id answered once, however often it is named.
        group = menu.GetGroupProperties([ID_HELP] * 200 + [999] * 50, ["label"])
        self.assertEqual([(int(i), dict(p)) for i, p in group], [(ID_HELP, {"label": "help"})])
        for call in (lambda: menu.GetGroupProperties(dbus.Array([ID_HELP] * 570000, signature="i"), ["label"]),
                     lambda: menu.AboutToShowGroup(dbus.Array(range(100000), signature="i")),
                     lambda: menu.GetLayout(0, -1, ["label"] * 100000)):
            with self.assertRaises(dbus.DBusException) as raised:
                call()
            self.assertEqual(raised.exception.get_dbus_name(), "org.freedesktop.DBus.Error.LimitsExceeded")
        # A thousand clicks of help in one group are one click.
        clicks = [(ID_HELP, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))] * 1000
        with self.assertRaises(dbus.DBusException):
            menu.EventGroup(dbus.Array(clicks, signature="(isvu)"))
        menu.EventGroup(dbus.Array(clicks[:100], signature="(isvu)"))
        self.assertIsNotNone(notifications.wait_for(lambda r: r.get("call") == "Notify"))
        time.sleep(0.5)
        self.assertEqual(notifications.received(), [])
        self.assertEqual(app.item_property("Id"), "gleamo")
        self.assertIsNone(app.process.poll())

    def test_end_program_ends_the_process_with_code_0(self):
        watcher = self.fixture("watcher")
        app = self.start(["-f"])
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("service") == ITEM_PATH))
        app.menu().Event(ID_END_PROGRAM, "hovered", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
        time.sleep(0.3)
        self.assertIsNone(app.process.poll())  # only a click counts
        app.click(ID_END_PROGRAM)
        self.assertEqual(app.process.wait(timeout=5), 0)
        self.assertFalse(self.bus.name_has_owner(app.name))

    def test_a_hangup_or_quit_ends_it_as_end_program_does_and_stray_signals_do_not(self):
        for ending in (signal.SIGHUP, signal.SIGQUIT):
            app = self.start(["-f"])
            for stray in (signal.SIGPIPE, signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM):
                app.process.send_signal(stray)
            time.sleep(0.3)
            self.assertIsNone(app.process.poll(), "a stray signal ended gleamo")
            app.process.send_signal(ending)
            self.assertEqual(app.process.wait(timeout=5), 0)
            self.assertTrue(wait_until(lambda: not self.bus.name_has_owner(app.name), timeout=5))

    def test_end_program_through_an_event_group(self):
        app = self.start(["-f"])
        errors = app.menu().EventGroup(
            dbus.Array([(ID_END_PROGRAM, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))],
                       signature="(isvu)"))
        self.assertEqual(list(errors), [])
        self.assertEqual(app.process.wait(timeout=5), 0)

    def test_help_reaches_the_notification_service(self):
        notifications = self.fixture("notifications")
        app = self.start(["-f"])
        app.click(ID_HELP)
        note = notifications.wait_for(lambda r: r.get("call") == "Notify")
        self.assertIsNotNone(note)
        self.assertEqual((note["app_name"], note["summary"]), ("gleamo", "Usage"))
        self.assertTrue(note["body"].startswith(USAGE + "\n"), note["body"])
        self.assertIn("--verbose", note["body"])
        self.assertNotIn(USAGE, app.stdout())
        # Each later help replaces the one shown, however many clicks come.
        for _ in range(5):
            app.click(ID_HELP)
            again = notifications.wait_for(lambda r: r.get("call") == "Notify")
            self.assertIsNotNone(again)
            self.assertEqual(again["replaces_id"], 1)

    def test_help_without_notification_service_prints_the_usage(self):
        app = self.start(["-f"])
        app.click(ID_HELP)
        self.assertTrue(wait_until(lambda: USAGE in app.stdout()), app.stdout()[-500:])

    def test_a_menu_asked_for_without_display_or_notification_service_says_once_why(self):
        # With a service, the commands come as its actions (the sway desktop test).
        app = self.start(["-f"])
        item = dbus.Interface(self.bus.get_object(app.name, ITEM_PATH, introspect=False), ITEM)
        item.ContextMenu(0, 0)
        item.Activate(0, 0)
        self.assertTrue(wait_until(lambda: "no menu" in app.stderr()), app.stderr())
        time.sleep(0.3)
        self.assertEqual(app.stderr().count("no menu"), 1, app.stderr())
        self.assertIsNone(app.process.poll())

    def test_meet_author_without_portal_uses_xdg_open(self):
        tools = tempfile.mkdtemp(prefix="gleamo-xdg-")
        self.cleanups.append(lambda: shutil.rmtree(tools, ignore_errors=True))
        opened = os.path.join(tools, "opened")
        with open(os.path.join(tools, "xdg-open"), "w") as script:
            script.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" > %s\n" % opened)
        os.chmod(os.path.join(tools, "xdg-open"), 0o755)
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ.get("PATH", ""))
        app = self.start(["-f"], env=env)
        app.click(ID_MEET_AUTHOR)
        self.assertTrue(wait_until(lambda: os.path.exists(opened) and os.path.getsize(opened) > 0))
        with open(opened) as text:
            self.assertEqual(text.read(), "https://norvath.example/gleamo/\n")


class WatcherTest(TrayTest):
    def test_registers_and_registers_again_with_a_new_watcher(self):
        watcher = self.fixture("watcher")
        app = self.start(["-f"])
        owner = self.bus.get_name_owner(app.name)
        first = watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem")
        self.assertIsNotNone(first)
        # By the object's path: the watcher needs no lookup of the name.
        self.assertEqual((first["service"], first["sender"]), (ITEM_PATH, owner))

        watcher.stop()  # the tray host goes away ...
        again = Fixture("watcher")  # ... and comes back
        self.cleanups.append(again.stop)
        second = again.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem")
        self.assertIsNotNone(second, "no registration with the restarted watcher")
        self.assertEqual(second["service"], ITEM_PATH)
        self.assertNotIn(NO_WATCHER, app.stderr())

    def test_without_a_watcher_says_so_once_and_waits_for_one(self):
        app = self.start(["-f"])
        self.assertTrue(wait_until(lambda: NO_WATCHER in app.stderr()))
        time.sleep(0.5)
        watcher = self.fixture("watcher")
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("service") == ITEM_PATH))
        self.assertIsNone(app.process.poll())
        self.assertEqual(app.stderr().count(NO_WATCHER), 1)


    def test_a_refusing_watcher_is_asked_again(self):
        watcher = self.fixture("watcher", "2")
        app = self.start(["-f"])
        calls = [watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem", timeout=6)
                 for _ in range(3)]
        self.assertEqual([call and call["refused"] for call in calls], [True, True, False])
        self.assertNotIn("refused", app.stderr())

    def test_a_watcher_that_drops_the_icon_now_and_then_gets_it_back_each_time(self):
        watcher = self.fixture("watcher", "0", "0.1")
        app = self.start(["-f"])
        for drop in range(11):
            call = watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem", timeout=3)
            self.assertIsNotNone(call, "not registered again after drop %d: %s" % (drop, app.stderr()))
            self.assertFalse(call["refused"])
        self.assertIsNone(app.process.poll())
        self.assertNotIn("refused", app.stderr())

    def test_another_item_dropped_under_a_longer_name_is_not_taken_for_it(self):
        watcher = self.fixture("watcher", "0", "0.1", "longer")
        app = self.start(["-f"])
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "dropped"))
        self.assertIsNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem", timeout=1.5),
                          "registered again for another item's drop; " + app.stderr())

    def test_without_any_tray_the_desktop_is_told_what_to_install(self):
        notifications = self.fixture("notifications")
        gnome = self.start(["-f"], env=dict(os.environ, XDG_CURRENT_DESKTOP="ubuntu:GNOME"))
        other = self.start(["-f"], env=dict(os.environ, XDG_CURRENT_DESKTOP="XFCE"))
        told = {}
        while len(told) < 2:
            note = notifications.wait_for(lambda r: r.get("call") == "Notify", timeout=10)
            self.assertIsNotNone(note, "no notification of the missing tray; told " + repr(told))
            told[note["body"]] = note["summary"]
        self.assertEqual(set(told.values()), {"gleamo has no tray to show its icon in"})
        self.assertEqual(sorted("gnome-shell-extension-appindicator" in body for body in told), [False, True])
        watcher = self.fixture("watcher")  # still waiting for one
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem"))
        self.assertEqual((gnome.process.poll(), other.process.poll()), (None, None))


class BusTroubleTest(unittest.TestCase):
    """gleamo on a bus of the test's own, which fails it."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="gleamo-bus-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, address):
        app = GleamoRun(ARGS.app, ["-f"], env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address))
        self.addCleanup(lambda: (app.end(), shutil.rmtree(app.dir, ignore_errors=True)))
        return app

    def test_an_item_that_loses_its_bus_ends_with_an_error(self):
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: daemon.poll() is None and (daemon.kill(), daemon.wait()))
        address = daemon.stdout.readline().strip()
        watcher = Fixture("watcher", env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address))
        self.addCleanup(watcher.stop)
        app = self.start(address)
        self.assertIsNotNone(watcher.wait_for(lambda r: r.get("call") == "RegisterStatusNotifierItem"))
        daemon.kill()
        daemon.wait()
        self.assertEqual(app.process.wait(timeout=5), 1)
        self.assertIn("gleamo: lost the connection to the session bus\n", app.stderr())

    def test_a_bus_that_never_answers_ends_it_soon_and_sigterm_at_once(self):
        # Takes connections and says nothing: a hung bus.
        path = os.path.join(self.dir, "silent")
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.bind(path)
        server.listen(8)
        self.addCleanup(server.close)
        ended = self.start("unix:path=" + path)
        ended_started = time.monotonic()
        stopped = self.start("unix:path=" + path)
        time.sleep(1.0)
        stopping = time.monotonic()
        self.assertEqual(stopped.end(), 0)
        self.assertLess(time.monotonic() - stopping, 1.0, "SIGTERM waited for the bus")
        self.assertEqual(ended.process.wait(timeout=10), 1)
        self.assertLess(time.monotonic() - ended_started, 8.0)
        self.assertIn("gleamo: the session bus does not answer\n", ended.stderr())


class DiskActivityTest(TrayTest):
    def test_writing_and_syncing_a_file_raises_the_bars(self):
        if not any(os.path.exists(os.path.join("/sys/block", name, "device")) for name in os.listdir("/sys/block")):
            self.skipTest("no physical disk visible here (a container without /sys/block devices)")
        app = self.start(["-f"], real=True)
        read_bar, write_bar = bytes([255, 0, 255, 0]), bytes([255, 255, 0, 0])

        def bars_shown():
            small = app.pixmaps()[0][2]
            pixels = [small[i:i + 4] for i in range(0, len(small), 4)]
            return read_bar in pixels or write_bar in pixels

        # The build tree lies on a real disk; a tmpfs /tmp might not.
        with tempfile.NamedTemporaryFile(dir=os.getcwd(), prefix="gleamo-activity-") as scratch:
            deadline = time.monotonic() + 10
            seen = False
            while not seen and time.monotonic() < deadline:
                scratch.write(os.urandom(256 * 1024))
                scratch.flush()
                os.fsync(scratch.fileno())
                seen = wait_until(bars_shown, timeout=0.3)
        self.assertTrue(seen, "the bars never rose while a file was written and synced")


class CommandLineTest(TrayTest):
    def test_help_and_version_words_answer_and_end(self):
        for word in ("--help", "-h"):
            run = subprocess.run([ARGS.gleamo, word], capture_output=True, text=True, timeout=5)
            self.assertEqual((run.returncode, run.stderr), (0, ""), word)
            self.assertTrue(run.stdout.startswith(USAGE + "\n"),
                            run.stdout)
            self.assertIn("~/.config/autostart", run.stdout)
        run = subprocess.run([ARGS.gleamo, "-c", "--version"], capture_output=True, text=True, timeout=5)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        self.assertRegex(run.stdout, r"\Agleamo \d+\.\d+\.\d+(\.\d+)?\n\Z")

    def test_words_that_only_look_alike_are_read_as_options(self):
        violet = self.start(["-vh", "-f"])
        self.wait_for_pixmaps(violet, 150000)  # -v: violet bars, idle
        # Other "--" words are no options: said, with the hint, and exit code 2.
        for words, said in ((["--versions", "-c", "-f"], "unknown option --versions"),
                            (["-r", "--disk"], "--disk needs the name of a disk, such as --disk sda")):
            run = subprocess.run([ARGS.gleamo] + words, capture_output=True, text=True, timeout=5)
            self.assertEqual((run.returncode, run.stdout), (2, ""), words)
            self.assertEqual(run.stderr, "gleamo: %s\nTry 'gleamo --help' for the options.\n" % said)

    def test_a_named_disk_path_is_no_option_and_its_absence_is_said_once(self):
        # /dev/vda read as options would be violet; no such disk here: idle blue bars.
        app = self.start(["--disk", "/dev/vda", "-f"])
        self.wait_for_pixmaps(app, 130000)
        self.assertEqual(tooltip_of(app), ("Tavoli by Norvath", "/dev/vda: not present"))
        app.set_counters(1010, 500)  # sda is not the disk named
        time.sleep(0.6)
        self.wait_for_pixmaps(app, 130000, timeout=0.1)
        self.assertEqual(app.end(), 0)
        self.assertEqual(app.stderr().count("gleamo: /dev/vda: not present\n"), 1, app.stderr())

    def test_counter_lines_only_with_verbose(self):
        quiet = self.start(["-f"])
        verbose = self.start(["-f", "--verbose"])
        self.wait_for_pixmaps(verbose, 130000)
        time.sleep(0.5)  # some ticks more
        self.assertEqual((quiet.end(), verbose.end()), (0, 0))
        connected = "Connecting to %s...\n\nConnected with %s\n"
        self.assertEqual(quiet.stdout(), connected % (quiet.stats, quiet.stats))
        self.assertTrue(verbose.stdout().startswith(connected % (verbose.stats, verbose.stats)), verbose.stdout())
        self.assertGreaterEqual(verbose.stdout().count("\tReadCount\t= 1000\n"), 3, verbose.stdout())


def main():
    global ARGS, USAGE
    ARGS, argv = parse_arguments("app", "gleamo", "pixmap")
    USAGE = usage_of([ARGS.gleamo])
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
