"""Small X11 client for the end-to-end test: the two things xdotool cannot do.

  x11_client.py close WINDOW   asks WINDOW to close, as a window manager's close button does
                               (a WM_DELETE_WINDOW client message)
  x11_client.py primary        prints the PRIMARY selection (the text selected last)

Needs python3-xlib and DISPLAY. Exits non-zero on any failure; every wait is bounded.
"""

import sys
import time

from Xlib import X, Xatom, display, error, protocol

SELECTION_WAIT_SECONDS = 3.0


def close_window(window_id):
    connection = display.Display()
    window = connection.create_resource_object("window", window_id)
    message = protocol.event.ClientMessage(
        window=window,
        client_type=connection.intern_atom("WM_PROTOCOLS"),
        data=(32, [connection.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]),
    )
    # No event mask: the message goes to the client that created the window.
    window.send_event(message, event_mask=X.NoEventMask)
    connection.sync()
    return 0


def print_primary_selection():
    connection = display.Display()
    requestor = connection.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
    target = connection.intern_atom("UTF8_STRING")
    landing = connection.intern_atom("NAVLUME_E2E_SELECTION")
    requestor.convert_selection(Xatom.PRIMARY, target, landing, X.CurrentTime)
    connection.flush()

    deadline = time.monotonic() + SELECTION_WAIT_SECONDS
    while time.monotonic() < deadline:
        if not connection.pending_events():
            time.sleep(0.02)
            continue
        event = connection.next_event()
        if event.type != X.SelectionNotify:
            continue
        if event.property == X.NONE:
            print("no selection", file=sys.stderr)
            return 1
        value = requestor.get_full_property(landing, X.AnyPropertyType)
        text = value.value if value is not None else b""
        if isinstance(text, str):
            text = text.encode()
        sys.stdout.write(bytes(text).decode("utf-8", "replace"))
        return 0
    print("the selection owner did not answer", file=sys.stderr)
    return 1


def main(arguments):
    try:
        if len(arguments) == 2 and arguments[0] == "close":
            return close_window(int(arguments[1], 0))
        if arguments == ["primary"]:
            return print_primary_selection()
    except (error.DisplayError, error.XError, ConnectionError, ValueError) as failure:
        print(f"x11_client: {failure}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
