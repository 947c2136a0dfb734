#!/bin/sh
# Karaoke mode as a person meets it on a desktop: the real program on the demo library, under Xvfb
# with a window manager (openbox), driven by X keystrokes and looked at in screenshots.
#  1. F1, then three reservations typed with no gap between keys: all three reach the published
#     queue file, in order.
#  2. Screenshots show the stage strip over the top of a playing video, and the key badge under it.
#  3. Without OpenGL (indirect GLX) the program starts karaoke mode and stays up; its idle screen
#     shows the guest pages' address as a QR code that decodes to the served port.
#  4. A request another program writes into the request file is taken (the file becomes 0 bytes) and
#     reserves the song under the web user's name; the time it took is printed.
#  5. A guest's reservation posted to the program's own guest pages reaches the published queue under
#     the guest's name.
# Usage: karaoke_desktop_test.sh TARV_EXECUTABLE SOURCE_DIR
set -eu
TARV=$1
SOURCE=$2
. "$(dirname "$0")/desktop.sh"

make_demo_app

# Numbers in the published queue file, the intro's record left out, one line.
queued_numbers() {
    [ -f "$QUEUE" ] || return 0
    tr -d '\r' <"$QUEUE" | cut -d'$' -f1 | grep -v '^000000$' | tr '\n' ' '
}

brightness() { convert "$1" -crop "$2" +repage -colorspace Gray -format '%[fx:mean]' info:; }

# 1. Fast typing loses nothing.
start_karaoke F1
sleep 1
xdotool key --delay 0 1 0 0 0 0 2 Return 1 0 0 0 0 3 Return 1 0 0 0 0 4 Return
wait_for "[ \"\$(queued_numbers)\" = '100002 100003 100004 ' ]" 50 ||
    fail "queue file holds '$(queued_numbers)', expected 100002 100003 100004"

# 2. The strip is drawn over the video: dark strip at the top, the moving picture below it.
import -window root "$TMP/shot.png"
share=$(colour_share "$TMP/shot.png" 1280x120+0+0 'rgb(16,16,24)')
above "$share" 0.5 || fail "the strip is not on screen (background share $share)"
light=$(brightness "$TMP/shot.png" 1280x300+0+400)
above "$light" 0.15 || fail "no video under the strip (brightness $light)"
# The key badge is drawn over the video too: once a song plays, "+" raises its key and the badge's
# dark box shows under the strip's right end.
badge_shown() {
    xdotool key KP_Add
    import -window root -crop 100x40+1150+205 "$TMP/badge.png"
    above "$(colour_share "$TMP/badge.png" 100x40+1150+205 'rgb(13,13,20)')" 0.5
}
wait_for badge_shown 60 || fail "no key badge over the video"

# 4. A web request: written whole (then renamed), as a web script should.
REQUEST="$TMP/app/www/cgi-bin/tarv/tarvadd.txt"
printf '100006,\203\206\203\114\r\n' >"$REQUEST.new" # "100006,ユキ" in CP932
started=$(date +%s%N)
mv "$REQUEST.new" "$REQUEST"
wait_for "[ ! -s '$REQUEST' ]" 50 || fail "the request file was not taken"
echo "web request taken after $((($(date +%s%N) - started) / 1000000)) ms"
wait_for "tr -d '\r' <'$QUEUE' | iconv -f CP932 -t UTF-8 | grep -qx '100006\\\$髙橋のテーマ\\\$ユキ\\\$ENT'" 20 ||
    fail "the web reservation is not in the queue file: $(iconv -f CP932 -t UTF-8 <"$QUEUE")"

# 5. A guest's reservation through the built-in guest pages.
PORT=$(guest_port)
[ -n "$PORT" ] || fail "the guest pages are not served: $(tail -5 "$TMP/tarv.log")"
curl -sf -H 'Content-Type: application/json' -d '{"number":"100008","name":"ハナ"}' \
    "http://127.0.0.1:$PORT/api/reserve" >/dev/null || fail "the guest pages refused the reservation"
wait_for "tr -d '\r' <'$QUEUE' | iconv -f CP932 -t UTF-8 | grep -qx '100008\\\$雨上がりの虹\\\$ハナ\\\$ENT'" 20 ||
    fail "the guest's reservation is not in the queue file: $(iconv -f CP932 -t UTF-8 <"$QUEUE")"
end_tarv "karaoke mode"

# 3. No OpenGL: the program stays up and plays in software. Its idle screen shows guests the
#    address of the phone pages as a QR code (where the machine has a network address).
start_karaoke F1 env LIBGL_ALWAYS_INDIRECT=1
sleep 1
PORT=$(guest_port)
if [ -n "$(hostname -I 2>/dev/null | tr -d ' ')" ]; then
    wait_for "import -window root '$TMP/idle.png' && zbarimg --raw -q '$TMP/idle.png' 2>/dev/null | grep -q ':$PORT/\$'" 100 ||
        fail "no QR code of the guest pages over the idle screen"
fi
xdotool key --delay 0 1 0 0 0 0 5 Return
wait_for "[ \"\$(queued_numbers)\" = '100005 ' ]" 50 || fail "no reservation without OpenGL: '$(queued_numbers)'"
sleep 1
running "$PROGRAM_PID" || fail "the program ended without OpenGL: $(tail -5 "$TMP/tarv.log")"
grep -q 'drawn in software' "$TMP/tarv.log" || fail "OpenGL was not missing after all"
end_tarv "karaoke mode without OpenGL"
echo "PASS"
