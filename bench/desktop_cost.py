#!/usr/bin/env python3
"""What a lit lamp costs the whole desktop: the CPU of every process of a
headless desktop session (X server or compositor, session bus, settings
daemon, panel or shell, and the program measured), with gleamo beside a
native disk widget, all sessions running side by side over the same windows.

    bench/desktop_cost.py [--seconds N] [--windows N] [--hosts xfce,gnome]
                          [--speeds 300,150] [--idle] [--gleamo LABEL=PROGRAM ...]
                          [--roads]

Each scenario is a session of its own: the Xfce panel with its status tray
(alone, with gleamo at 300 ms and with -f, with xfce4-diskperf at 250 ms in
the same panel) and GNOME Shell with the AppIndicator extension (alone, with
gleamo, with the system-monitor extension showing only its disk graph at
150 ms). Every program that reads /proc/diskstats reads a scripted copy,
bound over it in a mount namespace of the session's own (unshare -m, so
run as root), whose one disk moves by a random amount every 50 ms: the
pictures change at every tick (--idle: it stands still). The Xfce sessions
say they are XFCE, as a real one does, so gleamo takes the road it takes
there; --roads measures each build on both roads instead: as an item (the
desktop unnamed) and as an XEmbed icon in the same panel (a session bus of
its own, with no watcher on it). CPU is utime + stime of /proc/PID/stat, all
threads, summed over the session's processes; each figure is the median of
the windows. Started by scripts/measure-desktop.sh.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [os.path.join(ROOT, "tests", "linux", "desktops"), os.path.join(ROOT, "tests", "linux", "support")]
import xfce_panel_host_test as xfce  # noqa: E402
from host_gnome import EXTENSION, GnomeHost  # noqa: E402
from session_tools import children_of, descendants_of, end, start_bus, start_x_server, wait_until  # noqa: E402

HZ = os.sysconf("SC_CLK_TCK")
SYSTEM_MONITOR = "system-monitor@paradoxxx.zero.gmail.com"
SYSTEM_MONITOR_SCHEMAS = "/usr/share/gnome-shell/extensions/%s/schemas" % SYSTEM_MONITOR
WIDGET_INTERVAL_MS = {"xfce": 250, "gnome": 150}


def disk_of_root():
    """The whole disk the root file system lives on (vda, sda, nvme0n1)."""
    device = os.stat("/").st_dev
    part = "/sys/dev/block/%d:%d" % (os.major(device), os.minor(device))
    real = os.path.realpath(part)
    if os.path.exists(os.path.join(real, "partition")):
        real = os.path.dirname(real)
    return os.path.basename(real)


class ScriptedCounters:
    """A copy of /proc/diskstats in which one disk reads and writes a random
    amount every 50 ms. Rewritten in place at the same length, so a reader
    never sees a short file."""

    def __init__(self, path, disk, busy=True):
        self.path = path
        self.disk = disk
        self.busy = busy
        with open("/proc/diskstats") as real:
            self.lines = real.read().splitlines()
        self.index = next(i for i, line in enumerate(self.lines) if line.split()[2] == disk)
        self.fields = [int(value) for value in self.lines[self.index].split()[3:]]
        self.running = True
        self.write()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def write(self):
        major, minor = self.lines[self.index].split()[:2]
        self.lines[self.index] = "%4s %7s %s %s" % (major, minor, self.disk,
                                                   " ".join("%14d" % value for value in self.fields))
        mode = "r+" if os.path.exists(self.path) else "w"
        with open(self.path, mode) as stats:
            stats.write("\n".join(self.lines) + "\n")

    def run(self):
        while self.running:
            time.sleep(0.05)
            if not self.busy:
                continue
            reads, writes = random.randint(1, 64), random.randint(1, 64)
            self.fields[0] += reads  # reads completed
            self.fields[2] += reads * 8  # sectors read
            self.fields[4] += writes
            self.fields[6] += writes * 8
            self.fields[8] = random.randint(0, 2)  # in flight
            self.fields[9] += 40  # ms busy
            self.write()

    def stop(self):
        self.running = False
        self.thread.join()


def on_scripted_counters(counters, argv):
    """argv run where /proc/diskstats is the scripted file."""
    return ["unshare", "-m", "--propagation", "private", "sh", "-c",
            'mount --bind "$0" /proc/diskstats && exec "$@"', counters.path, *argv]


class Session:
    """The processes of one scenario, every one ended by its id."""

    def __init__(self, name, work):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="session-", dir=work)
        self.processes = []
        self.env = None
        self.roles = {}  # pid -> what it is, for the breakdown

    def start(self, argv, **kwargs):
        process = subprocess.Popen(argv, env=kwargs.pop("env", self.env), **kwargs)
        self.processes.append(process)
        return process

    def pids(self):
        found = []
        for process in self.processes:
            if process.poll() is None:
                found.append(process.pid)
                found.extend(descendants_of(process.pid))
        return found

    def close(self):
        for process in reversed(self.processes):
            left = children_of(process.pid) if process.poll() is None else []
            end(process)
            for pid in left:
                try:
                    os.kill(pid, 15)
                except ProcessLookupError:
                    pass


class XfceSession(Session):
    def __init__(self, name, work, counters, diskperf=False):
        super().__init__(name, work)
        config = os.path.join(self.dir, "config")
        channel = os.path.join(config, "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(channel)
        plugins = ("systray", "diskperf") if diskperf else ("systray",)
        with open(os.path.join(channel, "xfce4-panel.xml"), "w") as panel:
            panel.write(xfce.panel_config(plugins))
        if diskperf:
            os.makedirs(os.path.join(config, "xfce4", "panel"))
            with open(os.path.join(config, "xfce4", "panel", "diskperf-2.rc"), "w") as rc:
                rc.write("[xfce4-diskperf-plugin]\nDevice=/dev/%s\nUpdatePeriod=%d\nStatistics=0\n"
                         "XferRate=1024\nCombineRWdata=0\nMonitorBarOrder=0\nUseLabel=1\nText=disk\n"
                         % (counters.disk, WIDGET_INTERVAL_MS["xfce"]))
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env = dict(os.environ, XDG_CURRENT_DESKTOP="XFCE", XDG_CONFIG_HOME=config,
                        XDG_CACHE_HOME=os.path.join(self.dir, "cache"),
                        XDG_DATA_HOME=os.path.join(self.dir, "data"), XDG_RUNTIME_DIR=runtime, NO_AT_BRIDGE="1",
                        GSETTINGS_BACKEND="memory")
        self.env.pop("SESSION_MANAGER", None)
        self.env["DISPLAY"] = start_x_server(self.start, xfce.WIDTH, xfce.HEIGHT)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = start_bus(self.start)
        xfconfd = [path for path in ("/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd", "/usr/lib/xfce4/xfconf/xfconfd")
                   if os.path.exists(path)]
        self.start(xfconfd[:1])
        self.start(on_scripted_counters(counters, ["xfce4-panel", "--disable-wm-check"]),
                   stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.dir, "panel.err"), "w"))
        if not wait_until(lambda: watcher_runs(self.env["DBUS_SESSION_BUS_ADDRESS"]), timeout=20):
            raise RuntimeError("%s: the panel's status tray never took the watcher's name" % name)


def watcher_runs(address):
    result = subprocess.run(["dbus-send", "--bus=" + address, "--print-reply", "--dest=org.freedesktop.DBus",
                             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                             "string:org.kde.StatusNotifierWatcher"], capture_output=True, text=True)
    return "boolean true" in result.stdout


class GnomeSession(Session):
    def __init__(self, name, work, counters, system_monitor=False):
        super().__init__(name, work)
        self.host = GnomeHost(self.dir)
        self.host.start_session()
        if system_monitor:
            # Its disk graph alone, at its widget's interval.
            env = self.host.env
            subprocess.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions",
                            "['%s', '%s']" % (EXTENSION, SYSTEM_MONITOR)], env=env, check=True)
            for key, value in (("cpu-display", "false"), ("memory-display", "false"), ("net-display", "false"),
                               ("swap-display", "false"), ("disk-display", "true"),
                               ("disk-refresh-time", str(WIDGET_INTERVAL_MS["gnome"])), ("disk-style", "'graph'"),
                               ("icon-display", "false")):
                subprocess.run(["gsettings", "--schemadir", SYSTEM_MONITOR_SCHEMAS, "set",
                                "org.gnome.shell.extensions.system-monitor", key, value], env=env, check=True)
        # The system monitor makes a language tag of the first language name,
        # which C.UTF-8 is not: every shell gets one.
        self.host.env["LANGUAGE"] = "en"
        # The shell (and so the extension's disk graph) reads the scripted counters.
        spawn = self.host.spawn
        self.host.spawn = lambda argv, **kwargs: spawn(
            on_scripted_counters(counters, argv) if argv[0] == "gnome-shell" else argv, **kwargs)
        self.host.start_host()
        self.env = self.host.env

    def pids(self):
        found = []
        for process in self.host.processes + self.processes:
            if process.poll() is None:
                found.append(process.pid)
                found.extend(descendants_of(process.pid))
        return found

    def close(self):
        super().close()
        self.host.close()


def cpu_ticks(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except (OSError, IndexError):
        return None


def process_name(pid):
    try:
        with open("/proc/%d/comm" % pid) as comm:
            return comm.read().strip()
    except OSError:
        return "?"


def measure(sessions, seconds):
    """{session: {process name: ms of CPU per second}} over one window."""
    start = {}
    for session in sessions:
        for pid in session.pids():
            start[pid] = (session, process_name(pid), cpu_ticks(pid))
    began = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - began
    result = {session: {} for session in sessions}
    for session in sessions:
        for pid in session.pids():
            before = start.get(pid)
            ticks = cpu_ticks(pid)
            if ticks is None:
                continue
            used = ticks - (before[2] if before and before[2] is not None else 0)
            name = process_name(pid)
            result[session][name] = result[session].get(name, 0.0) + used * 1000.0 / HZ / elapsed
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--windows", type=int, default=3)
    parser.add_argument("--hosts", default="xfce,gnome")
    parser.add_argument("--gleamo", action="append", default=[],
                        help="LABEL=PROGRAM, more than once to compare builds (default gleamo=build/native/gleamo)")
    parser.add_argument("--speeds", default="300,150")
    parser.add_argument("--idle", action="store_true", help="counters that stand still: an idle disk")
    parser.add_argument("--roads", action="store_true",
                        help="gleamo in the Xfce panel both as an item and as an XEmbed icon")
    args = parser.parse_args()
    builds = [entry.split("=", 1) for entry in args.gleamo] or [["gleamo", os.path.join(ROOT, "build/native/gleamo")]]
    hosts = args.hosts.split(",")
    speeds = [int(speed) for speed in args.speeds.split(",")]

    work = tempfile.mkdtemp(prefix="gleamo-desktop-cost-")
    counters = ScriptedCounters(os.path.join(work, "diskstats"), disk_of_root(), busy=not args.idle)
    sessions = []
    rows = []  # (host, label, session or None)
    try:
        for host in hosts:
            make = XfceSession if host == "xfce" else GnomeSession
            widget = "xfce4-diskperf 250 ms" if host == "xfce" else "system-monitor disk graph 150 ms"
            alone = make("%s alone" % host, work, counters)
            sessions.append(alone)
            rows.append((host, "alone", alone))
            roads = ("item", "xembed") if host == "xfce" and args.roads else ("",)
            for label, program in builds:
                for speed in speeds:
                    for road in roads:
                        name = "%s %s" % (label, road) if road else label
                        session = make("%s %s %d" % (host, name, speed), work, counters)
                        env = dict(session.env)
                        if road == "item":  # a desktop without a preference
                            env.pop("XDG_CURRENT_DESKTOP", None)
                        elif road == "xembed":  # no watcher within reach: the X tray takes the icon
                            env["DBUS_SESSION_BUS_ADDRESS"] = start_bus(session.start)
                        argv = [program] + (["-f"] if speed == 150 else [])
                        session.start(on_scripted_counters(counters, argv), env=env, stdout=subprocess.DEVNULL,
                                      stderr=open(os.path.join(session.dir, "gleamo.err"), "w"))
                        sessions.append(session)
                        rows.append((host, "+ %s at %d ms" % (name, speed), session))
            extra = {"diskperf": True} if host == "xfce" else {"system_monitor": True}
            reference = make("%s widget" % host, work, counters, **extra)
            sessions.append(reference)
            rows.append((host, "+ " + widget, reference))
        time.sleep(5)  # past start-up
        load_at_start = open("/proc/loadavg").read().split()[:3]
        windows = [measure(sessions, args.seconds) for _ in range(args.windows)]
        load_at_end = open("/proc/loadavg").read().split()[:3]
    finally:
        for session in reversed(sessions):
            try:
                session.close()
            except Exception as error:  # noqa: BLE001  # the others still end
                print("ending %s: %s" % (session.name, error), file=sys.stderr)
        counters.stop()
        # What each session's panel and gleamo wrote to stderr, beyond what
        # the panel alone writes.
        errors = {}
        usual = set()
        for session in sessions:
            for log in ("panel.err", "gleamo.err"):
                try:
                    with open(os.path.join(session.dir, log)) as lines:
                        text = lines.read().splitlines()
                except OSError:
                    continue
                if session.name.endswith(" alone"):
                    usual.update(text)
                elif [line for line in text if line not in usual]:
                    errors["%s, %s" % (session.name, log)] = [line for line in text if line not in usual]
        shutil.rmtree(work, ignore_errors=True)

    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
                 "unknown CPU")
    print("machine: %d cores, %s, Debian %s, Linux %s" % (os.cpu_count(), model, open("/etc/debian_version").read()
                                                           .strip(), os.uname().release))
    print("load average at the start: %s, at the end: %s" % (" ".join(load_at_start), " ".join(load_at_end)))
    print("%d windows of %g s, all sessions at once, %s disk; ms of CPU per second, median of the windows" %
          (args.windows, args.seconds, "an idle" if args.idle else "a busy"))
    totals = {}
    for host, label, session in rows:
        totals[session] = statistics.median(sum(window[session].values()) for window in windows)
    for host in hosts:
        host_rows = [row for row in rows if row[0] == host]
        base = totals[host_rows[0][2]]
        widget = totals[host_rows[-1][2]] - base
        print()
        print("%-44s %8s %10s %9s   %s" % (host, "total", "increment", "x widget", "largest increments"))
        for _, label, session in host_rows:
            increment = totals[session] - base
            names = {}
            for window in windows:
                for name, value in window[session].items():
                    names.setdefault(name, []).append(value)
            alone = {}
            for window in windows:
                for name, value in window[host_rows[0][2]].items():
                    alone.setdefault(name, []).append(value)
            parts = sorted(((statistics.median(values + [0.0] * (len(windows) - len(values)))
                             - statistics.median(alone.get(name, [0.0])), name) for name, values in names.items()),
                           reverse=True)
            detail = ", ".join("%s %+.1f" % (name, value) for value, name in parts[:4] if abs(value) >= 0.1)
            ratio = "%9.2f" % (increment / widget) if label != "alone" and widget > 0 else "%9s" % "-"
            print("%-44s %8.2f %+10.2f %s   %s" % (label, totals[session], increment, ratio,
                                                   detail if label != "alone" else ""))
    for where, lines in errors.items():
        print("\n%s:\n  %s" % (where, "\n  ".join(lines[-20:])))
    if not errors:
        print("\nno panel and no gleamo wrote anything to stderr beyond what the panel alone writes")


if __name__ == "__main__":
    main()
