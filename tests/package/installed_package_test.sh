#!/usr/bin/env bash
# The Debian package as a user meets it: scripts/package makes it, apt-get installs it, and an
# ordinary user (nobody, with a home of its own) starts /usr/bin/navlume on a private X server,
# types the replay server's port, presses Start and closes the window. The installed bundle
# cannot be written, so the settings and both KML files must be in ~/.config/navlume. The
# package must pass desktop-file-validate, appstreamcli and lintian (no errors), and is removed
# again at the end, also after a failure. Needs root (or sudo). One line per check, then
# "package: N passed, M failed"; non-zero exit on a failure. Every wait is bounded.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
golden="$root/tests/data" log="$root/data/sirfstarv-nmea.log"
replay="$root/build-package/tools/nmea_replay"
bundle=/usr/lib/navlume/Navlume.app
# The centres of the port field and the Start button in the window's content area.
readonly content_width=260 content_height=160 port_x=130 port_y=52 start_x=120 start_y=92
passed=0 failed=0 work="" home="" xvfb_pid="" replay_pid="" navlume_pid="" installed=""
as_root=() && [ "$(id -u)" -ne 0 ] && as_root=(sudo)

# check DESCRIPTION COMMAND...: one line, ok or FAIL, and the command's success.
check() {
    if "${@:2}"; then passed=$((passed + 1)) && echo "ok:   $1"; else failed=$((failed + 1)) && echo "FAIL: $1" && return 1; fi
}
finish() {
    for file in package.log install.log lintian.log navlume.log replay.err xvfb.log; do
        [ "$failed" -gt 0 ] && [ -s "$work/$file" ] && echo "---- $file" && tail -n 20 "$work/$file"
    done
    echo "package: $passed passed, $failed failed" && exit $((failed > 0))
}
require() { check "$@" || finish; } # a check that the rest depends on
wait_until() {
    local end=$((SECONDS + $1))
    until "${@:2}"; do [ "$SECONDS" -lt "$end" ] && sleep 0.1 || return 1; done
}
settled() { local before && before="$("${@:2}")" && sleep "$1" && [ -n "$before" ] && [ "$("${@:2}")" = "$before" ]; }
stop_process() {
    [ -z "$1" ] || { kill -TERM "$1" 2>/dev/null && { wait_until 5 eval "! kill -0 $1 2>/dev/null" || kill -KILL "$1"; }; wait "$1" 2>/dev/null; }
}
apt() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600 "$@"; }
remove_package() { apt remove navlume >>"$work/install.log" 2>&1 && installed=""; }

cleanup() {
    stop_process "$navlume_pid"; stop_process "$replay_pid"; stop_process "$xvfb_pid"
    [ -z "$installed" ] || remove_package
    [ -z "$home" ] || "${as_root[@]}" rm -rf "$home"
    [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

work="$(mktemp -d "${TMPDIR:-/tmp}/navlume-package.XXXXXX")" || finish
deb="$(bash "$root/scripts/package" 2>"$work/package.log" | tail -n 1)"
require "scripts/package makes navlume_<version>_<arch>.deb" \
    eval '[[ "$(basename "$deb")" =~ ^navlume_[0-9.]+_[a-z0-9]+\.deb$ ]] && [ -f "$deb" ]'
installed=yes
require "apt-get installs it" eval 'apt install --reinstall "$deb" >"$work/install.log" 2>&1'
check "/usr/bin/navlume leads to the bundle in /usr/lib/navlume" \
    eval '[ -L /usr/bin/navlume ] && [ "$(readlink -f /usr/bin/navlume)" = "$bundle/Contents/MacOS/Navlume" ]'
check "the package depends on Qt (dpkg-shlibdeps), recommends gpsd, suggests Marble" eval \
    '[[ "$(dpkg-query -W -f="\${Depends}" navlume)" == *libqt6widgets6* ]] &&
     [ "$(dpkg-query -W -f="\${Recommends}|\${Suggests}" navlume)" = "gpsd|marble-qt | marble" ]'
check "desktop-file-validate accepts the desktop entry" \
    desktop-file-validate /usr/share/applications/navlume.desktop
check "appstreamcli accepts the metainfo" eval \
    'appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1'
lintian "$deb" >"$work/lintian.log" 2>&1
lintian_status=$?
check "lintian runs and finds no errors" eval '[ "$lintian_status" = 0 ] && ! grep -q "^E:" "$work/lintian.log"'
grep '^[EW]:' "$work/lintian.log"

# The user: nobody, with an empty home of its own, which nobody else can enter.
home="$(mktemp -d /tmp/navlume-package-home.XXXXXX)" && "${as_root[@]}" chown nobody:nogroup "$home"
folder="$home/.config/navlume"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 & xvfb_pid=$!
require "a private X server is up" wait_until 10 grep -q '^[0-9]' "$work/display"
export DISPLAY=":$(head -n 1 "$work/display")"

"$replay" "$log" --port 0 --rate 100 --once >"$work/replay.out" 2>"$work/replay.err" & replay_pid=$!
require "nmea_replay plays $(basename "$log")" eval 'wait_until 10 grep -q "^listening on " "$work/replay.out" &&
    port="$(sed -n "s/^listening on 127\.0\.0\.1:\([0-9]*\)\$/\1/p" "$work/replay.out")" && [ -n "$port" ]'

# Started as a desktop starts it: nothing but HOME, the display and a plain PATH.
"${as_root[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$home" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin /usr/bin/navlume \
    >"$work/navlume.log" 2>&1 & navlume_pid=$!
check "the first start makes ~/.config/navlume (mode 700, nobody's) with the golden settings.cfg" eval \
    'wait_until 15 cmp -s "$folder/settings.cfg" "$golden/first-run-settings.cfg.chk" &&
     [ "$(stat -c %a:%U "$folder")" = 700:nobody ]'

X=0 Y=0 WIDTH=0 HEIGHT=0
for window in $(timeout 15 xdotool search --sync --onlyvisible --name '^Navlume$'); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" -eq "$content_width" ] && break
done
wait_until 10 settled 0.2 xdotool getwindowgeometry --shell "$window"
eval "$(xdotool getwindowgeometry --shell "$window")"
require "window \"Navlume\" is on screen" eval '[ "$WIDTH" -eq "$content_width" ] && [ "$HEIGHT" -ge "$content_height" ]'
click_at() { xdotool mousemove --sync $((X + $1)) $((Y + HEIGHT - content_height + $2)) click 1; }

positions() { [ -f "$folder/Navlume-position.kml" ]; }
for attempt in 1 2 3; do
    click_at "$port_x" "$port_y" && sleep 0.2 && xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 60 "$port" && sleep 0.2 && click_at "$start_x" "$start_y"
    wait_until 10 positions && break
    click_at "$start_x" "$start_y" # Stop: the typing went astray
done
require "after typing port $port and pressing Start, positions reach ~/.config/navlume" \
    wait_until 20 positions
check "Navlume.kml links to the position file in ~/.config/navlume" eval \
    'wait_until 10 eval "sed \"s|@HREF@|file://$folder/Navlume-position.kml|\" \"$golden/navlume.kml.chk\" |
        cmp -s - \"$folder/Navlume.kml\""'

# The close button: a WM_DELETE_WINDOW client message, as a window manager sends it.
/usr/bin/python3 -c 'import sys; from Xlib import X, display, protocol
c = display.Display(); w = c.create_resource_object("window", int(sys.argv[1])); a = c.intern_atom
w.send_event(protocol.event.ClientMessage(window=w, client_type=a("WM_PROTOCOLS"),
             data=(32, [a("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])), event_mask=0); c.sync()' "$window"
status="still running"
wait_until 15 eval '! kill -0 "$navlume_pid" 2>/dev/null' && { wait "$navlume_pid"; status=$? navlume_pid=""; }
check "the program ends with status 0 after the close button" [ "$status" = 0 ]
check "~/.config/navlume/settings.cfg holds the typed port $port" eval \
    'sed "s/^Port = 10000\$/Port = $port/" "$golden/first-run-settings.cfg.chk" | cmp -s - "$folder/settings.cfg"'
check "nothing was written into the installed bundle" \
    eval '[ -z "$(find "$bundle" -name "*.cfg" -o -name "*.kml" -o -name ".*tmp*")" ]'
check "apt-get removes the package, /usr/bin/navlume with it" eval 'remove_package && [ ! -e /usr/bin/navlume ]'
finish
