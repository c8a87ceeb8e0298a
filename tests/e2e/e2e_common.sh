# What the end-to-end tests share: checks, waits, an X server, the replay server, the user's hand.
# shellcheck shell=bash

# The window's content area, and the centres of the port field and the Start button in it.
readonly content_width=260 content_height=160 port_x=130 port_y=52 start_x=120 start_y=92
passed=0 failed=0 work="" logs=() summary=e2e
python=/usr/bin/python3 here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
xvfb_pid="" replay_pid="" navlume_pid="" marble_pid="" bus_pid=""

# check DESCRIPTION COMMAND...: one line, ok or FAIL, and the command's success.
check() {
    if "${@:2}"; then passed=$((passed + 1)) && echo "ok:   $1"; else failed=$((failed + 1)) && echo "FAIL: $1" && return 1; fi
}

# The logs when something failed, the summary, and the exit status.
finish() {
    for file in "${logs[@]}"; do
        [ "$failed" -gt 0 ] && [ -s "$work/$file" ] && echo "---- $file" && tail -n 20 "$work/$file"
    done
    echo "$summary: $passed passed, $failed failed" && exit $((failed > 0))
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

# The program, Marble (woken, should it hang), the servers they use, a test's cleanup_more, work.
cleanup() {
    [ -z "$marble_pid" ] || kill -CONT "$marble_pid" 2>/dev/null
    for pid in "$navlume_pid" "$marble_pid" "$replay_pid" "$xvfb_pid" "$bus_pid"; do stop_process "$pid"; done
    ! declare -F cleanup_more >/dev/null || cleanup_more
    [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Takes the arguments NAVLUME_EXECUTABLE NMEA_REPLAY SOURCE_DIR ($2 to $4); once the tools $1 are
# found (by $5), makes a scratch folder, a copy of the bundle and a private X server.
start_e2e() {
    [ $# -eq 5 ] || { echo "usage: $0 NAVLUME_EXECUTABLE NMEA_REPLAY SOURCE_DIR" >&2; exit 2; }
    program="$2" replay="$3" golden="$4/tests/data" data="$4/data"
    require "$1 are installed (bash scripts/install-deps)" eval "${@:5}"
    require "$program lies in an application bundle, beside $replay" eval '[ -x "$program" ] && [ -x "$replay" ]'
    work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-e2e.XXXXXX")" || finish
    require "a copy of the bundle is made" copy_bundle "$program"
    require "a private X server is up" start_xvfb
}

# Xvfb takes the first free display number itself and writes it once it accepts clients.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 & xvfb_pid=$!
    wait_until 10 grep -q '^[0-9]' "$work/display" && export DISPLAY=":$(head -n 1 "$work/display")"
}

# Plays log $1 once on port $2 (0: any) and sets port; three tries, as a port given up may linger.
replay_rate=100 # unless the test sets it
start_replay() {
    local attempt
    for attempt in 1 2 3; do
        "$replay" "$1" --port "$2" --rate "$replay_rate" --once >"$work/replay.out" 2>>"$work/replay.err" & replay_pid=$!
        wait_until 10 eval 'grep -q "^listening on 127\.0\.0\.1:[0-9][0-9]*\$" "$work/replay.out" ||
            ! kill -0 "$replay_pid" 2>/dev/null'
        port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/replay.out")"
        [ -n "$port" ] && return 0
        stop_process "$replay_pid"; replay_pid="" && sleep 0.5
    done
    return 1
}

# A fresh copy of program $1's bundle in work, without settings; sets contents (its Contents).
copy_bundle() {
    local bundle && bundle="$(cd "$(dirname "$1")/../.." && pwd)"
    [ "${bundle##*.}" = app ] && cp -R "$bundle" "$work/" &&
        rm -f "$work/$(basename "$bundle")/Contents/"{settings.cfg,*.kml} &&
        contents="$(cd "$work/$(basename "$bundle")/Contents" && pwd -P)"
}

# Of the windows named "Navlume" (Qt keeps invisible helpers), the one as wide as the content,
# once its geometry settled (the menu bar comes later); sets window, X, Y, WIDTH and HEIGHT.
find_window() {
    X=0 Y=0 WIDTH=0 HEIGHT=0
    for window in $(timeout 15 xdotool search --sync --onlyvisible --name '^Navlume$'); do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        [ "$WIDTH" -eq "$content_width" ] && break
    done
    wait_until 10 settled 0.2 xdotool getwindowgeometry --shell "$window"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" -eq "$content_width" ] && [ "$HEIGHT" -ge "$content_height" ]
}
# The program's copy on our X server with "$@"; leaks in the X11 system libraries are not ours.
start_navlume() {
    env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@" \
        LSAN_OPTIONS="suppressions=$here/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
        "$contents/MacOS/$(basename "$program")" >"$work/navlume.log" 2>&1 & navlume_pid=$!
}
click_at() { xdotool mousemove --sync $((X + $1)) $((Y + HEIGHT - content_height + $2)) click 1; }

# Types port $1, presses Start, waits for "${@:2}"; a try gone astray gets a fresh server.
press_start() {
    local attempt
    for attempt in 1 2 3; do
        click_at "$port_x" "$port_y" && sleep 0.2 && xdotool key --clearmodifiers ctrl+a
        xdotool type --delay 60 "$1" && sleep 0.2 && click_at "$start_x" "$start_y"
        wait_until 10 "${@:2}" && return 0
        click_at "$start_x" "$start_y" && stop_process "$replay_pid" && start_replay "$replay_log" "$1"
    done
    return 1
}

# The close button (WM_DELETE_WINDOW); waits $1 s for the end, sets status (or "still running").
press_close() {
    "$python" -c 'import sys; from Xlib import X, display, protocol
c = display.Display(); w = c.create_resource_object("window", int(sys.argv[1])); a = c.intern_atom
w.send_event(protocol.event.ClientMessage(window=w, client_type=a("WM_PROTOCOLS"),
             data=(32, [a("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])), event_mask=0); c.sync()' "$window"
    status="still running"
    wait_until "$1" eval '! kill -0 "$navlume_pid" 2>/dev/null' && { wait "$navlume_pid"; status=$? navlume_pid=""; }
}

# Log $1's last accepted position; golden settings with the typed port; golden link file in $1.
last_of() { tail -n 1 "$golden/$(basename "$1").chk"; }
settings_with_port() { sed "s/^Port = 10000\$/Port = $port/" "$golden/first-run-settings.cfg.chk" | cmp -s - "$1"; }
link_file_in() { sed "s|@HREF@|file://$1/Navlume-position.kml|" "$golden/navlume.kml.chk" | cmp -s - "$1/Navlume.kml"; }
