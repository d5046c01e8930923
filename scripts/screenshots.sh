#!/usr/bin/env bash
# Photographs the real window under Xvfb with a small window manager (for
# the title bar): docs/main-window.png as started, docs/connected.png after
# choosing the simulated board and connecting. Needs twm, xdotool and
# ImageMagick (apt-get install twm xdotool imagemagick) and a built tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${SCREENSHOT_INNER:-}" ]; then
    SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 640x400x24" "$0"
fi

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\n' >"$work/twmrc"
twm -f "$work/twmrc" >/dev/null 2>&1 &

build/tools/boardsim/aux-board-sim --pages 300 >"$work/port" &
until [ -s "$work/port" ]; do sleep 0.1; done
AUX_NVRAM_EXTRA_PORTS=$(head -n1 "$work/port") TMPDIR="$work" build/src/aux-nvram &
wid=$(xdotool search --sync --name "AUX NVRAM - 01.00.2" | head -n1)
sleep 1 # let the window paint
shot() { import -window root "$work/root.png"; convert "$work/root.png" -crop 484x304+49+23 +repage "$1"; }
shot docs/main-window.png

xdotool mousemove --window "$wid" 320 22 click 1 sleep 0.5 key End Return
xdotool mousemove --window "$wid" 315 50 click 1
sleep 2 # the greeting comes on the first 750 ms tick
shot docs/connected.png
