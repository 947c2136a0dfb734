#!/bin/sh
# A logout (SIGTERM) ends the program within a few seconds whatever window is open: the time signals
# (時報設定), the connection window (接続IP), the version box (a modal dialog), the library (DB操作)
# with its preview playing, and karaoke mode. The real program on the demo library, under Xvfb with
# openbox, started afresh for each.
# Usage: termination_desktop_test.sh TARV_EXECUTABLE SOURCE_DIR
set -eu
TARV=$1
SOURCE=$2
. "$SOURCE/tests/control/desktop.sh"
# Only the intro, the time signals and the first song's video are made, for speed.
mkdir -p "$TMP/app/src"
for n in $(seq 100002 100013); do : >"$TMP/app/src/$n"; done
make_demo_app

for pair in "ctrl+s:時報設定" "ctrl+n:接続IP" "alt+s a:バージョン情報"; do
    start_main
    open_window "${pair%%:*}" "${pair#*:}"
    end_tarv "${pair#*:}"
done

# The library window, a song double-clicked in its edit list: the preview plays it.
start_main
open_window "alt+o d" DB操作
library=$(xdotool search --onlyvisible --name '^DB操作$' | head -n 1)
xdotool windowactivate --sync "$library" 2>/dev/null || true
set -- $(xwininfo -id "$library" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } END { print x, y, w }')
# The first item of the edit list, near the top of the window's right half.
xdotool mousemove --window "$library" $(($3 * 57 / 100)) 129 click --repeat 2 --delay 80 1
# The preview's picture, right of that list: black until a video plays.
region="$(($3 / 5))x100+$(($1 + $3 * 3 / 4))+$(($2 + 130))"
playing() {
    import -window root "$TMP/library.png"
    share=$(colour_share "$TMP/library.png" "$region" black)
    above 0.5 "$share"
}
wait_for playing 100 || fail "the preview does not play (black share $share)"
end_tarv "the library window, its preview playing"

start_karaoke F1
end_tarv "karaoke mode"
echo "PASS"
