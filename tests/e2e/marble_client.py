"""Talks to Marble on the session bus the test set up (DBUS_SESSION_BUS_ADDRESS), as a user's
tools would: python3-dbus, the reference bindings.

  marble_client.py theme ID          sets the map theme and exits 0 when Marble reads it back
  marble_client.py at LAT LON ZOOM   prints "centre LON LAT zoom Z" and exits 0 when the centre
                                     lies within 1e-6 degrees of LAT LON and the zoom is ZOOM

Every call waits at most two seconds for its answer; any failure exits 1."""
import sys

import dbus

SERVICE, OBJECT, INTERFACE = "org.kde.marble", "/Marble", "org.kde.marble"
TIMEOUT = 2.0
TOLERANCE = 1e-6


def main(arguments):
    bus = dbus.SessionBus()
    marble = bus.get_object(SERVICE, OBJECT, introspect=False)
    properties = dbus.Interface(marble, "org.freedesktop.DBus.Properties")
    if arguments[0] == "theme":
        dbus.Interface(marble, INTERFACE).setMapTheme(arguments[1], timeout=TIMEOUT)
        return 0 if properties.Get(INTERFACE, "mapTheme", timeout=TIMEOUT) == arguments[1] else 1
    if arguments[0] == "at":
        latitude, longitude, zoom = float(arguments[1]), float(arguments[2]), int(arguments[3])
        centre = properties.Get(INTERFACE, "center", timeout=TIMEOUT)
        shown = int(properties.Get(INTERFACE, "zoom", timeout=TIMEOUT))
        print("centre %r %r zoom %d" % (float(centre[0]), float(centre[1]), shown))
        near = abs(centre[0] - longitude) <= TOLERANCE and abs(centre[1] - latitude) <= TOLERANCE
        return 0 if near and shown == zoom else 1
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except dbus.DBusException as error:
        print(error, file=sys.stderr)
        sys.exit(1)
