#!/bin/sh
# Makes the guide's screenshots from the real program: Tarv on a demo library, under Xvfb with openbox,
# driven by xdotool and photographed with ImageMagick's import. The PNGs go into build/docs/ and are
# never committed; the guide links them from there.
# Usage: sh docs/make-screenshots.sh [TARV_EXECUTABLE [OUT_DIR]]   (default: build/tarv, build/docs)
#        SHOTS="library_window karaoke_strip" sh docs/make-screenshots.sh   makes only those shots
# Needs: xvfb openbox xdotool x11-utils imagemagick ffmpeg fonts-noto-cjk (Debian packages).
#
# One function per shot: shot_NAME brings its window on screen and calls "capture FILE WINDOW" (a window
# id, or "root" for the whole screen) or "capture_from_main FILE W H", which write build/docs/FILE.png.
# To add a shot, write its function and add NAME to SHOTS. The docs test checks that every image the
# guide shows is captured here.
set -eu
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
TARV=$(realpath "${1:-$SOURCE/build/tarv}")
OUT=${2:-$SOURCE/build/docs}
SHOTS="${SHOTS:-first_start main_window option_menu library_window karaoke_strip empty_idle_screen time_signal_window connection_window}"

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
TARV_PID=""
# A taller screen than the tests', so that the library window fits whole.
SCREEN=1280x800x24
. "$SOURCE/tests/control/desktop.sh"
[ -x "$TARV" ] || fail "no program at $TARV (cmake --build build --target tarv)"

# The id of the visible window titled exactly $1.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }

# Starts Tarv on the application folder $1 and waits for its main window; $MAIN is its id.
start_tarv() {
    "$TARV" --app-dir "$1" >"$TMP/tarv.log" 2>&1 &
    TARV_PID=$!
    PIDS="$PIDS $TARV_PID"
    wait_for '[ -n "$(window Tarv)" ]' 150 || fail "no main window: $(tail -5 "$TMP/tarv.log")"
    MAIN=$(window Tarv)
    xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
    sleep 1
}

stop_tarv() { end_tarv "the shot's window"; }

# capture FILE WINDOW: writes OUT/FILE.png.
capture() {
    import -window "$2" "$OUT/$1.png"
    echo "$OUT/$1.png"
}

# capture_from_main FILE W H: the screen's W x H pixels from the main window's top left corner, as
# OUT/FILE.png (shows menus, which are windows of their own).
capture_from_main() {
    corner=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print "+" x "+" y }')
    import -window root -crop "$2x$3$corner" +repage "$OUT/$1.png"
    echo "$OUT/$1.png"
}

# The main window of a first start in an empty folder, with its notice.
shot_first_start() {
    start_tarv "$TMP/empty"
    capture first-start "$MAIN"
    stop_tarv
}

# The main window on the demo library.
shot_main_window() {
    start_tarv "$TMP/demo"
    capture main-window "$MAIN"
    stop_tarv
}

# The main window with its オプション menu open.
shot_option_menu() {
    start_tarv "$TMP/demo"
    xdotool key alt+o
    sleep 1
    capture_from_main option-menu 480 220
    xdotool key Escape
    stop_tarv
}

# The library window "DB操作", opened from the menu.
shot_library_window() {
    start_tarv "$TMP/demo"
    xdotool key alt+o
    sleep 0.5
    xdotool key d
    wait_for '[ -n "$(window DB操作)" ]' 100 || fail "the library window did not open"
    library=$(window DB操作)
    xdotool windowmove --sync "$library" 0 0 2>/dev/null || true
    sleep 1.5
    capture library-window "$library"
    stop_tarv
}

# Karaoke mode: F1, a song reserved on the keypad once the intro has ended, the status strip over the song.
shot_karaoke_strip() {
    queue="$TMP/demo/www/cgi-bin/tarv/tarvlist.txt"
    rm -f "$queue"
    start_tarv "$TMP/demo"
    xdotool key F1
    wait_for "[ -f '$queue' ]" 100 || fail "karaoke mode did not start"
    sleep 6
    xdotool key --delay 50 1 0 0 0 0 2 Return
    sleep 1.5
    capture karaoke-strip root
    xdotool key Escape
    stop_tarv
}

# Karaoke mode on an empty library (no intro video, no songs): the built-in idle picture.
shot_empty_idle_screen() {
    rm -rf "$TMP/empty-karaoke"
    mkdir -p "$TMP/empty-karaoke"
    start_tarv "$TMP/empty-karaoke"
    xdotool key Return # the first start's notice
    sleep 0.5
    xdotool windowactivate --sync "$MAIN" key F1 2>/dev/null || xdotool key F1
    sleep 7
    capture empty-idle-screen root
    xdotool key Escape
    stop_tarv
}

# open_by_shortcut KEYS TITLE: starts Tarv on the demo library, presses KEYS in its main window and
# waits for the window titled TITLE, moved to the top left; $OPENED is its id.
open_by_shortcut() {
    start_tarv "$TMP/demo"
    xdotool key "$1"
    wait_for "[ -n \"\$(window '$2')\" ]" 100 || fail "the window $2 did not open"
    OPENED=$(window "$2")
    xdotool windowmove --sync "$OPENED" 0 0 2>/dev/null || true
    sleep 1.5
}

# The time-signal window "時報設定" (Ctrl+S).
shot_time_signal_window() {
    open_by_shortcut ctrl+s 時報設定
    capture time-signal-window "$OPENED"
    stop_tarv
}

# The connection window "接続IP" with the guests' address and its QR code (Ctrl+N).
shot_connection_window() {
    open_by_shortcut ctrl+n 接続IP
    capture connection-window "$OPENED"
    stop_tarv
}

echo "Preparing the demo library..."
sh "$SOURCE/scripts/make-demo-library.sh" "$TMP/demo" >/dev/null
# Any free port for the guest pages, so that a program already serving 8080 does not get in the way.
printf '0' >"$TMP/demo/db/webport.txt"
mkdir -p "$TMP/empty"

for shot in $SHOTS; do
    "shot_$shot"
done
