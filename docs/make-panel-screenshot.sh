#!/usr/bin/env bash
# Makes docs/panel.png: the real window on the xcb platform under Xvfb, connected to the
# built-in emulator, photographed once the link is up.
#   docs/make-panel-screenshot.sh [PROGRAM [OUTPUT]]
# Needs xvfb, xauth, xdotool and imagemagick (build.sh screenshot installs them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/app/qz81kt-dxp}
output=${2:-$here/panel.png}
[[ -x $program ]] || { echo "no program at $program: build first" >&2; exit 1; }

if [[ -z ${QZ81KT_IN_XVFB:-} ]]; then
    export QZ81KT_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$program" "$output"
fi

export QT_QPA_PLATFORM=xcb
"$program" --emulate &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null' EXIT
win=""
for _ in $(seq 100); do
    win=$(xdotool search --name '^QZ-81KT DXP$' 2>/dev/null | head -1) && [[ -n $win ]] && break
    sleep 0.1
done
[[ -n $win ]] || { echo "the window did not appear" >&2; exit 1; }
sleep 0.5
# Enter runs Connect (the default button); the link comes up on the first tick after
# the first status reply.
xdotool windowfocus --sync "$win" key Return
sleep 2
eval "$(xdotool getwindowgeometry --shell "$win")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$output"
echo "wrote $output (${WIDTH}x${HEIGHT})"
