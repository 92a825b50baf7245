#!/usr/bin/env bash
# try-window.sh [SCREENSHOT.png]
# Starts the Windows build's scorlet.exe under Wine on a virtual X display of 1920 by 1080
# pixels and checks what the window shows on Linux: its title, and 960 by 540 pixels at
# 480, 270 (the frame's corner, as Qt places it). With an argument it also saves a screenshot of
# the display (ImageMagick's import). Uses the Wine prefix of the caller, else a throw-away one.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$source_root/build-windows}
screenshot=${1:-}

if [[ -z ${SCORLET_ON_DISPLAY:-} ]]; then
    [[ -n ${WINEPREFIX:-} ]] || source "$here/wineprefix.sh"
    # -a picks a free display number; the script runs again inside it.
    SCORLET_ON_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$@"
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
title="Plexa Exporter. Powered by Zentriq for Dunmere. Version $version"
export WINEDEBUG=${WINEDEBUG:--all}
# A Wine session begun without this display (the tests, the installer) would still be serving
# the prefix and lend the window its own screen of 1024 by 768: end it first.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wine "$build/scorlet.exe" &
window=
for _ in $(seq 120); do
    window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -1 || true)
    [[ -n $window ]] && break
    sleep 0.5
done
fail() {
    echo "try-window.sh: $*" >&2
    wineserver -k || true
    exit 1
}
[[ -n $window ]] || fail "no window titled \"$title\" within a minute"
sleep 2
info=$(xwininfo -id "$window")
x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
width=$(sed -n 's/^ *Width: *//p' <<<"$info")
height=$(sed -n 's/^ *Height: *//p' <<<"$info")
echo "scorlet.exe: \"$title\", $width x $height at $x, $y"
wineserver -k || true
wineserver -w || true
if [[ -n $screenshot ]]; then
    # Without a window manager nobody draws the title bar; for the picture Wine draws its own.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    wine "$build/scorlet.exe" &
    sleep 8
    import -window root -crop 1000x600+460+240 +repage "$screenshot"
    echo "try-window.sh: screenshot in $screenshot"
    wineserver -k || true
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null
fi
# The X window is the client area; Wine draws the frame and title bar around it, above and to the
# left of it, so that the frame's corner stands at 480, 270.
((width == 960 && height == 540)) || fail "the window is $width x $height, not 960 x 540"
((x >= 480 && x <= 490 && y >= 270 && y <= 310)) ||
    fail "the window's client area is at $x, $y, not just inside a frame at 480, 270"
