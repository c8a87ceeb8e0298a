#!/usr/bin/env bash
# Navlume end to end, as a newcomer meets it: a copy of the built bundle runs on a private X
# server and is driven from outside with the mouse and keyboard, while the replay server plays a
# real receiver's log ($GNRMC), is stopped and is started again on the same port. A stand-in
# "osascript" first on PATH keeps every viewer script; scripts, settings and the live KML files
# are compared with the golden files in tests/data.
#
#   navlume_e2e.sh NAVLUME_EXECUTABLE NMEA_REPLAY SOURCE_DIR
#
# Needs Xvfb, xdpyinfo, xdotool and python3 with python3-xlib (scripts/install-deps installs
# them). Prints one line per check and ends with "e2e: N passed, M failed"; exits non-zero when
# anything failed. Every wait is bounded; every process it starts is ended on the way out.
set -uo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 NAVLUME_EXECUTABLE NMEA_REPLAY SOURCE_DIR" >&2
    exit 2
fi
program="$1"
replay="$2"
data="$3/tests/data"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
receiver_log="$3/data/sirfstarv-nmea.log" # its .chk golden stays in tests/data
log_positions="$data/sirfstarv-nmea.log.chk" # "latitude longitude" per position the program accepts
golden_script="$data/viewer-script.chk" # for 48.117300 / 11.516667, distance 500
golden_settings="$data/first-run-settings.cfg.chk"

# The window's content area and the gadgets the test uses, in points from its top-left corner.
readonly content_width=260 content_height=160
readonly port_field_x=130 port_field_y=52     # centre of the port field (90,40 80x25)
readonly start_button_x=120 start_button_y=92 # centre of the Start button (70,80 100x25)
# Lines per second: the log's 367 lines take under 4 s, about 16 positions a second.
readonly replay_rate_hz=100

passed=0
failed=0
work=""
xvfb_pid="" replay_pid="" navlume_pid=""

pass() {
    passed=$((passed + 1))
    echo "ok:   $*"
}

fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}

show_log() {
    [ -s "$2" ] || return 0
    echo "---- $1 (last lines) ----"
    tail -n 20 "$2" | tr -d '\r'
}

summary_and_exit() {
    if [ "$failed" -gt 0 ] && [ -n "$work" ]; then
        show_log "Navlume output" "$work/navlume.log"
        show_log "nmea_replay output" "$work/replay.err"
        show_log "last recorded script" "$work/scripts/$(scripts_recorded)"
        show_log "Xvfb output" "$work/xvfb.log"
    fi
    echo "e2e: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# A check that the rest depends on failed: report and stop here.
fail_and_stop() {
    fail "$@"
    summary_and_exit
}

microseconds() {
    echo "${EPOCHREALTIME//[.,]/}"
}

# Runs "$@" every 0.1 s until it succeeds or the whole seconds run out.
wait_until() {
    local deadline=$(($(microseconds) + $1 * 1000000))
    shift
    until "$@"; do
        [ "$(microseconds)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# Succeeds when "$@" prints something, and the same again after the pause (a value that settled).
unchanged_after() {
    local pause="$1" before
    shift
    before="$("$@")"
    sleep "$pause"
    [ -n "$before" ] && [ "$("$@")" = "$before" ]
}

is_running() {
    kill -0 "$1" 2>/dev/null
}

# Ends one process that this script started: politely, then by force after 5 seconds.
stop_process() {
    local pid="$1"
    [ -n "$pid" ] || return 0
    if is_running "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        wait_until 5 eval "! is_running $pid" || kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
}

cleanup() {
    # The program before the servers it uses.
    stop_process "$navlume_pid"
    stop_process "$replay_pid"
    stop_process "$xvfb_pid"
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# --- what is needed -----------------------------------------------------------------------

for tool in Xvfb xdpyinfo xdotool; do
    command -v "$tool" >/dev/null || fail_and_stop "$tool is not installed (bash scripts/install-deps)"
done
python=""
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import Xlib' 2>/dev/null; then
        python="$candidate"
        break
    fi
done
[ -n "$python" ] || fail_and_stop "python3 with python3-xlib is not installed (bash scripts/install-deps)"
[ -x "$program" ] || fail_and_stop "no Navlume program at $program"
[ -x "$replay" ] || fail_and_stop "no nmea_replay at $replay"
for file in "$receiver_log" "$log_positions" "$golden_script" "$golden_settings"; do
    [ -s "$file" ] || fail_and_stop "no $file"
done

bundle="$(cd "$(dirname "$program")/../.." && pwd)"
[ "${bundle##*.}" = app ] || fail_and_stop "$program does not lie in an application bundle"

work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-e2e.XXXXXX")" || fail_and_stop "no temporary folder"

# --- a fresh copy of the bundle: a newcomer's first start, no settings yet ----------------

cp -R "$bundle" "$work/" || fail_and_stop "could not copy $bundle"
copy="$work/$(basename "$bundle")"
rm -f "$copy/Contents/settings.cfg" "$copy/Contents/"*.kml
contents="$(cd "$copy/Contents" && pwd -P)" # the program's working directory, as it sees it

# --- a private X server -------------------------------------------------------------------

# Xvfb takes the first free display number itself and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_until 10 grep -q '^[0-9]' "$work/display" || fail_and_stop "the X server did not start"
display=":$(head -n 1 "$work/display")"
xdpyinfo -display "$display" >/dev/null 2>&1 || fail_and_stop "the X server on $display does not answer"
pass "X server $display is up"
export DISPLAY="$display"

# --- the replay server --------------------------------------------------------------------

# Plays the log once to one client, on port $1 (0: a free one); sets replay_pid and port.
start_replay() {
    rm -f "$work/replay.out"
    "$replay" "$receiver_log" --port "$1" --rate "$replay_rate_hz" --once >"$work/replay.out" \
        2>>"$work/replay.err" &
    replay_pid=$!
    wait_until 10 grep -q '^listening on ' "$work/replay.out" ||
        fail_and_stop "nmea_replay did not say where it listens (port $1)"
    port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/replay.out")"
}
start_replay 0
pass "nmea_replay plays $(basename "$receiver_log") on port $port at $replay_rate_hz lines a second"

# --- a stand-in for the AppleScript runner --------------------------------------------------

mkdir -p "$work/bin" "$work/scripts"
cat >"$work/bin/osascript" <<'EOF'
#!/bin/sh
# Keeps each script it is given, numbered in the order of the runs, and reports success.
scripts="$(dirname "$0")/../scripts"
count=$(($(cat "$scripts/count" 2>/dev/null || echo 0) + 1))
cat >"$scripts/incoming"
mv "$scripts/incoming" "$scripts/$count"
echo "$count" >"$scripts/count"
EOF
chmod +x "$work/bin/osascript"

scripts_recorded() {
    cat "$work/scripts/count" 2>/dev/null || echo 0
}

# "latitude longitude" from lines 3 and 4 of script $1.
script_position() {
    sed -n '3s/.* //p;4s/.* //p' "$work/scripts/$1" 2>/dev/null | tr -d '\r' | paste -sd ' '
}

# --- the program --------------------------------------------------------------------------

# Qt must open the window on our X server, whatever desktop session the test is run from. In
# a sanitizer build, leaks inside the system libraries behind Qt's X11 platform are not ours.
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb PATH="$work/bin:$PATH" \
    LSAN_OPTIONS="suppressions=$here/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
    "$copy/Contents/MacOS/$(basename "$program")" >"$work/navlume.log" 2>&1 &
navlume_pid=$!

settings_file="$contents/settings.cfg"
if wait_until 15 cmp -s "$settings_file" "$golden_settings"; then
    pass "first start wrote settings.cfg in the bundle's Contents folder, as $(basename "$golden_settings")"
else
    fail "settings.cfg after the first start: $(tr '\n' ' ' <"$settings_file" 2>/dev/null)"
fi

# The plain title "Navlume" holds until Start. Of the windows so named, the one with the
# content's width (Qt keeps other, invisible helper windows).
window=""
for candidate in $(timeout 15 xdotool search --sync --onlyvisible --name '^Navlume$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null)"
    [ "${WIDTH:-0}" -eq "$content_width" ] && window="$candidate" && break
done
[ -n "$window" ] || fail_and_stop "no visible window \"Navlume\" $content_width wide appeared"

# The menu bar sits above the content area and is added after the window is first shown: wait
# until the geometry has settled.
wait_until 10 unchanged_after 0.2 xdotool getwindowgeometry --shell "$window" ||
    fail_and_stop "the window's geometry did not settle"
eval "$(xdotool getwindowgeometry --shell "$window")"
if [ "$WIDTH" -eq "$content_width" ] && [ "$HEIGHT" -ge "$content_height" ]; then
    pass "window \"Navlume\" is on screen at $X,$Y, ${WIDTH}x${HEIGHT} with its menu bar"
else
    fail_and_stop "window \"Navlume\" is ${WIDTH}x${HEIGHT}, not $content_width wide and $content_height high or more"
fi
content_x="$X"
content_y=$((Y + HEIGHT - content_height))

click_at() {
    xdotool mousemove --sync $((content_x + $1)) $((content_y + $2)) click 1
}

# --- type the replay server's port and start ----------------------------------------------

# After selecting all, the field's text is the PRIMARY selection: that is how the test reads
# back what it typed.
typed=""
for attempt in 1 2 3; do
    click_at "$port_field_x" "$port_field_y"
    sleep 0.2
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 60 "$port"
    sleep 0.2
    xdotool key --clearmodifiers ctrl+a
    sleep 0.2
    typed="$("$python" "$here/x11_client.py" primary 2>/dev/null)"
    [ "$typed" = "$port" ] && break
    sleep 0.5
done
[ "$typed" = "$port" ] || fail_and_stop "the port field shows \"$typed\" after typing $port three times"
pass "the port field shows $port after typing (attempt $attempt)"

click_at "$start_button_x" "$start_button_y"
wait_until 20 eval '[ "$(scripts_recorded)" -ge 3 ]' ||
    fail_and_stop "only $(scripts_recorded) viewer scripts reached osascript within 20 s of pressing Start"
pass "$(scripts_recorded) viewer scripts reached osascript after pressing Start"

# --- the server goes away and comes back ----------------------------------------------------

stop_process "$replay_pid"
title=""
retrying_title() {
    title="$(xdotool getwindowname "$window" 2>/dev/null)"
    [[ "$title" =~ ^"Navlume - "(connection to|cannot connect to)" 127.0.0.1:$port"( lost)?", retrying in "[0-9.]+" s"$ ]]
}
if wait_until 10 retrying_title; then
    pass "with the server stopped the title reads \"$title\""
else
    fail "with the server stopped the title reads \"$title\""
fi
# The last positions of the first connection may still be on their way to the viewer.
wait_until 10 unchanged_after 1 scripts_recorded || fail "viewer scripts kept arriving without a server"
first_session="$(scripts_recorded)"

start_replay "$port"
# The log ends on a position it repeats: wait until the viewer has run out of work on it.
last_position="$(tail -n 1 "$log_positions")"
wait_until 40 eval 'unchanged_after 1 scripts_recorded && [ "$(scripts_recorded)" -gt "$first_session" ] &&
    [ "$(script_position "$(scripts_recorded)")" = "$last_position" ]' ||
    fail_and_stop "after the restart: $(($(scripts_recorded) - first_session)) more scripts, the last at \"$(script_position "$(scripts_recorded)")\", not the log's end, $last_position"
last_script="$(scripts_recorded)"
pass "restarted on port $port, the server's log reached the viewer without a click: scripts $((first_session + 1)) to $last_script, the last at the log's end"

# --- the scripts --------------------------------------------------------------------------

# Scripts $2 to $3 (one connection's) must each be the golden script with the distance 500 and
# a position of the log, the positions in the log's order; a slow viewer may skip some.
check_scripts() {
    local name="$1" first="$2" last="$3" number position line=0
    for ((number = first; number <= last; number++)); do
        position="$(script_position "$number")"
        if ! sed -e "3s/48\.117300/${position% *}/" -e "4s/11\.516667/${position#* }/" \
            "$golden_script" | cmp -s - "$work/scripts/$number"; then
            fail "$name: script $number is not $(basename "$golden_script") for \"$position\": $(od -c "$work/scripts/$number" | head -n 12)"
            return
        fi
        line="$(grep -nxF "$position" "$log_positions" | cut -d: -f1 |
            awk -v after="$line" '$1 > after { print; exit }')"
        if [ -z "$line" ]; then
            fail "$name: script $number, $position, is no position that follows in $(basename "$log_positions")"
            return
        fi
    done
    pass "$name: scripts $first to $last are $(basename "$golden_script") with the log's positions in order (up to line $line of $(basename "$log_positions"))"
}
check_scripts "first connection" 1 "$first_session"
check_scripts "after the restart" $((first_session + 1)) "$last_script"

# --- the live KML files -------------------------------------------------------------------

# The stream has ended and the viewer has run its last script: nothing moves the files now.
kml_view="$("$python" - "$contents" 2>&1 <<'EOF'
import sys
import xml.etree.ElementTree as tree

ns = "{http://www.opengis.net/kml/2.2}"

def document(name):
    root = tree.parse(f"{sys.argv[1]}/{name}").getroot()
    if root.tag != ns + "kml":
        sys.exit(f"{name}: the root element is {root.tag}")
    return root.find(ns + "Document")

look = document("Navlume-position.kml").find(ns + "LookAt")
link = document("Navlume.kml").find(f"{ns}NetworkLink/{ns}Link")
print(*(look.findtext(ns + tag) for tag in ("latitude", "longitude", "range")),
      link.findtext(ns + "href"))
EOF
)"
expected_view="$(script_position "$last_script") 500 file://$contents/Navlume-position.kml"
if [ "$kml_view" = "$expected_view" ]; then
    pass "Navlume-position.kml looks at the last script's position from 500, Navlume.kml links to it: $kml_view"
else
    fail "the KML files give \"$kml_view\", expected \"$expected_view\""
fi

# --- close the window ---------------------------------------------------------------------

"$python" "$here/x11_client.py" close "$window" ||
    fail "could not send WM_DELETE_WINDOW to window $window"
if wait_until 15 eval '! is_running "$navlume_pid"'; then
    wait "$navlume_pid"
    status=$?
    navlume_pid=""
    if [ "$status" -eq 0 ]; then
        pass "the program ended with status 0 after WM_DELETE_WINDOW (its close button), while tracking"
    else
        fail "the program ended with status $status after WM_DELETE_WINDOW"
    fi
else
    fail "the program was still running 15 s after WM_DELETE_WINDOW"
fi

if sed "s/^Port = 10000\$/Port = $port/" "$golden_settings" | cmp -s - "$settings_file"; then
    pass "settings.cfg holds the typed port $port after closing"
else
    fail "settings.cfg after closing: $(tr '\n' ' ' <"$settings_file" 2>/dev/null)"
fi

summary_and_exit
