#!/usr/bin/python3
"""Asks the accessibility bus (AT-SPI) about the window titled ARGV[1] and
prints how many milliseconds the program took to answer the first question
about it, then one line per push button: its name, a tab, "on" or "off";
with --labels after the time out, one line per text label instead: its
text, a tab, "label". Exits 1 when the program does not answer within
ARGV[2] milliseconds (default 2000): a program whose thread is blocked
cannot answer at all."""
import sys
import time

from gi.repository import Gio, GLib

ENABLED = 8  # AT-SPI state bit

title = sys.argv[1]
timeout = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
labels = "--labels" in sys.argv[3:]
session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                            None, GLib.VariantType("(s)"), 0, timeout, None).unpack()[0]
bus = Gio.DBusConnection.new_for_address_sync(
    address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
    Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)


def call(node, method, interface="org.a11y.atspi.Accessible", args=None):
    return bus.call_sync(node[0], node[1], interface, method, args, None, 0, timeout,
                         None).unpack()[0]


def name(node):
    return call(node, "Get", "org.freedesktop.DBus.Properties",
                GLib.Variant("(ss)", ("org.a11y.atspi.Accessible", "Name")))


def walk(node):
    yield node
    for child in call(node, "GetChildren"):
        yield from walk(child)


try:
    root = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for app in call(root, "GetChildren"):
        started = time.monotonic()
        windows = [w for w in call(app, "GetChildren") if name(w) == title]
        if not windows:
            continue
        print("answered in %d ms" % ((time.monotonic() - started) * 1000))
        for node in walk(windows[0]):
            role = call(node, "GetRoleName")
            if role == "push button" and not labels:
                on = call(node, "GetState")[0] & (1 << ENABLED)
                print("%s\t%s" % (name(node), "on" if on else "off"))
            elif role == "label" and labels:
                print("%s\tlabel" % name(node))
        sys.exit(0)
except GLib.Error as error:
    print(error.message, file=sys.stderr)
sys.exit(1)
