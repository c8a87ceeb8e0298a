#!/usr/bin/env bash
# The Debian package as a user meets it: made, installed and checked by desktop-file-validate,
# appstreamcli and lintian; nobody starts /usr/bin/navlume, tracks and closes, the files going to
# ~/.config/navlume. Removed at the end, also after a failure. Needs root (or sudo).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
golden="$root/tests/data" log="$root/data/sirfstarv-nmea.log"
replay="$root/build-package/tools/nmea_replay"
bundle=/usr/lib/navlume/Navlume.app
source "$root/tests/e2e/e2e_common.sh"
summary=package logs=(package.log install.log lintian.log navlume.log replay.err xvfb.log)
home="" installed=""
as_root=() && [ "$(id -u)" -ne 0 ] && as_root=(sudo)

apt() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600 "$@"; }
remove_package() { apt remove navlume >>"$work/install.log" 2>&1 && installed=""; }

cleanup_more() { [ -z "$installed" ] || remove_package; [ -z "$home" ] || "${as_root[@]}" rm -rf "$home"; }

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

require "a private X server is up" start_xvfb
require "nmea_replay plays $(basename "$log")" start_replay "$log" 0

# Started as a desktop starts it: nothing but HOME, the display and a plain PATH.
"${as_root[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$home" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin /usr/bin/navlume \
    >"$work/navlume.log" 2>&1 & navlume_pid=$!
check "the first start makes ~/.config/navlume (mode 700, nobody's) with the golden settings.cfg" eval \
    'wait_until 15 cmp -s "$folder/settings.cfg" "$golden/first-run-settings.cfg.chk" &&
     [ "$(stat -c %a:%U "$folder")" = 700:nobody ]'

require "window \"Navlume\" is on screen" find_window
positions() { [ -f "$folder/Navlume-position.kml" ]; }
replay_log="$log"
require "after typing port $port and pressing Start, positions reach ~/.config/navlume" \
    eval 'press_start "$port" positions && wait_until 20 positions'
check "Navlume.kml links to the position file in ~/.config/navlume" wait_until 10 link_file_in "$folder"

press_close 15
check "the program ends with status 0 after the close button" [ "$status" = 0 ]
check "~/.config/navlume/settings.cfg holds the typed port $port" settings_with_port "$folder/settings.cfg"
check "nothing was written into the installed bundle" \
    eval '[ -z "$(find "$bundle" -name "*.cfg" -o -name "*.kml" -o -name ".*tmp*")" ]'
check "apt-get removes the package, /usr/bin/navlume with it" eval 'remove_package && [ ! -e /usr/bin/navlume ]'
finish
