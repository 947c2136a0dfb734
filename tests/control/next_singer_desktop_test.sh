#!/bin/sh
# The next singer's card as the room sees it: the real program on the demo library under Xvfb with
# openbox, looked at in screenshots.
#  1. A song plays with nothing after it: no card.
#  2. A guest named ハナ reserves from the guest pages: in the song's last 20 s (the demo's songs are
#     8 s long) a card at the bottom left calls "次は ハナさん　髙橋のテーマ", over the video.
#  3. Started again with a closing time 10 minutes ahead, the idle screen shows the card with
#     "閉店まであと N 分" alone.
# The card is dark blue in a cyan frame; where tesseract reads Japanese, its text is read too.
# Usage: next_singer_desktop_test.sh TARV_EXECUTABLE SOURCE_DIR  (SHOTS=DIR keeps the screenshots)
set -eu
TARV=$1
SOURCE=$2
. "$(dirname "$0")/desktop.sh"

# Only the intro and the two songs played are made.
mkdir -p "$TMP/app/src"
for n in 100001 100003 100004 100005 100007 100008 100010 100011 100012 100013; do : >"$TMP/app/src/$n"; done
make_demo_app

# The card's colour over a region of the bottom left (its last line at 1280x720).
card_share() { colour_share "$1" "$2" 'rgb(8,12,40)' 4%; }
# What tesseract reads of the bottom left of a screenshot (nothing without tesseract's Japanese).
read_card() {
    tesseract --list-langs 2>/dev/null | grep -qx jpn || return 0
    convert "$1" -crop 1000x200+0+520 +repage -negate -resize 200% "$TMP/card.png"
    tesseract "$TMP/card.png" - -l jpn 2>/dev/null | tr -d ' \n'
}

start_karaoke F1
sleep 1
xdotool key --delay 0 1 0 0 0 0 2 Return
wait_for "head -n 1 '$QUEUE' | grep -q '^100002'" 100 || fail "the song did not start"
sleep 1
import -window root "$TMP/alone.png"
share=$(card_share "$TMP/alone.png" 560x40+30+640)
above 0.2 "$share" || fail "a card is shown with nothing after the song (share $share)"

PORT=$(guest_port)
[ -n "$PORT" ] || fail "the guest pages are not served: $(tail -5 "$TMP/tarv.log")"
curl -sf -H 'Content-Type: application/json' -d '{"number":"100006","name":"ハナ"}' \
    "http://127.0.0.1:$PORT/api/reserve" >/dev/null || fail "the guest pages refused the reservation"
wait_for "import -window root '$TMP/next.png' && above \$(card_share '$TMP/next.png' 560x40+30+640) 0.4" 50 ||
    fail "no card calls the next singer (share $(card_share "$TMP/next.png" 560x40+30+640))"
frame=$(colour_share "$TMP/next.png" 600x200+0+500 'rgb(0,255,255)' 4%)
above "$frame" 0.005 || fail "the card has no frame (share $frame)"
text=$(read_card "$TMP/next.png")
case $text in '' | *次は*) ;; *) fail "the card reads '$text', not 次は" ;; esac
# Over the video: the top of the screen below the strip still shows the song's picture.
light=$(convert "$TMP/next.png" -crop 1280x200+0+250 +repage -colorspace Gray -format '%[fx:mean]' info:)
above "$light" 0.15 || fail "the card is not over the song (brightness $light)"
[ -z "${SHOTS:-}" ] || cp "$TMP/next.png" "$SHOTS/next-singer-card.png"
end_tarv "the next singer's card"

# 3. Closing in 10 minutes: the idle screen counts them down.
date -d '+10 min' +%H:%M >"$TMP/app/db/closing.txt"
start_karaoke F1
wait_for "import -window root '$TMP/closing.png' && above \$(card_share '$TMP/closing.png' 300x40+40+640) 0.4" 150 ||
    fail "no closing notice over the idle screen (share $(card_share "$TMP/closing.png" 300x40+40+640))"
yellow=$(colour_share "$TMP/closing.png" 600x120+0+580 'rgb(255,255,0)' 10%)
above "$yellow" 0.01 || fail "the closing notice is not written in yellow (share $yellow)"
text=$(read_card "$TMP/closing.png")
case $text in '' | *閉店*) ;; *) fail "the card reads '$text', not 閉店まであと" ;; esac
[ -z "${SHOTS:-}" ] || cp "$TMP/closing.png" "$SHOTS/next-singer-closing.png"
end_tarv "the closing notice"
echo "PASS${text:+ (read: $text)}"
