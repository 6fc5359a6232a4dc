"""What the real-host tests share in starting a private session: waiting,
an X server and a session bus of their own, and ending every process by its
own id. start is the caller's function that starts a process and keeps it
for the ending (argv, **Popen arguments -> Popen)."""
import glob
import os
import signal
import subprocess
import time


def wait_until(condition, timeout=10.0, step=0.05):
    """The first true value of condition(), or its last value after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def end(process, timeout=5, sig=signal.SIGTERM):
    """Ends a process of ours by its id and reaps it; returns its exit code."""
    if process.poll() is None:
        process.send_signal(sig)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


def children_of(pid):
    """Process ids whose parent is pid."""
    found = []
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as text:
                fields = text.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append(int(stat.split("/")[2]))
    return found


def descendants_of(pid):
    found = []
    for child in children_of(pid):
        found.append(child)
        found.extend(descendants_of(child))
    return found


def is_gone(pid):
    """Whether the process has ended: no longer there, or a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as text:
            return text.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def end_pid(pid, timeout=5):
    """Ends a process that is not our child (one the bus started) by its id."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    if not wait_until(lambda: is_gone(pid), timeout, 0.05):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def start_x_server(start, width, height, *options):
    """A private Xvfb of width x height; its display name (":N")."""
    read, write = os.pipe()
    start(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp",
           *options], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as display:
        number = display.readline().strip()
    if not number:
        raise RuntimeError("Xvfb gave no display number")
    return ":" + number


def start_bus(start, *options, stderr=subprocess.DEVNULL):
    """A private dbus-daemon (a session bus unless options say otherwise); its address."""
    bus = start(["dbus-daemon", *(options or ("--session",)), "--nofork", "--print-address=1"],
                stdout=subprocess.PIPE, stderr=stderr, text=True)
    address = bus.stdout.readline().strip()
    bus.stdout.close()
    if not address:
        raise RuntimeError("dbus-daemon gave no address")
    return address
