"""Cinnamon 5.6 as a real tray host under a private X server.

    CinnamonHost(work_dir)   the whole Cinnamon shell with its default
                             panel at the bottom; its xapp-status applet
                             shows items through xapp-sn-watcher, which the
                             bus starts and which owns the watcher name.

The shell is its own window manager and compositor and needs GLX, drawn in
software. Its restart is the one a user meets after a crash or Alt+F2 `r`:
`cinnamon --replace` while the old shell runs; the old one steps down and
xapp-sn-watcher stays. Everything runs as the calling user, with a private
home, runtime folder and settings (dconf in that home), and ends by its id.
"""
import os
import subprocess

from host_mate import _PanelHost
from session_tools import descendants_of, end, end_pid, start_x_server, wait_until

SHELL = "org.Cinnamon"
MONITOR_PREFIX = "org.x.StatusIconMonitor"  # the applet's name while it shows icons


class CinnamonHost(_PanelHost):
    name = "cinnamon"
    desktop = "X-Cinnamon"
    icon_size = 24  # xapp-sn-watcher scales the largest picture to the applet's 24 px
    panel_height = 40

    def __init__(self, work_dir, scale=1):
        super().__init__(work_dir, scale)
        self.width, self.height = 1024, 768
        self.shell = None

    def start_session(self):
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("XDG_", "DBUS_", "GDK_", "GTK_", "WAYLAND_", "GSETTINGS_"))
               and key != "SESSION_MANAGER"}
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=runtime, XDG_CURRENT_DESKTOP=self.desktop,
                   XDG_SESSION_DESKTOP="cinnamon", XDG_SESSION_TYPE="x11", LIBGL_ALWAYS_SOFTWARE="1",
                   GDK_BACKEND="x11", NO_AT_BRIDGE="1", GTK_A11Y="none")
        self.env = env
        env["DISPLAY"] = start_x_server(self._start, self.width, self.height, "+extension", "GLX")
        env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus()
        import dbus
        from Xlib import display as xdisplay
        self.bus = dbus.bus.BusConnection(env["DBUS_SESSION_BUS_ADDRESS"])
        self.x = xdisplay.Display(env["DISPLAY"])
        self.park_pointer()

    def _shell_owner(self):
        return self.bus.get_name_owner(SHELL) if self.bus.name_has_owner(SHELL) else None

    def _applet_shows_icons(self, shell_owner):
        # The new shell's applet has asked xapp-sn-watcher for the icons.
        for name in self.bus.list_names():
            if str(name).startswith(MONITOR_PREFIX):
                try:
                    if self.bus.get_name_owner(name) == shell_owner:
                        return True
                except Exception:
                    pass
        return False

    def start_host(self):
        """Starts the shell, or replaces the running one with a new one."""
        old = self.shell
        self.shell = self._start(["cinnamon", "--replace"], stdout=self._log("cinnamon"),
                                 stderr=subprocess.STDOUT)
        if old is not None:
            try:
                old.wait(timeout=30)
            finally:
                self.processes.remove(old)
        owner = wait_until(lambda: self.shell.poll() is None and self._shell_owner(), timeout=60, step=0.2)
        if not owner:
            raise RuntimeError("cinnamon never took %s" % SHELL)
        if not wait_until(lambda: self._applet_shows_icons(owner), timeout=60, step=0.2):
            raise RuntimeError("cinnamon's xapp-status applet never asked for the icons")

    def before_item(self):
        """Connects to the bus and leaves until the next client's name
        begins with the shell's (:1.1, then :1.10): xapp-sn-watcher drops
        every item so named when the shell restarts, unless the item is
        registered by a name of its own."""
        import dbus
        shell = self._shell_owner()
        while True:
            connection = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
            serial = int(connection.get_unique_name().rpartition(".")[2])
            connection.close()
            following = "%s.%d" % (shell.rpartition(".")[0], serial + 1)
            if following.startswith(shell) and following != shell:
                return

    def stop_host(self):
        """Nothing: the next start_host replaces the running shell."""

    def _menu_shaped(self, geometry):
        # Above the bottom panel: the menus opened on the icon.
        return (geometry.height >= 20 and geometry.width < self.width
                and geometry.y + geometry.height <= self.height - 30)

    def close(self):
        # What the shell and the bus started (xapp-sn-watcher, gvfsd and
        # the accessibility bus among them), by their ids, before the rest.
        if self.bus is not None:
            started = set()
            for pid in self._bus_pids(r":\d+\.\d+") - {os.getpid()}:
                started.add(pid)
                started.update(descendants_of(pid))
            for process in list(self.processes):
                if process.args[0] == "cinnamon":
                    end(process)
                    self.processes.remove(process)
            for pid in started:
                end_pid(pid)
        super().close()
