#!/usr/bin/env bash
# Navlume and a real Marble on a private bus and X server: Marble's centre and zoom (over D-Bus)
# follow the logs, also a Marble started again; closing ends the program at once, also while
# Marble hangs. Marble gets a network namespace where one can be had.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"
logs=(navlume.log marble.log replay.out replay.err bus.log xvfb.log)
start_e2e "marble-qt, dbus-daemon, Xvfb, xdotool, python3-xlib and python3-dbus" "$@" \
    'command -v marble-qt dbus-daemon Xvfb xdotool >/dev/null && "$python" -c "import Xlib, dbus"'
first_log="$data/quectel-l76k-nmea.log" second_log="$data/sirfstarv-nmea.log"
replay_log="$first_log" replay_rate=1000 # the longer log in about 2 s
readonly theme=earth/openstreetmap/openstreetmap.dgml zoom=3018 # the zoom for 500 m
marble() { "$python" "$here/marble_client.py" "$@"; }

# A session bus of our own on a socket in work: never the bus of the session the test runs in.
dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" --print-address=3 \
    3>"$work/bus.address" >"$work/bus.log" 2>&1 & bus_pid=$!
require "a private session bus is up" wait_until 10 grep -q '^unix:' "$work/bus.address"
export DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus.address")"
unset DBUS_SYSTEM_BUS_ADDRESS

# Marble with a home and runtime folder of its own; its web engine's sandbox refuses root.
isolate=()
unshare --net true 2>/dev/null && isolate=(unshare --net)
mkdir -p "$work/marble-home" "$work/marble-runtime" && chmod 700 "$work/marble-runtime"
start_marble() {
    env -u WAYLAND_DISPLAY HOME="$work/marble-home" XDG_RUNTIME_DIR="$work/marble-runtime" \
        QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox \
        "${isolate[@]}" marble-qt >>"$work/marble.log" 2>&1 & marble_pid=$!
    # The name comes before Marble's object: the theme is set once both are there.
    wait_until 60 eval 'marble theme "$theme" 2>/dev/null'
}
require "Marble is on the bus with the OpenStreetMap theme" start_marble

require "nmea_replay plays $(basename "$first_log")" start_replay "$first_log" 0
mkdir -p "$work/home" && start_navlume HOME="$work/home"
require "window \"Navlume\" is on screen with its menu bar" find_window

# Succeeds once Marble shows position $1 ("latitude longitude") at the first distance's zoom.
marble_at() { marble at ${1% *} ${1#* } "$zoom" >"$work/marble.at"; }
first_last="$(last_of "$first_log")"
press_start "$port" marble_at "$first_last"
require "Marble's centre is the last position of $(basename "$first_log") and its zoom $zoom" \
    wait_until 20 marble_at "$first_last"

# Marble dies while tracking goes on, and a new one is followed to the next log's end.
kill -KILL "$marble_pid" && wait "$marble_pid" 2>/dev/null; marble_pid=""
require "a second Marble is on the bus" start_marble
stop_process "$replay_pid"
require "nmea_replay plays $(basename "$second_log") on port $port" start_replay "$second_log" "$port"
second_last="$(last_of "$second_log")"
check "the second Marble follows to the last position of $(basename "$second_log")" \
    wait_until 30 marble_at "$second_last"
echo "      $(cat "$work/marble.at")"

# Marble hangs (stopped, its socket fills): the position file still follows the next log.
kill -STOP "$marble_pid"
stop_process "$replay_pid"
require "nmea_replay plays $(basename "$first_log") on port $port again" start_replay "$first_log" "$port"
point_is() { grep -q "<coordinates>${1#* },${1% *},0</coordinates>" "$contents/Navlume-position.kml"; }
check "with Marble hanging, the position file follows to the last position of $(basename "$first_log")" \
    wait_until 30 point_is "$first_last"

# Closing while Marble is attached (and hangs): the program ends at once, with status 0.
milliseconds() { echo $(($(date +%s%N) / 1000000)); }
closed_at="$(milliseconds)"
press_close 5
took=$(($(milliseconds) - closed_at))
check "the program ends with status 0 within 1 s of the close button, Marble attached and hanging ($status after $took ms)" \
    eval '[ "$status" = 0 ] && [ "$took" -le 1000 ]'
finish
