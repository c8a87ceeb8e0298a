#!/usr/bin/env bash
# Runs marble_move_bench ($1) on a private session bus, first with a real Marble on it (on a
# private X server, in a network namespace where the machine allows it), then with that Marble
# ended. Everything started is ended again.
set -uo pipefail
bench="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-marble-bench.XXXXXX")"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
wait_for() { local i; for i in $(seq 300); do "$@" && return 0; sleep 0.1; done; return 1; }
dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" --print-address=3 \
    3>"$work/bus.address" >/dev/null 2>&1 & pids+=($!)
wait_for grep -q '^unix:' "$work/bus.address" || { echo "no session bus" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus.address")"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & pids+=($!)
wait_for grep -q '^[0-9]' "$work/display" || { echo "no X server" >&2; exit 1; }
isolate=()
unshare --net true 2>/dev/null && isolate=(unshare --net)
mkdir -p "$work/home" "$work/runtime" && chmod 700 "$work/runtime"
DISPLAY=":$(head -n 1 "$work/display")" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox \
    "${isolate[@]}" marble-qt >/dev/null 2>&1 & marble=$!
pids+=("$marble")
owned() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.kde.marble 2>/dev/null | grep -q true; }
wait_for owned || { echo "Marble did not come up" >&2; exit 1; }
sleep 2 # let it finish starting
QT_QPA_PLATFORM=offscreen "$bench"
kill "$marble" && wait "$marble" 2>/dev/null
QT_QPA_PLATFORM=offscreen "$bench"
