#!/usr/bin/env bash
# Navlume end to end, as a newcomer meets it: a copy of the built bundle runs on a private X
# server, driven with mouse and keyboard, while the replay server plays a real receiver's log, is
# stopped and started again on the same port. A stand-in "osascript" keeps every viewer script.
# Scripts, settings and KML files are compared with the golden files in tests/data. Needs Xvfb,
# xdotool and python3-xlib (scripts/install-deps). One line per check, then "e2e: N passed, M
# failed"; non-zero exit on a failure. Every wait is bounded; every process started is ended.
set -uo pipefail

[ $# -eq 3 ] || { echo "usage: $0 NAVLUME_EXECUTABLE NMEA_REPLAY SOURCE_DIR" >&2; exit 2; }
program="$1" replay="$2" golden="$3/tests/data" log="$3/data/sirfstarv-nmea.log"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# The window's content area, and the centres of the port field and the Start button in it.
readonly content_width=260 content_height=160 port_x=130 port_y=52 start_x=120 start_y=92
passed=0 failed=0 work="" xvfb_pid="" replay_pid="" navlume_pid=""

# check DESCRIPTION COMMAND...: one line, ok or FAIL, as the command succeeds or not.
check() {
    if "${@:2}"; then passed=$((passed + 1)) && echo "ok:   $1"; else failed=$((failed + 1)) && echo "FAIL: $1"; fi
}

# The logs when something failed, the summary, and the exit status.
finish() {
    for file in navlume.log replay.err xvfb.log; do
        [ "$failed" -gt 0 ] && [ -s "$work/$file" ] && echo "---- $file" && tail -n 20 "$work/$file"
    done
    echo "e2e: $passed passed, $failed failed" && exit $((failed > 0))
}
require() { check "$@" || finish; } # a check that the rest depends on

# Runs "${@:2}" every 0.1 s until it succeeds or the seconds $1 have run out.
wait_until() {
    local end=$((SECONDS + $1))
    until "${@:2}"; do [ "$SECONDS" -lt "$end" ] && sleep 0.1 || return 1; done
}

# Succeeds when "$@" prints something, and the same after the pause $1 (a value that settled).
settled() { local before && before="$("${@:2}")" && sleep "$1" && [ -n "$before" ] && [ "$("${@:2}")" = "$before" ]; }

stop_process() {
    [ -z "$1" ] || { kill -TERM "$1" 2>/dev/null && { wait_until 5 eval "! kill -0 $1 2>/dev/null" || kill -KILL "$1"; }; wait "$1" 2>/dev/null; }
}

# The program before the servers it uses.
cleanup() { stop_process "$navlume_pid"; stop_process "$replay_pid"; stop_process "$xvfb_pid"; [ -z "$work" ] || rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

python=/usr/bin/python3
"$python" -c 'import Xlib' 2>/dev/null || python=""
require "Xvfb, xdotool and python3-xlib are installed (bash scripts/install-deps)" \
    eval '[ -n "$python" ] && command -v Xvfb xdotool' '>/dev/null'
bundle="$(cd "$(dirname "$program")/../.." && pwd)"
require "$program lies in an application bundle, beside $replay" \
    eval '[ -x "$program" ] && [ -x "$replay" ] && [ "${bundle##*.}" = app ]'
work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-e2e.XXXXXX")" || finish

# A fresh copy of the bundle, as on a newcomer's first start: no settings yet.
cp -R "$bundle" "$work/" && rm -f "$work/$(basename "$bundle")/Contents/"{settings.cfg,*.kml}
contents="$(cd "$work/$(basename "$bundle")/Contents" && pwd -P)" # as the program sees it

# Xvfb takes the first free display number itself and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 & xvfb_pid=$!
require "a private X server is up" wait_until 10 grep -q '^[0-9]' "$work/display"
export DISPLAY=":$(head -n 1 "$work/display")"

# Plays the log once to one client at 100 lines a second, on port $1 (0: a free one).
start_replay() {
    "$replay" "$log" --port "$1" --rate 100 --once >"$work/replay.out" 2>>"$work/replay.err" & replay_pid=$!
    wait_until 10 grep -q '^listening on ' "$work/replay.out" &&
        port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/replay.out")"
}
require "nmea_replay plays $(basename "$log")" start_replay 0

# The stand-in runner keeps each script it is given, numbered in the order of the runs.
mkdir -p "$work/bin" "$work/scripts"
printf '#!/bin/sh\nd="$(dirname "$0")/../scripts"\ncat >"$d/in" && mv "$d/in" "$d/$(ls "$d" | wc -l)"\n' \
    >"$work/bin/osascript" && chmod +x "$work/bin/osascript"
scripts() { ls "$work/scripts" | grep -c '^[0-9]*$'; }
# "latitude longitude" of script $1, from its lines 3 and 4.
script_position() { sed -n '3s/.* //p;4s/.* //p' "$work/scripts/$1" | tr -d '\r' | paste -sd ' '; }

# Qt must open the window on our X server, whatever desktop session the test is run from. In
# a sanitizer build, leaks inside the system libraries behind Qt's X11 platform are not ours.
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb PATH="$work/bin:$PATH" \
    LSAN_OPTIONS="suppressions=$here/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
    "$contents/MacOS/$(basename "$program")" >"$work/navlume.log" 2>&1 & navlume_pid=$!
check "the first start writes the golden settings.cfg in the bundle's Contents folder" \
    wait_until 15 cmp -s "$contents/settings.cfg" "$golden/first-run-settings.cfg.chk"

# Of the windows named "Navlume", the one with the content's width (Qt keeps invisible helper
# windows); the menu bar is added after it is first shown, so its geometry must settle.
X=0 Y=0 WIDTH=0 HEIGHT=0
for window in $(timeout 15 xdotool search --sync --onlyvisible --name '^Navlume$'); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" -eq "$content_width" ] && break
done
wait_until 10 settled 0.2 xdotool getwindowgeometry --shell "$window"
eval "$(xdotool getwindowgeometry --shell "$window")"
require "window \"Navlume\" is on screen, ${WIDTH}x$HEIGHT with its menu bar" \
    eval '[ "$WIDTH" -eq "$content_width" ] && [ "$HEIGHT" -ge "$content_height" ]'
click_at() { xdotool mousemove --sync $((X + $1)) $((Y + HEIGHT - content_height + $2)) click 1; }

# Type the port and press Start. A try whose typing went astray reaches no server: it is stopped,
# and the next one meets a fresh server on the same port.
for attempt in 1 2 3; do
    click_at "$port_x" "$port_y" && sleep 0.2 && xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 60 "$port" && sleep 0.2 && click_at "$start_x" "$start_y"
    wait_until 10 eval '[ "$(scripts)" -gt 0 ]' && break
    click_at "$start_x" "$start_y" && stop_process "$replay_pid" && start_replay "$port"
done
require "viewer scripts reach osascript after typing port $port and pressing Start" \
    wait_until 20 eval '[ "$(scripts)" -ge 3 ]'

# The server goes away and comes back on the same port.
stop_process "$replay_pid"
check "with the server stopped the title says it retries" wait_until 10 eval \
    '[[ "$(xdotool getwindowname "$window")" =~ ^"Navlume - "(connection to|cannot connect to)" 127.0.0.1:$port"( lost)?", retrying in "[0-9.]+" s"$ ]]'
wait_until 10 settled 1 scripts # the first connection's last positions may still be on the way
first_run="$(scripts)"
require "nmea_replay is back on port $port" start_replay "$port"
last_position="$(tail -n 1 "$golden/$(basename "$log").chk")"
require "the viewer follows the restarted server to the log's end without a click" wait_until 40 \
    eval 'settled 1 scripts && [ "$(script_position "$(scripts)")" = "$last_position" ]'
last_script="$(scripts)"

# Scripts $1 to $2 are each the golden script with distance 500 and a position of the log, in
# the log's order; a slow viewer may skip some.
scripts_follow_log() {
    local number="$1" position
    while IFS= read -r position && [ "$number" -le "$2" ]; do
        [ "$(script_position "$number")" = "$position" ] || continue
        sed -e "3s/48\.117300/${position% *}/" -e "4s/11\.516667/${position#* }/" \
            "$golden/viewer-script.chk" | cmp -s - "$work/scripts/$number" || return 1
        number=$((number + 1))
    done <"$golden/$(basename "$log").chk"
    [ "$number" -gt "$2" ]
}
check "scripts 1 to $first_run are the golden script with the log's positions in order" \
    scripts_follow_log 1 "$first_run"
check "scripts $((first_run + 1)) to $last_script (after the restart) likewise" \
    scripts_follow_log $((first_run + 1)) "$last_script"

# The stream has ended and the viewer has run its last script: nothing moves the files now.
check "Navlume-position.kml is the golden one at the last position" eval \
    'sed -e "s/48\.117300/${last_position% *}/g" -e "s/11\.516667/${last_position#* }/g" \
        "$golden/navlume-position.kml.chk" | cmp -s - "$contents/Navlume-position.kml"'
check "Navlume.kml is the golden one, linking to the position file" eval \
    'sed "s|@HREF@|file://$contents/Navlume-position.kml|" "$golden/navlume.kml.chk" |
        cmp -s - "$contents/Navlume.kml"'

# A server that sends one sentence and then nothing for 100 s: after the real silence limit the
# program gives it up and says so (for the half second of its first pause; the server takes the
# next connection too, so the title comes again). No connection starts before the server does.
stop_process "$replay_pid"
silent_since=$SECONDS
"$replay" "$log" --port "$port" --rate 0.01 >/dev/null 2>>"$work/replay.err" & replay_pid=$!
check "a server silent for 15 s is left, and the title says so" wait_until 45 eval \
    '[[ "$(xdotool getwindowname "$window")" =~ ^"Navlume - no data from 127.0.0.1:$port for 15 s, retrying in "[0-9.]+" s"$ ]]'
check "... not before 15 s have passed" [ $((SECONDS - silent_since)) -ge 15 ]
stop_process "$replay_pid" && replay_pid=""

# The close button: a WM_DELETE_WINDOW client message, as a window manager sends it.
"$python" -c 'import sys; from Xlib import X, display, protocol
c = display.Display(); w = c.create_resource_object("window", int(sys.argv[1])); a = c.intern_atom
w.send_event(protocol.event.ClientMessage(window=w, client_type=a("WM_PROTOCOLS"),
             data=(32, [a("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])), event_mask=0); c.sync()' "$window"
status="still running"
wait_until 15 eval '! kill -0 "$navlume_pid" 2>/dev/null' && { wait "$navlume_pid"; status=$? navlume_pid=""; }
check "the program ends with status 0 within 15 s of the close button, while tracking" [ "$status" = 0 ]
check "settings.cfg is the golden one with the typed port $port after closing" eval \
    'sed "s/^Port = 10000\$/Port = $port/" "$golden/first-run-settings.cfg.chk" |
        cmp -s - "$contents/settings.cfg"'
finish
