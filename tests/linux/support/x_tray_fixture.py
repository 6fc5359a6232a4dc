"""A stand-in X system tray for gleamo's XEmbed tests, over python3-xlib.

It owns the screen's tray selection, announces itself with MANAGER and docks
every icon that asks (reparents it into its own window at a size of its
choosing and maps it), and does on demand what real trays have been seen to
do to icons: forge announcements, destroy them, give them back to the root,
size them oddly. It runs in the test's own thread: every wait pumps its
events.
"""
import time

from Xlib import X, Xatom, display, error
from Xlib.protocol import event

SYSTEM_TRAY_REQUEST_DOCK = 0
BACKGROUND = (40, 60, 80)
WIDTH, HEIGHT = 240, 40


class StandInTray:
    def __init__(self, display_name=None, answer_hints=False):
        """A tray at the bottom left of the screen. With answer_hints, it
        sizes each icon N by N+1 for the hinted size N, again at every change
        of the hints; otherwise 24 by 24, whatever the hints say."""
        self.display = display.Display(display_name)
        # gleamo's windows come and go under our feet; what we do to a gone
        # one does nothing, as in any tray.
        self.display.set_error_handler(lambda *args: None)
        self.screen = self.display.screen()
        self.root = self.screen.root
        self.answer_hints = answer_hints
        self.destroy_docked = False
        self.docks = []  # the windows that asked to dock, in order
        self.sizes = []  # every size given to a docked icon
        self.icon = None
        self.selection = self.display.intern_atom("_NET_SYSTEM_TRAY_S%d" % self.display.get_default_screen())
        self.opcode = self.display.intern_atom("_NET_SYSTEM_TRAY_OPCODE")
        self.manager = self.display.intern_atom("MANAGER")
        red, green, blue = BACKGROUND
        self.window = self.root.create_window(
            0, self.screen.height_in_pixels - HEIGHT, WIDTH, HEIGHT, 0, self.screen.root_depth, X.InputOutput,
            X.CopyFromParent, background_pixel=(red << 16) | (green << 8) | blue, override_redirect=True)
        self.window.map()
        self.window.set_selection_owner(self.selection, X.CurrentTime)
        assert self.display.get_selection_owner(self.selection) == self.window, "another tray owns the selection"
        self.announce(self.window.id)

    def announce(self, named, sender=None):
        """Sends MANAGER to the root window, naming any window id, from this
        tray's connection or another client's."""
        sender = sender or self.display
        message = event.ClientMessage(window=sender.screen().root, client_type=self.manager,
                                      data=(32, [X.CurrentTime, self.selection, named, 0, 0]))
        sender.screen().root.send_event(message, event_mask=X.StructureNotifyMask)
        sender.sync()

    def pump(self):
        while self.display.pending_events():
            received = self.display.next_event()
            if received.type == X.ClientMessage and received.client_type == self.opcode:
                _, data = received.data
                if data[1] == SYSTEM_TRAY_REQUEST_DOCK:
                    self._dock(data[2])
            elif received.type == X.PropertyNotify and received.atom == Xatom.WM_NORMAL_HINTS:
                if self.answer_hints and self.icon is not None and received.window == self.icon:
                    self._answer_hints()
        self.display.flush()

    def wait(self, condition, timeout=5.0):
        """Pumps the tray's events until condition() holds; its last value."""
        deadline = time.monotonic() + timeout
        while True:
            self.pump()
            value = condition()
            if value or time.monotonic() > deadline:
                return value
            time.sleep(0.05)

    def _dock(self, window_id):
        self.docks.append(window_id)
        icon = self.display.create_resource_object("window", window_id)
        if self.destroy_docked:
            icon.destroy()
            return
        self.icon = icon
        icon.change_attributes(event_mask=X.PropertyChangeMask)
        # As real trays do: should the tray end first, the icon goes back to the root.
        icon.change_save_set(X.SetModeInsert)
        # At the corner, where trayer and tint2 put icons in their sockets
        # (xdotool's geometry counts an offset in the parent twice).
        icon.reparent(self.window, 0, 0)
        if self.answer_hints:
            self._answer_hints()
        else:
            self.resize_icon(24, 24)
        icon.map()

    def _answer_hints(self):
        side = self.hints()
        self.resize_icon(side, side + 1)

    def hints(self):
        """The side of the square the docked icon asks for (its base size)."""
        try:
            hints = self.icon.get_wm_normal_hints()
        except error.BadWindow:  # gleamo took it away
            return 0
        return hints.base_width if hints else 0

    def resize_icon(self, width, height):
        self.sizes.append((width, height))
        self.icon.configure(width=width, height=height)
        self.display.flush()

    def destroy_icon(self):
        self.icon.destroy()
        self.icon = None
        self.display.flush()

    def give_back_icon(self):
        """Reparents the icon to the root, keeping the selection."""
        self.icon.reparent(self.root, 0, 0)
        self.icon = None
        self.display.flush()

    def close(self):
        self.display.close()
