#!/bin/sh
# A guest reserves on a phone while karaoke mode runs, and watches the song come up as playing: the real
# program on the demo library under Xvfb with openbox, its own guest pages in headless Chromium.
# Usage: karaoke_browser_test.sh TARV_EXECUTABLE SOURCE_DIR WORK_DIR (playwright-core in WORK_DIR)
set -eu
TARV=$1
SOURCE=$2
WORK=$3
. "$SOURCE/tests/control/desktop.sh"

sh "$SOURCE/scripts/make-demo-library.sh" "$TMP/app" >/dev/null
printf '0' >"$TMP/app/db/webport.txt" # any free port, so parallel tests never meet on one
QUEUE="$TMP/app/www/cgi-bin/tarv/tarvlist.txt"
"$TARV" --app-dir "$TMP/app" >"$TMP/tarv.log" 2>&1 &
TARV_PID=$!
PIDS="$PIDS $TARV_PID"
wait_for "xdotool search --onlyvisible --name '^Tarv\$' >/dev/null 2>&1" 100 || fail "no main window"
sleep 0.5
xdotool key F1
wait_for "[ -f '$QUEUE' ]" 100 || fail "karaoke mode did not start"
PORT=$(sed -n 's/.*guest pages on port \([0-9]*\).*/\1/p' "$TMP/tarv.log" | head -n 1)
[ -n "$PORT" ] || fail "the guest pages are not served: $(tail -5 "$TMP/tarv.log")"

TARV_URL="http://127.0.0.1:$PORT/" TARV_WORK=$WORK PLAYWRIGHT_CORE=$WORK/node_modules/playwright-core \
    node --test "$SOURCE/tests/web/karaoke_browser_test.cjs" || fail "the phone did not see its song play"
# The page's "playing" comes from the published queue, which the program rewrites as the song starts.
playing=$(head -n 1 "$QUEUE" | iconv -f CP932 -t UTF-8 | tr -d '\r')
[ "$playing" = '100003$東京ナイトドライブ$ユキ$ENT' ] || fail "the program plays '$playing'"
kill -0 "$TARV_PID" 2>/dev/null || fail "the program ended: $(tail -5 "$TMP/tarv.log")"
echo "PASS"
