"""Talks to Marble on the test's session bus, as a user's tools would (python3-dbus):
  marble_client.py theme ID          sets the map theme; exits 0 when Marble reads it back
  marble_client.py at LAT LON ZOOM   prints "centre LON LAT zoom Z"; exits 0 when the centre lies
                                     within 1e-6 degrees of LAT LON and the zoom is ZOOM
Every call waits at most two seconds for its answer; any failure exits 1."""
import sys

import dbus

INTERFACE, TIMEOUT, TOLERANCE = "org.kde.marble", 2.0, 1e-6


def main(arguments):
    marble = dbus.SessionBus().get_object("org.kde.marble", "/Marble", introspect=False)
    get = lambda name: dbus.Interface(marble, "org.freedesktop.DBus.Properties").Get(
        INTERFACE, name, timeout=TIMEOUT)
    if arguments[0] == "theme":
        dbus.Interface(marble, INTERFACE).setMapTheme(arguments[1], timeout=TIMEOUT)
        return 0 if get("mapTheme") == arguments[1] else 1
    if arguments[0] == "at":
        latitude, longitude, zoom = float(arguments[1]), float(arguments[2]), int(arguments[3])
        centre, shown = get("center"), int(get("zoom"))
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
