#!/bin/sh
# Every window of the program opens wholly on a small screen, as openbox places it: the main window,
# the library (DB操作), the time signals (時報設定) and the connection window (接続IP), at 1280x720 and
# at 1024x768.
# Usage: windows_fit_desktop_test.sh TARV_EXECUTABLE SOURCE_DIR SCREEN   (SCREEN: 1280x720x24, ...)
set -eu
TARV=$1
SOURCE=$2
SCREEN=$3
. "$SOURCE/tests/control/desktop.sh"
make_demo_app

start_main
# Each window from the main window's keys, waited for before the next.
open_window ctrl+s 時報設定
open_window ctrl+n 接続IP
open_window "alt+o d" DB操作

width=${SCREEN%%x*}
rest=${SCREEN#*x}
height=${rest%%x*}
for name in Tarv DB操作 時報設定 接続IP; do
    wait_for "xdotool search --onlyvisible --name '^$name\$' >/dev/null 2>&1" 50 || fail "$name did not open"
    id=$(xdotool search --onlyvisible --name "^$name\$" | head -n 1)
    # The frame openbox drew around the window: its parent's geometry.
    frame=$(xwininfo -tree -id "$id" | awk '/Parent window id/ { print $4 }')
    geometry=$(xwininfo -id "$frame" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, x + w, y + h }')
    set -- $geometry
    [ "$1" -ge 0 ] && [ "$2" -ge 0 ] && [ "$3" -le "$width" ] && [ "$4" -le "$height" ] ||
        { import -window root "$TMP/screen.png"; cp "$TMP/screen.png" "/tmp/windows-fit-$SCREEN.png" 2>/dev/null || true
          fail "$name reaches past the $SCREEN screen: frame from ($1,$2) to ($3,$4)"; }
done
end_tarv "every window"
echo "PASS"
