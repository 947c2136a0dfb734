# Shared by the desktop tests and the guide's screenshot script: a temporary folder, Xvfb (screen
# $SCREEN, 1280x720x24 unless set) with openbox, waiting helpers, and starting the program in karaoke
# mode. Sourced after TARV and SOURCE are set; sets TMP, DISPLAY and PIDS, and cleans up on exit.
# A test ends each program it started with end_tarv, which fails unless the program ends when told.
TMP=$(mktemp -d)
PIDS=""
# Whether the process $1 still runs (one that ended and was not waited for yet does not).
running() {
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
    case $state in Z*) return 1 ;; esac
}
cleanup() {
    for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
    # Whatever did not end within 5 s is killed: nothing is left running after the test.
    for _ in $(seq 50); do
        alive=""
        for pid in $PIDS; do running "$pid" && alive="$alive $pid"; done
        [ -n "$alive" ] || break
        sleep 0.1
    done
    for pid in $alive; do kill -KILL "$pid" 2>/dev/null || true; done
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

# start_main [COMMAND...]: starts the program on $TMP/app (run by COMMAND, for example faketime, when
# given) and waits for its main window. $TARV_PID is the process started, $MAIN the main window and
# $PROGRAM_PID the program's own process: faketime runs it as a child and passes no signal on.
start_main() {
    "$@" "$TARV" --app-dir "$TMP/app" >"$TMP/tarv.log" 2>&1 &
    TARV_PID=$!
    PIDS="$PIDS $TARV_PID"
    wait_for "xdotool search --onlyvisible --name '^Tarv\$' >/dev/null 2>&1" 100 || fail "no main window"
    MAIN=$(xdotool search --onlyvisible --name '^Tarv$' | head -n 1)
    PROGRAM_PID=$(xdotool getwindowpid "$MAIN" 2>/dev/null) || PROGRAM_PID=$TARV_PID
    [ "$PROGRAM_PID" = "$TARV_PID" ] || PIDS="$PIDS $PROGRAM_PID"
}

# open_window KEYS TITLE: presses KEYS one after another in the main window until the window titled
# TITLE is on screen (three tries: slow on a loaded machine).
open_window() {
    for attempt in 1 2 3; do
        xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
        for k in $1; do
            xdotool key "$k"
            sleep 1 # a menu opened by the first key takes its time to come up
        done
        wait_for "xdotool search --onlyvisible --name '^$2\$' >/dev/null 2>&1" 100 && return 0
    done
    fail "$2 did not open"
}

# start_karaoke KEY [COMMAND...]: start_main, then presses KEY (F1, or F4 with time signals) in the main
# window and waits until karaoke mode has opened, which empties the published queue file.
start_karaoke() {
    key=$1
    shift
    rm -f "$QUEUE"
    start_main "$@"
    # On a loaded machine the key may come before the window has the focus: give it the focus first,
    # and press the key again when nothing happened.
    for attempt in 1 2 3; do
        xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
        sleep 0.5
        xdotool key "$key"
        wait_for "[ -f '$QUEUE' ]" 100 && return 0
        # The main window gone, karaoke mode is on its way: a slow start is waited for, not keyed again.
        if ! xdotool search --onlyvisible --name '^Tarv$' >/dev/null 2>&1; then
            wait_for "[ -f '$QUEUE' ]" 300 && return 0
            break
        fi
    done
    windows=$(xdotool search --onlyvisible --name '.' getwindowname %@ 2>/dev/null | tr '\n' '|')
    fail "karaoke mode did not start (windows on screen: $windows): $(tail -5 "$TMP/tarv.log")"
}

# end_tarv [WHAT]: sends the program SIGTERM, as a logout does, and fails unless it has ended within
# 10 s with status 0 (WHAT says what was open); one still running then is killed.
end_tarv() {
    program=${PROGRAM_PID:-$TARV_PID}
    kill -TERM "$program" 2>/dev/null || true
    if ! wait_for "! running $program && ! running $TARV_PID" 100; then
        # Where it hangs, for the log (where the machine lets a debugger attach).
        if command -v gdb >/dev/null; then
            timeout 60 gdb -p "$program" -batch -ex 'thread apply all bt 30' 2>/dev/null | grep -E '^(#|Thread)' >&2 || true
        fi
        kill -KILL "$program" "$TARV_PID" 2>/dev/null || true
        fail "the program did not end within 10 s of SIGTERM${1:+ with $1 open}: $(tail -3 "$TMP/tarv.log")"
    fi
    status=0
    wait "$TARV_PID" || status=$?
    [ "$status" -eq 0 ] || fail "the program ended with status $status after SIGTERM${1:+ with $1 open}"
}

# The port the running program serves the guest pages on, from its log (empty when it serves none).
guest_port() { sed -n 's/.*guest pages on port \([0-9]*\).*/\1/p' "$TMP/tarv.log" | head -n 1; }
