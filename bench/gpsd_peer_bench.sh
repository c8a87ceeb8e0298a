#!/usr/bin/env bash
# Navlume beside gpsd's own KML client, on one gpsd stream: gpsfake starts a real gpsd that
# plays a receiver's log (a fix throughout) at 0.01 s a sentence; gegps (gpsd-clients) keeps
# its Realtime_GPS.kml for Google Earth, and a copy of the built Navlume bundle on a private X
# server keeps Navlume-position.kml and paints its labels. Both run side by side against the
# same gpsd; over the same span of each run the processor time of each process (all its
# threads, from /proc/PID/task/*/schedstat) is taken, and the ratio printed. There is no
# osascript on the PATH the program is given, as on any machine but a Mac. For scale, a third
# client on the same stream (bench/gpsd_minimal_reader, built beside the program when present)
# does no more than block in recv() for each of gpsd's NMEA writes.
#
# usage: bench/gpsd_peer_bench.sh NAVLUME_EXECUTABLE [SOURCE_DIR] [SECONDS] [RUNS]
# Needs Xvfb, xdotool, gpsd and gpsd-clients (scripts/install-deps). Every process it starts is
# ended; every wait is bounded.
set -uo pipefail

[ $# -ge 1 ] || { echo "usage: $0 NAVLUME_EXECUTABLE [SOURCE_DIR] [SECONDS] [RUNS]" >&2; exit 2; }
program="$1"
source_dir="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
span="${3:-10}" runs="${4:-3}"
log="$source_dir/data/quectel-l76k-nmea.log"
readonly content_height=160 start_x=120 start_y=92 cycle=0.01
work="" xvfb_pid="" gpsfake_pid="" navlume_pid="" gegps_pid="" reader_pid=""

fail() { echo "gpsd_peer_bench: $*" >&2; exit 1; }
wait_until() {
    local end=$((SECONDS + $1))
    until "${@:2}"; do [ "$SECONDS" -lt "$end" ] && sleep 0.1 || return 1; done
}
stop_process() {
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null && { wait_until 5 eval "! kill -0 $1 2>/dev/null" || kill -KILL "$1" 2>/dev/null; }
    wait "$1" 2>/dev/null
}
cleanup() {
    stop_process "$reader_pid"; stop_process "$gegps_pid"; stop_process "$navlume_pid"; stop_process "$gpsfake_pid"
    stop_process "$xvfb_pid"; [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

for tool in Xvfb xdotool gpsfake gegps gpsd python3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps)"
done
bundle="$(cd "$(dirname "$program")/../.." && pwd)"
[ -x "$program" ] && [ "${bundle##*.}" = app ] || fail "$program lies in no application bundle"
[ -r "$log" ] || fail "no log $log"
reader="$bundle/../bench/gpsd_minimal_reader"
[ -x "$reader" ] || reader=""
work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-peer.XXXXXX")" || exit 1

# Processor time of a process in nanoseconds: the sum over its threads.
cpu_ns() {
    local total=0 value
    for stat in /proc/"$1"/task/*/schedstat; do
        read -r value _ <"$stat" 2>/dev/null && total=$((total + value))
    done
    echo "$total"
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Seconds since a file last changed; a large number when it does not exist.
file_age() { [ -e "$1" ] && python3 -c 'import os,sys,time; print("%.2f" % (time.time()-os.stat(sys.argv[1]).st_mtime))' "$1" || echo 999; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 & xvfb_pid=$!
wait_until 10 grep -q '^[0-9]' "$work/display" || fail "no X server"
export DISPLAY=":$(head -n 1 "$work/display")"

one_run() {
    local port contents gegps_dir X=0 Y=0 WIDTH=0 HEIGHT=0 window
    port="$(free_port)"
    rm -rf "$work/run" && mkdir -p "$work/run/gegps" "$work/run/bin"
    cp -R "$bundle" "$work/run/" || return 1
    contents="$(cd "$work/run/$(basename "$bundle")/Contents" && pwd -P)"
    rm -f "$contents/"{settings.cfg,*.kml}
    printf '[Server]\nServer = 127.0.0.1\nPort = %s\n[GE]\nZoom = 500\n' "$port" >"$contents/settings.cfg"
    gegps_dir="$work/run/gegps"

    # gpsd from gpsfake; it starts playing when the first client has connected.
    gpsfake -q -c "$cycle" -P "$port" "$log" >"$work/gpsfake.log" 2>&1 & gpsfake_pid=$!
    wait_until 15 python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1",int(sys.argv[1])),1).close()' "$port" 2>/dev/null ||
        { echo "gpsd did not come up" >&2; return 1; }

    env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb PATH="$work/run/bin:/usr/bin:/bin" \
        "$contents/MacOS/$(basename "$program")" >"$work/navlume.log" 2>&1 & navlume_pid=$!
    for window in $(timeout 15 xdotool search --sync --onlyvisible --name '^Navlume$'); do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        [ "$WIDTH" -eq 260 ] && break
    done
    sleep 1 && eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --sync $((X + start_x)) $((Y + HEIGHT - content_height + start_y)) click 1
    wait_until 15 test -e "$contents/Navlume-position.kml" || { echo "Navlume showed no position" >&2; return 1; }

    gegps --host 127.0.0.1 --port "$port" -d "$gegps_dir" >"$work/gegps.log" 2>&1 & gegps_pid=$!
    wait_until 15 test -e "$gegps_dir/Realtime_GPS.kml" || { echo "gegps wrote no KML file" >&2; return 1; }
    [ -z "$reader" ] || { "$reader" "$port" >/dev/null 2>&1 & reader_pid=$!; }
    sleep 1

    local navlume_before gegps_before navlume_after gegps_after started ended reader_before=0 reader_after=0
    started="$(date +%s.%N)"
    navlume_before="$(cpu_ns "$navlume_pid")" gegps_before="$(cpu_ns "$gegps_pid")"
    [ -z "$reader_pid" ] || reader_before="$(cpu_ns "$reader_pid")"
    sleep "$span"
    navlume_after="$(cpu_ns "$navlume_pid")" gegps_after="$(cpu_ns "$gegps_pid")"
    [ -z "$reader_pid" ] || reader_after="$(cpu_ns "$reader_pid")"
    ended="$(date +%s.%N)"
    kill -0 "$gegps_pid" 2>/dev/null && kill -0 "$navlume_pid" 2>/dev/null ||
        { echo "gegps or Navlume ended during the span" >&2; return 1; }
    local navlume_age gegps_age
    navlume_age="$(file_age "$contents/Navlume-position.kml")" gegps_age="$(file_age "$gegps_dir/Realtime_GPS.kml")"

    stop_process "$reader_pid"; reader_pid=""
    stop_process "$gegps_pid"; gegps_pid=""
    stop_process "$navlume_pid"; navlume_pid=""
    stop_process "$gpsfake_pid"; gpsfake_pid=""
    python3 - "$started" "$ended" "$navlume_before" "$navlume_after" "$gegps_before" "$gegps_after" \
        "$navlume_age" "$gegps_age" "$reader_before" "$reader_after" <<'EOF'
import sys
start, end, nb, na, gb, ga, n_age, g_age, rb, ra = map(float, sys.argv[1:])
navlume, gegps, reader = (na - nb) / 1e6, (ga - gb) / 1e6, (ra - rb) / 1e6
print("  over %.1f s: Navlume %7.1f ms, gegps %7.1f ms, Navlume / gegps %.2f x "
      "(KML files last changed %.2f s and %.2f s before the end); minimal NMEA reader %.1f ms"
      % (end - start, navlume, gegps, navlume / gegps if gegps > 0 else 0, n_age, g_age, reader))
EOF
}

echo "processor time beside gegps: gpsd (gpsfake) plays $(basename "$log") at $cycle s a sentence to both, side by side; Navlume on Xvfb, no osascript"
for run in $(seq 1 "$runs"); do
    one_run || fail "run $run failed (logs in $work)"
done
echo "  aim: Navlume at most 0.5 x gegps"
