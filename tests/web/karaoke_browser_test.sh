#!/bin/sh
# A guest reserves on a phone while karaoke mode runs, and watches the song come up as playing: the real
# program on the demo library under Xvfb with openbox, its own guest pages in headless Chromium.
# Usage: karaoke_browser_test.sh TARV_EXECUTABLE SOURCE_DIR WORK_DIR (playwright-core in WORK_DIR)
set -eu
TARV=$1
SOURCE=$2
WORK=$3
. "$SOURCE/tests/control/desktop.sh"

make_demo_app
start_karaoke F1
PORT=$(guest_port)
[ -n "$PORT" ] || fail "the guest pages are not served: $(tail -5 "$TMP/tarv.log")"

phone() { # NAME_PATTERN: the rows of karaoke_browser_test.cjs whose names match
    TARV_URL="http://127.0.0.1:$PORT/" TARV_WORK=$WORK PLAYWRIGHT_CORE=$WORK/node_modules/playwright-core \
        node --test --test-name-pattern="$1" "$SOURCE/tests/web/karaoke_browser_test.cjs"
}
phone "comes up as playing" || fail "the phone did not see its song play"
# The page's "playing" comes from the published queue, which the program rewrites as the song starts.
playing=$(head -n 1 "$QUEUE" | iconv -f CP932 -t UTF-8 | tr -d '\r')
[ "$playing" = '100003$東京ナイトドライブ$ユキ$ENT' ] || fail "the program plays '$playing'"
phone "sung again" || fail "the phone did not sing a song of its history again"
running "$PROGRAM_PID" || fail "the program ended: $(tail -5 "$TMP/tarv.log")"
end_tarv "karaoke mode"
echo "PASS"
