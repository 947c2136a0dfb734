# Shared by the desktop tests and the guide's screenshot script: a temporary folder, Xvfb (screen
# $SCREEN, 1280x720x24 unless set) with openbox, waiting helpers, and starting the program in karaoke
# mode. Sourced after TARV and SOURCE are set; sets TMP, DISPLAY and PIDS, and cleans up on exit.
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

# Makes the demo library in $TMP/app (what is there already is kept) with its guest pages on any free
# port, so that parallel tests never meet on one; $QUEUE is its published queue file.
make_demo_app() {
    sh "$SOURCE/scripts/make-demo-library.sh" "$TMP/app" >/dev/null
    printf '0' >"$TMP/app/db/webport.txt"
    QUEUE="$TMP/app/www/cgi-bin/tarv/tarvlist.txt"
}

# start_karaoke KEY [COMMAND...]: starts the program on $TMP/app (run by COMMAND, for example faketime,
# when given), presses KEY (F1, or F4 with time signals) in its main window and waits until karaoke
# mode has opened, which empties the published queue file. $TARV_PID is the program's process.
start_karaoke() {
    key=$1
    shift
    rm -f "$QUEUE"
    "$@" "$TARV" --app-dir "$TMP/app" >"$TMP/tarv.log" 2>&1 &
    TARV_PID=$!
    PIDS="$PIDS $TARV_PID"
    wait_for "xdotool search --onlyvisible --name '^Tarv\$' >/dev/null 2>&1" 100 || fail "no main window"
    main=$(xdotool search --onlyvisible --name '^Tarv$' | head -n 1)
    # On a loaded machine the key may come before the window has the focus: give it the focus first,
    # and press the key again when nothing happened.
    for attempt in 1 2 3; do
        xdotool windowactivate --sync "$main" 2>/dev/null || true
        sleep 0.5
        xdotool key "$key"
        wait_for "[ -f '$QUEUE' ]" 100 && return 0
    done
    fail "karaoke mode did not start: $(tail -3 "$TMP/tarv.log")"
}

# The port the running program serves the guest pages on, from its log (empty when it serves none).
guest_port() { sed -n 's/.*guest pages on port \([0-9]*\).*/\1/p' "$TMP/tarv.log" | head -n 1; }
