#!/usr/bin/env bash
# A copy of the bundle on a private X server, driven with mouse and keyboard, while a real log is
# played, stopped and played again; a stand-in "osascript" keeps the scripts. Scripts, settings and
# KML files against the golden files; one line per check, then "e2e: N passed, M failed".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"
logs=(navlume.log replay.out replay.err xvfb.log)
start_e2e "Xvfb, xdotool and python3-xlib" "$@" '"$python" -c "import Xlib" 2>/dev/null && command -v Xvfb xdotool >/dev/null'
log="$data/sirfstarv-nmea.log" replay_log="$log"
require "nmea_replay plays $(basename "$log")" start_replay "$log" 0

# The stand-in runner keeps each script it is given, numbered in the order of the runs.
mkdir -p "$work/bin" "$work/scripts"
printf '#!/bin/sh\nd="$(dirname "$0")/../scripts"\ncat >"$d/in" && mv "$d/in" "$d/$(ls "$d" | wc -l)"\n' \
    >"$work/bin/osascript" && chmod +x "$work/bin/osascript"
scripts() { ls "$work/scripts" | grep -c '^[0-9]*$'; }
# "latitude longitude" of script $1, from its lines 3 and 4.
script_position() { sed -n '3s/.* //p;4s/.* //p' "$work/scripts/$1" | tr -d '\r' | paste -sd ' '; }

# A session bus that is not there: no Marble to follow, and never the bus the test runs under.
start_navlume PATH="$work/bin:$PATH" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
check "the first start writes the golden settings.cfg in the bundle's Contents folder" \
    wait_until 15 cmp -s "$contents/settings.cfg" "$golden/first-run-settings.cfg.chk"

require "window \"Navlume\" is on screen with its menu bar" find_window
has_scripts() { [ "$(scripts)" -gt 0 ]; }
press_start "$port" has_scripts
require "viewer scripts reach osascript after typing port $port and pressing Start" \
    wait_until 20 eval '[ "$(scripts)" -ge 3 ]'

# The server goes away and comes back on the same port.
stop_process "$replay_pid"
check "with the server stopped the title says it retries" wait_until 10 eval \
    '[[ "$(xdotool getwindowname "$window")" =~ ^"Navlume - "(connection to|cannot connect to)" 127.0.0.1:$port"( lost)?", retrying in "[0-9.]+" s"$ ]]'
wait_until 10 settled 1 scripts # the first connection's last positions may still be on the way
first_run="$(scripts)"
require "nmea_replay is back on port $port" start_replay "$log" "$port"
last_position="$(last_of "$log")"
require "the viewer follows the restarted server to the log's end without a click" wait_until 40 \
    eval 'settled 1 scripts && [ "$(script_position "$(scripts)")" = "$last_position" ]'
last_script="$(scripts)"

# Scripts $1 to $2 are the golden script with the log's positions in order, some maybe skipped.
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

# Nothing moves the files now. The position file is the golden one with the last RMC's position,
# time, speed and course, and a trail of the run's first position (the receiver stands still).
IFS=, read -r _ time _ _ _ _ _ speed course date _ <<<"$(grep -E '^\$..RMC,' "$log" | tail -n 1)"
when="$((10#${date:4:2} >= 80 ? 19 : 20))${date:4:2}-${date:2:2}-${date:0:2}T${time:0:2}:${time:2:2}:${time:4}Z"
speed="$(LC_ALL=C awk -v knots="$speed" 'BEGIN { printf "%.1f", knots * 1.852 }')"
course="$(LC_ALL=C awk -v degrees="$course" 'BEGIN { printf "%.1f", degrees }')"
first_position="$(head -n 1 "$golden/$(basename "$log").chk")"
check "Navlume-position.kml is the golden one at the last position, with its time and trail" eval \
    'sed -e "s/^11\.516667,48\.117300,0\$/${first_position#* },${first_position% *},0/" \
        -e "s/48\.117300/${last_position% *}/g" -e "s/11\.516667/${last_position#* }/g" \
        -e "s/1994-03-23T12:35:19Z/$when/" -e "s|Speed 41.5 km/h, course 84.4|Speed $speed km/h, course $course|" \
        "$golden/navlume-position.kml.chk" | cmp -s - "$contents/Navlume-position.kml"'
check "Navlume.kml is the golden one, linking to the position file" link_file_in "$contents"

# A server that sends one sentence, then nothing for 100 s: after the real silence limit the
# program leaves it and says so (during each first pause: the server takes every connection).
stop_process "$replay_pid"
silent_since=$SECONDS
"$replay" "$log" --port "$port" --rate 0.01 >/dev/null 2>>"$work/replay.err" & replay_pid=$!
check "a server silent for 15 s is left, and the title says so" wait_until 45 eval \
    '[[ "$(xdotool getwindowname "$window")" =~ ^"Navlume - no data from 127.0.0.1:$port for 15 s, retrying in "[0-9.]+" s"$ ]]'
check "... not before 15 s have passed" [ $((SECONDS - silent_since)) -ge 15 ]
stop_process "$replay_pid" && replay_pid=""

press_close 15
check "the program ends with status 0 within 15 s of the close button, while tracking" [ "$status" = 0 ]
check "settings.cfg is the golden one with the typed port $port after closing" \
    settings_with_port "$contents/settings.cfg"
finish
