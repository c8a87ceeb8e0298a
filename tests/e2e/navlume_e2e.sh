#!/usr/bin/env bash
# Navlume end to end, as a newcomer meets it: a copy of the built bundle runs on a private X
# server, the replay server plays the sample track, and the window is driven from outside with
# the mouse and keyboard. A stand-in "osascript" first on PATH keeps every viewer script.
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
source_dir="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
sample_track="$source_dir/data/sample-track.nmea"

# The window's content area and the gadgets the test uses, in points from its top-left corner.
readonly content_width=260 content_height=160
readonly port_field_x=130 port_field_y=52   # centre of the port field (90,40 80x25)
readonly start_button_x=120 start_button_y=92   # centre of the Start button (70,80 100x25)
readonly replay_rate_hz=10
readonly scripts_wanted=3
readonly first_run_settings=$'[Server]\nServer = 127.0.0.1\nPort = 10000\n[GE]\nZoom = 500\n'

passed=0
failed=0
pids=()
work=""

pass() {
    passed=$((passed + 1))
    echo "ok:   $*"
}

fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}

# Prints the end of a log file, for failures.
show_log() {
    local title="$1" file="$2"
    [ -s "$file" ] || return 0
    echo "---- $title (last lines) ----"
    tail -n 20 "$file" | tr -d '\r'
}

summary_and_exit() {
    if [ "$failed" -gt 0 ] && [ -n "$work" ]; then
        show_log "Navlume output" "$work/navlume.log"
        show_log "nmea_replay output" "$work/replay.err"
        show_log "recorded scripts" "$work/osascript.log"
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

# Polls "$@" every 0.1 s until it succeeds or the seconds run out.
wait_until() {
    local seconds="$1"
    shift
    local tries=$((seconds * 10))
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    "$@"
}

is_running() {
    kill -0 "$1" 2>/dev/null
}

# Ends one process that this script started: politely, then by force after 5 seconds.
stop_process() {
    local pid="$1"
    if is_running "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        wait_until 5 eval "! is_running $pid" || kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
}

cleanup() {
    local index
    # Newest first: the program before the servers it uses.
    for ((index = ${#pids[@]} - 1; index >= 0; index--)); do
        stop_process "${pids[index]}"
    done
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
[ -r "$sample_track" ] || fail_and_stop "no sample track at $sample_track"

bundle="$(cd "$(dirname "$program")/../.." && pwd)"
[ "${bundle##*.}" = app ] || fail_and_stop "$program does not lie in an application bundle"

work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-e2e.XXXXXX")" || fail_and_stop "no temporary folder"

# --- a fresh copy of the bundle -----------------------------------------------------------

cp -R "$bundle" "$work/" || fail_and_stop "could not copy $bundle"
copy="$work/$(basename "$bundle")"
# A newcomer's first start: no settings yet.
rm -f "$copy/Contents/settings.cfg"
copied_program="$copy/Contents/MacOS/$(basename "$program")"

# --- a private X server -------------------------------------------------------------------

# Another server that took the number at the same moment would answer as well: the display is
# ours when our server holds its lock file (which names the server's process id).
display_is_ours() {
    local number="$1" pid="$2"
    is_running "$pid" && [ "$(tr -d ' \n' <"/tmp/.X$number-lock" 2>/dev/null)" = "$pid" ] &&
        xdpyinfo -display ":$number" >/dev/null 2>&1
}

display=""
for number in $(seq 90 129); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    pids+=("$xvfb_pid")
    # Up to 10 s; a server that lost the number to another ends at once.
    for ((tries = 100; tries > 0; tries--)); do
        display_is_ours "$number" "$xvfb_pid" && display=":$number"
        [ -n "$display" ] || ! is_running "$xvfb_pid" && break
        sleep 0.1
    done
    [ -n "$display" ] && break
    stop_process "$xvfb_pid"
done
[ -n "$display" ] || fail_and_stop "no X server could be started on :90 to :129"
pass "X server $display is up"

# --- the replay server --------------------------------------------------------------------

"$replay" "$sample_track" --port 0 --rate "$replay_rate_hz" >"$work/replay.out" \
    2>"$work/replay.err" &
pids+=("$!")

replay_port() {
    sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/replay.out" | head -n 1
}
wait_until 10 eval '[ -n "$(replay_port)" ]' || fail_and_stop "nmea_replay did not say where it listens"
port="$(replay_port)"
pass "nmea_replay plays the sample track on port $port at $replay_rate_hz Hz"

# --- a stand-in for the AppleScript runner --------------------------------------------------

mkdir -p "$work/bin" "$work/scripts"
cat >"$work/bin/osascript" <<'EOF'
#!/bin/sh
# Keeps each script it is given, numbered in the order of the runs, and reports success.
scripts="$(dirname "$0")/../scripts"
count=$(cat "$scripts/count" 2>/dev/null)
count=$((${count:-0} + 1))
cat >"$scripts/incoming"
mv "$scripts/incoming" "$scripts/$count"
echo "$count" >"$scripts/count"
{ cat "$scripts/$count"; printf '\n---- end of script %s ----\n' "$count"; } >>"$scripts/../osascript.log"
exit 0
EOF
chmod +x "$work/bin/osascript"

scripts_recorded() {
    local count
    count="$(cat "$work/scripts/count" 2>/dev/null)"
    echo "${count:-0}"
}

# --- the program --------------------------------------------------------------------------

# Qt must open the window on our X server, whatever desktop session the test is run from. In
# a sanitizer build, leaks inside the system libraries behind Qt's X11 platform are not ours.
lsan_options="suppressions=$here/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY="$display" PATH="$work/bin:$PATH" \
    LSAN_OPTIONS="$lsan_options" "$copied_program" >"$work/navlume.log" 2>&1 &
navlume_pid=$!
pids+=("$navlume_pid")
export DISPLAY="$display"

settings_file="$copy/Contents/settings.cfg"
settings_are() {
    [ -f "$settings_file" ] && [ "$(cat "$settings_file"; echo x)" = "$1x" ]
}
if wait_until 15 settings_are "$first_run_settings"; then
    pass "first start wrote settings.cfg in the bundle's Contents folder with the built-in values"
else
    fail "settings.cfg after the first start: $(cat "$settings_file" 2>/dev/null | tr '\n' ' ')"
fi

window_ids() {
    timeout 15 xdotool search --sync --onlyvisible --name '^Navlume$' 2>/dev/null
}
window=""
for candidate in $(window_ids); do
    # The one with the window's content width (Qt keeps other, invisible helper windows).
    eval "$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null)"
    if [ "${WIDTH:-0}" -eq "$content_width" ]; then
        window="$candidate"
        break
    fi
done
[ -n "$window" ] || fail_and_stop "no visible window \"Navlume\" $content_width wide appeared"

# The menu bar sits above the content area: the content is the bottom 160 points. Waits until
# the geometry has settled (the menu bar is added after the window is first shown).
geometry=""
geometry_settled() {
    local now
    now="$(xdotool getwindowgeometry --shell "$window" 2>/dev/null | tr '\n' ' ')"
    [ -n "$now" ] && [ "$now" = "$geometry" ] && return 0
    geometry="$now"
    sleep 0.2
    return 1
}
wait_until 10 geometry_settled || fail_and_stop "the window's geometry did not settle"
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

# --- type the replay server's port --------------------------------------------------------

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
if [ "$typed" = "$port" ]; then
    pass "the port field shows $port after typing (attempt $attempt)"
else
    fail_and_stop "the port field shows \"$typed\" after typing $port three times"
fi

# --- start tracking -----------------------------------------------------------------------

milliseconds() {
    date +%s%3N
}

click_at "$start_button_x" "$start_button_y"
started="$(milliseconds)"
if wait_until 20 eval '[ "$(scripts_recorded)" -ge "$scripts_wanted" ]'; then
    pass "$(scripts_recorded) viewer scripts reached osascript within $(($(milliseconds) - started)) ms of pressing Start"
else
    fail_and_stop "only $(scripts_recorded) viewer scripts reached osascript within 20 s of pressing Start"
fi

# --- the scripts --------------------------------------------------------------------------

# The positions of the sample track's $GPRMC sentences in signed decimal degrees, in order.
awk -F, '
    function degrees(value, hemisphere,    whole, result) {
        whole = int(value / 100)
        result = whole + (value - whole * 100) / 60
        return (hemisphere == "S" || hemisphere == "W") ? -result : result
    }
    /^\$GPRMC,/ { printf "%.9f %.9f\n", degrees($4, $5), degrees($6, $7) }
' "$sample_track" >"$work/positions"

# Prints the 1-based number of the first sentence after sentence `after` whose position is
# latitude, longitude (to within the last digit the script shows), or 0.
matching_sentence() {
    awk -v after="$1" -v latitude="$2" -v longitude="$3" '
        function near(a, b) { return (a > b ? a - b : b - a) < 1e-7 }
        NR > after && near($1, latitude + 0) && near($2, longitude + 0) { print NR; found = 1; exit }
        END { if (!found) print 0 }
    ' "$work/positions"
}

script_value() {
    sed -n "${2}p" "$1" | tr -d '\r' | sed -n "s/^$3 //p"
}

readonly plain_number='^-?[0-9]+(\.[0-9]+)?$'
previous_sentence=0
for number in $(seq 1 "$scripts_wanted"); do
    script="$work/scripts/$number"
    latitude="$(script_value "$script" 3 'set latitude of viewInfo To')"
    longitude="$(script_value "$script" 4 'set longitude of viewInfo To')"
    printf 'tell application "Google Earth"\r\nset viewInfo To GetViewInfo\r\nset latitude of viewInfo To %s\r\nset longitude of viewInfo To %s\r\nset distance of viewInfo To 500\r\nset tilt of viewInfo To 0\r\nSetViewInfo viewInfo speed 0.9\r\nEnd tell' \
        "$latitude" "$longitude" >"$work/expected-script"
    if [ -n "$latitude" ] && [ -n "$longitude" ] && cmp -s "$script" "$work/expected-script"; then
        pass "script $number: 8 lines joined by CR LF, tell application \"Google Earth\" ... End tell, distance 500"
    else
        fail "script $number is not the expected 8 lines: $(od -c "$script" | head -n 20)"
        continue
    fi
    if ! [[ "$latitude" =~ $plain_number && "$longitude" =~ $plain_number ]]; then
        fail "script $number: position \"$latitude\" / \"$longitude\" is not two plain numbers"
        continue
    fi
    if [ "$number" -eq 1 ]; then
        if [ "$latitude" = 48.1173000 ] && [ "$longitude" = 11.5166667 ]; then
            pass "script 1: 48.1173000 / 11.5166667, the track's first sentence (4807.0380,N 01131.0000,E)"
        else
            fail "script 1: $latitude / $longitude, expected 48.1173000 / 11.5166667"
        fi
        previous_sentence=1
        continue
    fi
    sentence="$(matching_sentence "$previous_sentence" "$latitude" "$longitude")"
    if [ "$sentence" -gt 0 ]; then
        pass "script $number: $latitude / $longitude, the track's \$GPRMC sentence $sentence"
        previous_sentence="$sentence"
    else
        fail "script $number: $latitude / $longitude matches no \$GPRMC sentence after number $previous_sentence"
    fi
done

# --- close the window ---------------------------------------------------------------------

if "$python" "$here/x11_client.py" close "$window"; then
    pass "sent WM_DELETE_WINDOW to the window (its close button)"
else
    fail "could not send WM_DELETE_WINDOW to window $window"
fi
if wait_until 15 eval '! is_running "$navlume_pid"'; then
    wait "$navlume_pid"
    status=$?
    if [ "$status" -eq 0 ]; then
        pass "the program ended with status 0 after the close button, while tracking"
    else
        fail "the program ended with status $status after the close button"
    fi
else
    fail "the program was still running 15 s after the close button"
fi

expected_settings=$'[Server]\nServer = 127.0.0.1\nPort = '"$port"$'\n[GE]\nZoom = 500\n'
if settings_are "$expected_settings"; then
    pass "settings.cfg holds the typed port $port after closing"
else
    fail "settings.cfg after closing: $(cat "$settings_file" 2>/dev/null | tr '\n' ' ')"
fi

summary_and_exit
