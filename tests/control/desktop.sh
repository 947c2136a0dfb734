# Shared by the desktop tests and the guide's screenshot script: a temporary folder, Xvfb (screen
# $SCREEN, 1280x720x24 unless set) with openbox, and waiting helpers. Sourced after TARV and SOURCE are
# set; sets TMP, DISPLAY and PIDS, and cleans up on exit.
TMP=$(mktemp -d)
PIDS=""
cleanup() {
    for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$TMP"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

Xvfb -displayfd 3 -screen 0 "${SCREEN:-1280x720x24}" -nolisten tcp 3>"$TMP/display" 2>/dev/null &
PIDS="$PIDS $!"
for _ in $(seq 50); do [ -s "$TMP/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$TMP/display")"
openbox >/dev/null 2>&1 &
PIDS="$PIDS $!"
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
export QT_QPA_PLATFORM=xcb

# Waits (up to $2 tenths of a second) for the shell test $1 to hold.
wait_for() {
    i=0
    while ! eval "$1"; do
        i=$((i + 1))
        [ "$i" -le "$2" ] || return 1
        sleep 0.1
    done
}

# Fraction (0 to 1) of the pixels of the region WxH+X+Y of a screenshot that are the colour $3.
colour_share() {
    convert "$1" -crop "$2" +repage -fuzz "${4:-3%}" -fill white -opaque "$3" -fill black +opaque white \
        -format '%[fx:mean]' info:
}
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
