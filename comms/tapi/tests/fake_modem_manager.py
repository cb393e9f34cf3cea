#!/usr/bin/python3
# A stand-in for ModemManager on a private bus: one modem on the given port, and a log of every
# InhibitDevice call with its caller's unique bus name. As ModemManager does, an inhibition ends
# when the bus name of the program that asked for it goes away (the program died): "released".
#   fake_modem_manager.py BUS_ADDRESS PORT UID LOG
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

address, port, uid, log_path = sys.argv[1:5]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)


def log(text):
    with open(log_path, "a") as f:
        f.write(text + "\n")


class ModemManager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        modem = {
            "Device": dbus.String(uid, variant_level=1),
            "PrimaryPort": dbus.String(port, variant_level=1),
            "Ports": dbus.Array([dbus.Struct((port, dbus.UInt32(4)))], signature="(su)", variant_level=1),
        }
        return {dbus.ObjectPath("/org/freedesktop/ModemManager1/Modem/0"): {"org.freedesktop.ModemManager1.Modem": modem}}

    @dbus.service.method("org.freedesktop.ModemManager1", in_signature="sb", sender_keyword="sender")
    def InhibitDevice(self, device, inhibit, sender=None):
        if device != uid:
            raise dbus.exceptions.DBusException("No such device", name="org.freedesktop.ModemManager1.Error.Core.NotFound")
        log("inhibit %s %s %s" % (device, "on" if inhibit else "off", sender))
        if inhibit:
            def gone(name, old, new):
                if not new:
                    log("released %s %s" % (device, sender))
            bus.add_signal_receiver(gone, "NameOwnerChanged", "org.freedesktop.DBus", "org.freedesktop.DBus",
                                    "/org/freedesktop/DBus", arg0=sender)


name = dbus.service.BusName("org.freedesktop.ModemManager1", bus)
ModemManager(bus, "/org/freedesktop/ModemManager1")
log("ready")
GLib.MainLoop().run()
