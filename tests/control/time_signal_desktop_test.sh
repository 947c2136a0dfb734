#!/bin/sh
# A time signal over a song, as an operator meets it on a desktop: the real program on the demo
# library (two time signals enabled) with the time 12:00 added, under Xvfb with openbox, its clock
# set to 11:59:40 by libfaketime. F4 starts karaoke mode with time signals, a song is reserved, and
# at 12:00 the time signal plays over it: the strip turns yellow with "時報 NowTime=12:00"; when
# it ends the song resumes from where it paused.
# Usage: time_signal_desktop_test.sh TARV_EXECUTABLE SOURCE_DIR
set -eu
TARV=$1
SOURCE=$2
. "$(dirname "$0")/desktop.sh"

# Only the intro, the time signals and one song are played: the other songs' videos are not made.
mkdir -p "$TMP/app/src"
for n in $(seq 100002 100013); do : >"$TMP/app/src/$n"; done
make_demo_app
printf '12:00\r\nnofile\r\n' >"$TMP/app/db/zihotime.txt"
# A song long enough to be playing at 12:00 however slowly the program starts.
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=duration=60:size=320x180:rate=25" \
    -f lavfi -i "sine=frequency=440:duration=60" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
    -c:a aac -shortest -f mp4 "$TMP/app/src/100001"

# Only the wall clock is moved: Qt's timers and mpv keep the real monotonic clock.
start_karaoke F4 env QT_LOGGING_RULES='tarv.karaoke.info=true' FAKETIME_DONT_FAKE_MONOTONIC=1 \
    faketime -f '@2026-03-14 11:59:40'
# The settings window is loaded but hidden while time signals are on.
xdotool search --onlyvisible --name '^時報設定$' >/dev/null 2>&1 && fail "the settings window stayed on screen"
sleep 1
xdotool key --delay 0 1 0 0 0 0 1 Return
wait_for "grep -q '^100001' '$QUEUE'" 50 || fail "the song did not start"
grep -q 'time signal at' "$TMP/tarv.log" && fail "the time signal came before the song: $(cat "$TMP/tarv.log")"

wait_for "grep -q 'time signal at 12:00' '$TMP/tarv.log'" 200 || fail "no time signal at 12:00: $(tail -5 "$TMP/tarv.log")"
sleep 1
import -window root "$TMP/signal.png"
yellow=$(colour_share "$TMP/signal.png" 1280x60+0+0 'rgb(255,255,0)' 20%)
above "$yellow" 0.003 || fail "the strip does not show the time signal in yellow (share $yellow)"
# Under the strip the grey clock face of the time signal, not the song's colour bars.
saturation=$(convert "$TMP/signal.png" -crop 1280x400+0+250 +repage -colorspace HSL -channel G -separate \
    -format '%[fx:mean]' info:)
above 0.1 "$saturation" || fail "the time signal is not over the song (saturation $saturation)"

wait_for "grep -q 'the song resumes at' '$TMP/tarv.log'" 100 || fail "the song did not come back: $(tail -5 "$TMP/tarv.log")"
position=$(sed -n 's/.*the song resumes at \([0-9.]*\) s.*/\1/p' "$TMP/tarv.log" | head -1)
above "$position" 0 || fail "the song resumed at $position"
sleep 2
# The song's own video is drawn again: its colour bars, moving.
import -window root "$TMP/after1.png"
sleep 1
import -window root "$TMP/after2.png"
saturation=$(convert "$TMP/after2.png" -crop 1280x400+0+250 +repage -colorspace HSL -channel G -separate \
    -format '%[fx:mean]' info:)
above "$saturation" 0.2 || fail "the song's video is not on screen after the time signal (saturation $saturation)"
moved=$(compare -metric AE -fuzz 5% "$TMP/after1.png" "$TMP/after2.png" null: 2>&1 || true)
above "$moved" 1000 || fail "the song's video stands still after the time signal ($moved pixels changed)"
running "$PROGRAM_PID" || fail "the program ended: $(tail -5 "$TMP/tarv.log")"
end_tarv "a time signal over a song"
echo "PASS (song resumed at ${position} s)"
