#!/usr/bin/env python3
"""Stand-ins for the desktop's D-Bus services, for gleamo's tray tests.

    dbus_fixtures.py watcher [N [S]]  a StatusNotifierWatcher (refusing the first N items,
                                    dropping each item it took S seconds later)
    dbus_fixtures.py notifications  a notification service
    dbus_fixtures.py signals        a listener to every tray item's signals

Each prints "ready" once it owns its well-known name on the session bus (or
listens), and then one JSON line per call or signal it receives, so that a
test can read what gleamo sent it.
"""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


def report(**fields):
    print(json.dumps(fields), flush=True)


class Watcher(dbus.service.Object):
    INTERFACE = "org.kde.StatusNotifierWatcher"

    def __init__(self, bus, refusals=0, drop_after=None, drop_whose="its"):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []
        self.refusals = refusals
        self.drop_after = drop_after
        self.drop_whose = drop_whose  # "longer": another item's, named as this one's plus a digit

    @dbus.service.method(INTERFACE, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        refused = self.refusals > 0
        report(call="RegisterStatusNotifierItem", service=str(service), sender=str(sender), refused=refused)
        if refused:
            self.refusals -= 1
            raise dbus.exceptions.DBusException("busy", name="org.freedesktop.DBus.Error.Failed")
        self.items.append(str(service))
        self.StatusNotifierItemRegistered(service)
        if self.drop_after is not None:
            GLib.timeout_add(int(self.drop_after * 1000), self.drop, str(service), str(sender))

    def drop(self, service, sender):
        """Forgets an item as a tray host that lost it does, naming it by its
        sender and path."""
        if self.drop_whose == "longer":  # :1.10's item, not :1.1's
            self.StatusNotifierItemUnregistered(sender + "0" + service)
            report(call="dropped", service=sender + "0" + service)
            return False
        self.items.remove(service)
        self.StatusNotifierItemUnregistered(sender + service)
        report(call="dropped", service=service)
        return False

    @dbus.service.signal(INTERFACE, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.method(INTERFACE, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        report(call="RegisterStatusNotifierHost", service=str(service))

    @dbus.service.signal(INTERFACE, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }


class Notifications(dbus.service.Object):
    INTERFACE = "org.freedesktop.Notifications"

    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last_id = 0

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout):
        if not replaces_id:
            self.last_id += 1
        # Told once the reply is on its way, so that a test acting on the
        # record finds gleamo answered, not still waiting.
        record = dict(call="Notify", app_name=str(app_name), replaces_id=int(replaces_id), summary=str(summary),
                      body=str(body), expire_timeout=int(expire_timeout))
        GLib.idle_add(lambda: report(**record))
        return dbus.UInt32(replaces_id or self.last_id)  # as servers do: the replaced one keeps its id

    @dbus.service.method(INTERFACE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("gleamo-test", "gleamo", "1", "1.2")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    kind = sys.argv[1]
    if kind == "watcher":
        name = "org.kde.StatusNotifierWatcher"
        service = Watcher(bus, int(sys.argv[2]) if len(sys.argv) > 2 else 0,
                          float(sys.argv[3]) if len(sys.argv) > 3 else None, *sys.argv[4:5])
    elif kind == "notifications":
        name = "org.freedesktop.Notifications"
        service = Notifications(bus)
    elif kind == "signals":
        name = service = None
        bus.add_signal_receiver(
            lambda *args, member=None, sender=None: report(signal=str(member), sender=str(sender)),
            dbus_interface="org.kde.StatusNotifierItem", member_keyword="member", sender_keyword="sender")
    else:
        sys.exit("unknown fixture " + kind)
    owned = dbus.service.BusName(name, bus, do_not_queue=True) if name else None
    report(ready=kind)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)  # SIGTERM
    loop.run()
    del owned, service


if __name__ == "__main__":
    main()
