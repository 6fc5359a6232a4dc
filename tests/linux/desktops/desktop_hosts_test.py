#!/usr/bin/python3
"""gleamo in real desktops' trays, judged only by what the screen shows.

    desktop_hosts_test.py --app GLEAMO_TEST_APP --pixmap GLEAMO_TEST_PIXMAP
                          [--shots DIR] HOST[:SCALE]...

HOST is waybar, swaybar, swaybar-nox (all on headless sway, the last without
Xwayland and with mako for notifications), gnome (GNOME Shell with the
AppIndicator extension), lxqt, mate or cinnamon. In each, as a user meets it: the icon
shows pixel-exact (the 16 px picture, enlarged by the screen's scale) and
stays; it comes back when the host restarts; a real click on it opens a
menu whose "end program" ends gleamo with 0 and takes the icon away.
--shots writes a picture of the icon in its panel per host, for the README.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(os.path.dirname(HERE), "support")]
import screen_match  # noqa: E402
from session_tools import wait_until  # noqa: E402

IDLE_BAR = 130000  # the blue bar icon, counters standing still
GNOME_OPACITY = 240  # the extension draws icons at this opacity unless hovered
ARGS = None


def new_host(name, work, scale):
    """The host, and the mouse button that opens gleamo's menu there."""
    if name in ("waybar", "swaybar", "swaybar-nox"):
        import host_sway
        host_class = {"waybar": host_sway.WaybarHost, "swaybar": host_sway.SwaybarHost,
                      "swaybar-nox": host_sway.SwaybarWithoutXHost}[name]
        return host_class(work, scale), 3
    if name == "gnome":
        import host_gnome
        return host_gnome.GnomeHost(work, scale), 1  # the extension opens the menu on a left click
    if name == "lxqt":
        import host_lxqt
        return host_lxqt.LxqtHost(work, scale), 3
    if name == "mate":
        import host_mate
        return host_mate.MateHost(work, scale), 3
    if name == "cinnamon":
        import host_cinnamon
        return host_cinnamon.CinnamonHost(work, scale), 3
    raise ValueError("no such host: " + name)


def find_dimmed(shot, model, factor, rows):
    """(left, top) of the picture as the GNOME extension draws it away from
    the pointer: every opaque pixel at its opacity over one background."""
    width, height, rgb = shot
    size = 16
    opaque = [(x, y, model[(y * size + x) * 4 + 1:(y * size + x) * 4 + 4])
              for y in range(size) for x in range(size) if model[(y * size + x) * 4] == 0xFF]
    clear = [(x, y) for y in range(size) for x in range(size) if model[(y * size + x) * 4] != 0xFF]

    def pixel(px, py):
        at = (py * width + px) * 3
        return rgb[at:at + 3]

    fx, fy, first = opaque[0]
    for top in range(0, min(rows, height) - size * factor + 1):
        for left in range(0, width - size * factor + 1):
            seen = pixel(left + fx * factor, top + fy * factor)
            if any(abs(s - c * GNOME_OPACITY / 255) > 16 for s, c in zip(seen, first)):
                continue
            background = pixel(left + clear[0][0] * factor, top + clear[0][1] * factor)

            def expected(colour):
                return [round(v * GNOME_OPACITY / 255 + b * (255 - GNOME_OPACITY) / 255)
                        for v, b in zip(colour, background)]
            if all(all(abs(s - e) <= 1 for s, e in zip(pixel(left + x * factor, top + y * factor), expected(c)))
                   for x, y, c in opaque) and \
                    all(pixel(left + x * factor, top + y * factor) == background for x, y in clear):
                return left, top
    return None


class DesktopHostTest(unittest.TestCase):
    host_name = None
    scale = 1

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="gleamo-desktop-")
        os.chmod(self.work, 0o755)  # sway's session runs as another user
        self.host, self.menu_button = new_host(self.host_name, os.path.join(self.work, "host"), self.scale)
        os.makedirs(self.host.dir, exist_ok=True)
        # Hosts that draw a 22 px pixmap unscaled show the design drawn at 22.
        self.model = screen_match.model_picture(ARGS.pixmap, IDLE_BAR, getattr(self.host, "icon_size", 16))
        self.factor = self.host.icon_scale
        self.gleamo = None

    def tearDown(self):
        self.host.close()
        if self.gleamo is not None and self.gleamo.poll() is None:
            self.gleamo.kill()
            self.gleamo.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def start_gleamo(self):
        getattr(self.host, "before_item", lambda: None)()
        block = os.path.join(self.host.dir, "block")
        os.makedirs(os.path.join(block, "sda", "device"), exist_ok=True)
        stats = os.path.join(self.host.dir, "diskstats")
        with open(stats, "w") as text:
            text.write("   8       0 sda 1000 0 0 0 500 0 0 0 0 0 0\n")
        self.err_path = os.path.join(self.work, "gleamo.err")
        with open(self.err_path, "w") as err:
            self.gleamo = self.host.spawn([ARGS.app, stats, block], stdout=subprocess.DEVNULL, stderr=err)

    def said(self):
        with open(self.err_path) as err:
            return "gleamo said: " + err.read()[-600:]

    def icon(self):
        """(left, top) of the picture, pixel-exact at the host's factor, or None."""
        shot = self.host.screenshot()
        if self.host_name == "gnome":
            # Dimmed away from the pointer: found dimmed, then judged exact under it.
            dimmed = find_dimmed(shot, self.model, self.factor, 40 * self.scale)
            if dimmed is None:
                return None
            self.host.hover(dimmed[0] + 8 * self.factor, dimmed[1] + 8 * self.factor)
            time.sleep(0.3)
            shot = self.host.screenshot()
        width, height, rgb = shot
        return screen_match.find_picture(rgb, width, height, self.model, self.factor)

    def move_pointer_away(self):
        if hasattr(self.host, "park_pointer"):
            self.host.park_pointer()
        elif hasattr(self.host, "hover"):
            self.host.hover(200 * self.scale, 400 * self.scale)

    def save_shot(self, left, top):
        if not ARGS.shots:
            return
        width, height, rgb = self.host.screenshot()
        w, h = 96 * self.scale, 32 * self.scale
        x0 = max(0, min(width - w, left + 8 * self.factor - w // 2))
        y0 = max(0, min(height - h, top + 8 * self.factor - h // 2))
        raw = b"".join(rgb[((y0 + y) * width + x0) * 3:((y0 + y) * width + x0 + w) * 3] for y in range(h))
        os.makedirs(ARGS.shots, exist_ok=True)
        name = "%s%s.png" % (self.host_name, "" if self.scale == 1 else "-x%d" % self.scale)
        subprocess.run(["convert", "-size", "%dx%d" % (w, h), "-depth", "8", "rgb:-",
                        os.path.join(ARGS.shots, name)], input=raw, check=True)

    def test_crisp_icon_that_stays_comes_back_and_ends_by_its_menu(self):
        host = self.host
        host.start_session()
        host.start_host()
        self.start_gleamo()
        where = wait_until(self.icon, timeout=15, step=0.2)
        self.assertIsNotNone(where, "no pixel-exact %d px icon; %s" % (16 * self.factor, self.said()))
        self.save_shot(*where)
        self.move_pointer_away()
        time.sleep(2)  # a host that drops the item soon after showing it
        self.assertEqual(self.icon(), where, "the icon did not stay; " + self.said())

        if getattr(host, "icon_back_after_restart", True):
            host.stop_host()
            self.assertIsNone(self.gleamo.poll(), "gleamo ended with its host; " + self.said())
            host.start_host()
            where = wait_until(self.icon, timeout=15, step=0.2)
            self.assertIsNotNone(where, "no icon after the host restarted; " + self.said())

        host.click(where[0] + 8 * self.factor, where[1] + 8 * self.factor, self.menu_button)
        if getattr(host, "menu_as_notification", False):
            # No display for a menu: the commands come as a notification's actions.
            offered = wait_until(host.notified_commands, timeout=5, step=0.2) or {}
            self.assertEqual(sorted(offered), ["end program", "help", "meet author"],
                             "a click on the icon offered no commands; " + self.said())
            host.choose_notified(offered["end program"])
        else:
            end_program = wait_until(lambda: host.menu_item_position(2), timeout=5, step=0.2)
            self.assertIsNotNone(end_program, "a click on the icon opened no menu")
            host.click(*end_program)
        try:
            code = self.gleamo.wait(timeout=10)
        except subprocess.TimeoutExpired:
            code = None
        self.assertEqual(code, 0, "\"end program\" did not end gleamo with 0; " + self.said())
        self.move_pointer_away()
        self.assertTrue(wait_until(lambda: self.icon() is None, timeout=5, step=0.2), "the icon stayed after gleamo ended")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--pixmap", required=True)
    parser.add_argument("--shots")
    parser.add_argument("hosts", nargs="+")
    ARGS = parser.parse_args()
    suite = unittest.TestSuite()
    for entry in ARGS.hosts:
        name, _, scale = entry.partition(":")
        case = type("%sAtScale%s" % (name.capitalize(), scale or 1), (DesktopHostTest,),
                    {"host_name": name, "scale": int(scale or 1)})
        suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
