"""What gleamo's Linux tests share: the programs they are handed, gleamo
runs on counter files of their own, the stand-in D-Bus services of
dbus_fixtures.py, the pixel model's pictures and the usage gleamo prints."""
import argparse
import json
import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def parse_arguments(*paths, session_bus=True):
    """The program paths the tray tests are given (--app and the like), and
    what is left for unittest."""
    parser = argparse.ArgumentParser()
    for path in paths:
        parser.add_argument("--" + path, required=True)
    arguments, rest = parser.parse_known_args()
    if session_bus and "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
        sys.exit("run me under dbus-run-session")
    return arguments, [sys.argv[0]] + rest


def model_pixmaps(pixmap_tool, code):
    """[(size, ARGB bytes)] at every size gleamo_test_pixmap paints the code."""
    lines = subprocess.run([pixmap_tool, str(code)], check=True, capture_output=True, text=True).stdout.splitlines()
    return [(int(size), bytes.fromhex(argb)) for size, argb in (line.split() for line in lines)]


def usage_of(command):
    """The usage gleamo shows for "help": what --help prints up to the lines
    only the terminal gets."""
    text = subprocess.run(command + ["--help"], check=True, capture_output=True, text=True, timeout=5).stdout
    return text.split("\n\n--verbose")[0]


class Fixture:
    """A stand-in service of dbus_fixtures.py, read line by line."""

    def __init__(self, kind, *arguments, env=None):
        self.process = subprocess.Popen([sys.executable, os.path.join(HERE, "dbus_fixtures.py"), kind, *arguments],
                                        stdout=subprocess.PIPE, text=True, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        ready = self.lines.get(timeout=10)
        assert "ready" in ready, ready

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))

    def wait_for(self, predicate, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return None
            try:
                record = self.lines.get(timeout=remaining)
            except queue.Empty:
                return None
            if predicate(record):
                return record

    def received(self):
        """The records that have arrived so far."""
        records = []
        while not self.lines.empty():
            records.append(self.lines.get())
        return records

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=5)
        self.process.stdout.close()


class GleamoRun:
    """One gleamo process: the test app on a counter file of the test's (one
    disk, sda), or a program of its own (real_gleamo) on this machine's
    disks; its standard output and error go to files. source "missing"
    leaves the counter file out, "fifo" makes it a FIFO, and a path names
    another file in its place."""

    def __init__(self, app, options, env=None, source="counters", real_gleamo=None, close_fd=None, stdout=None):
        self.dir = tempfile.mkdtemp(prefix="gleamo-tray-")
        self.stats = os.path.join(self.dir, "diskstats")
        os.makedirs(os.path.join(self.dir, "block", "sda", "device"))
        if source == "counters":
            self.set_counters(1000, 500)
        elif source == "fifo":
            os.mkfifo(self.stats)
        elif source != "missing":
            self.stats = source
        command = [real_gleamo] if real_gleamo else [app, self.stats, os.path.join(self.dir, "block")]
        self.out_path = os.path.join(self.dir, "stdout")
        self.err_path = os.path.join(self.dir, "stderr")
        with open(self.out_path, "w") as out, open(self.err_path, "w") as err:
            # close_fd: started with that standard stream closed, as some launchers do.
            # stdout: a descriptor of the test's in place of the file.
            self.process = subprocess.Popen(command + options, stdout=out if stdout is None else stdout, stderr=err,
                                            env=env,
                                            preexec_fn=None if close_fd is None else lambda: os.close(close_fd))

    def set_counters(self, reads, writes, sectors_read=0, sectors_written=0, io_ms=0):
        # In place, as the kernel's file changes under gleamo's open descriptor.
        text = "   8       0 sda %d 0 %d 0 %d 0 %d 0 0 %d 0\n   8       1 sda1 7 0 0 0 7 0 0 0 0 0 0\n" % (
            reads, sectors_read, writes, sectors_written, io_ms)
        mode = "r+" if os.path.exists(self.stats) else "w"
        with open(self.stats, mode) as stats:
            stats.write(text)
            stats.truncate()

    def stdout(self):
        with open(self.out_path) as out:
            return out.read()

    def stderr(self):
        with open(self.err_path) as err:
            return err.read()

    def end(self):
        """Ends the run as a session's end would; returns the exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=5)
