#!/bin/sh
# The program's resident size in karaoke mode with real players: the real program on the demo
# library under Xvfb with openbox and software OpenGL, its songs replaced by long full-HD videos with
# two sound tracks, break music in bgm/ and time signals every few minutes (F4). Songs are reserved on
# the keypad so that they play back to back, with a short idle screen (break music) after every
# third song. VmRSS is sampled every few seconds; prints the start, the peak, the end and the end's
# share of the 250 MB goal.
# Usage: karaoke_memory_bench.sh TARV_EXECUTABLE SOURCE_DIR [SECONDS]
#   SECONDS (or DURATION): how long songs play, 600 unless given.
#   SONG_SECONDS (120), VIDEO_SIZE (1920x1080), VIDEO_RATE (30), SCREEN (1920x1080x24), SAMPLE (5 s).
#   MEDIA: where the generated videos are kept between runs (a temporary folder unless set).
#   TARV_ENV: more environment for the program only, as NAME=VALUE words.
#   SAMPLES: a file that gets every sample ("seconds kB").
#   SMAPS: a path prefix for the memory maps at the start and at the end (smaps_rollup, pmap -x).
#   TRIM_PROBE: at the end, have the allocator give back what it holds free (malloc_trim through
#   gdb) and print the size after: what is left is what the program really uses.
set -eu
TARV=$1
SOURCE=$2
DURATION=${3:-${DURATION:-600}}
SONG_SECONDS=${SONG_SECONDS:-120}
VIDEO_SIZE=${VIDEO_SIZE:-1920x1080}
VIDEO_RATE=${VIDEO_RATE:-30}
SAMPLE=${SAMPLE:-5}
SCREEN=${SCREEN:-1920x1080x24}
GOAL_MB=250
. "$SOURCE/tests/control/desktop.sh"
export LIBGL_ALWAYS_SOFTWARE=1

MEDIA=${MEDIA:-$TMP/media}
mkdir -p "$MEDIA"
# A song: colour bars at full size, about 6 Mbit/s like a real karaoke video, with the accompaniment
# and a second track titled as the guide vocal. Made once per size and length, then kept in $MEDIA.
make_song() { # out tone
    [ -s "$1" ] && return 0
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=duration=$SONG_SECONDS:size=$VIDEO_SIZE:rate=$VIDEO_RATE" \
        -f lavfi -i "sine=frequency=$2:duration=$SONG_SECONDS" \
        -f lavfi -i "sine=frequency=$(($2 * 2)):duration=$SONG_SECONDS" \
        -map 0 -map 1 -map 2 -metadata:s:a:1 title=vocal \
        -c:v libx264 -preset ultrafast -b:v 6M -maxrate 8M -bufsize 8M -g 60 -pix_fmt yuv420p \
        -c:a aac -b:a 160k -shortest -f mp4 "$1.part"
    mv "$1.part" "$1"
}
make_music() { # out tone
    [ -s "$1" ] && return 0
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=$2:duration=60" -c:a aac -b:a 128k \
        -f mp4 "$1.part"
    mv "$1.part" "$1"
}
tag="${VIDEO_SIZE}_${VIDEO_RATE}_${SONG_SECONDS}"
echo "making the videos ($VIDEO_SIZE, $VIDEO_RATE fps, $SONG_SECONDS s) in $MEDIA"
for tone in 440 523 659; do make_song "$MEDIA/song_${tag}_$tone.mp4" "$tone"; done
for tone in 330 392; do make_music "$MEDIA/music_$tone.m4a" "$tone"; done

# The demo library's small videos stand in for the intro and the time signals; the songs are ours.
mkdir -p "$TMP/app/src" "$TMP/app/bgm"
SONGS="100001 100002 100003 100004 100005 100006 100007 100008 100010 100011 100012 100013"
i=0
for n in $SONGS; do
    set -- 440 523 659
    shift $((i % 3))
    ln -f "$MEDIA/song_${tag}_$1.mp4" "$TMP/app/src/$n" 2>/dev/null || cp "$MEDIA/song_${tag}_$1.mp4" "$TMP/app/src/$n"
    i=$((i + 1))
done
for tone in 330 392; do cp "$MEDIA/music_$tone.m4a" "$TMP/app/bgm/music_$tone.m4a"; done
make_demo_app
# Time signals every three minutes from two minutes after the start, for the whole run.
: >"$TMP/app/db/zihotime.txt"
now=$(date +%s)
t=$((now - now % 60 + 120))
while [ "$t" -le $((now + DURATION + 60)) ]; do
    printf '%s\r\nnofile\r\n' "$(date -d "@$t" +%H:%M)" >>"$TMP/app/db/zihotime.txt"
    t=$((t + 180))
done

# CPU time the program has used, in clock ticks (user and system).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$PROGRAM_PID/stat" 2>/dev/null; }
rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$PROGRAM_PID/status" 2>/dev/null; }
# Songs in the published queue file: the one that plays and those that wait.
waiting() {
    [ -f "$QUEUE" ] || { echo 0; return; }
    tr -d '\r' <"$QUEUE" | cut -d'$' -f1 | grep -v '^000000$' | wc -l
}

# A room where the program has run before: the titles' readings are cached, so the start does not
# load the reading dictionary.
start_main
wait_for "[ -s '$TMP/app/db/readings.cache' ]" 600 || fail "the readings were not cached"
end_tarv "the main window"

start_karaoke F4 env QT_LOGGING_RULES='tarv.karaoke.info=true' ${TARV_ENV:-}
sleep 5
START_KB=$(rss_kb)
PEAK_KB=$START_KB
SAMPLES=${SAMPLES:-$TMP/samples}
: >"$SAMPLES"
echo "karaoke mode up: $((START_KB / 1024)) MB"
memory_maps() {
    [ -n "${SMAPS:-}" ] || return 0
    cat "/proc/$PROGRAM_PID/smaps_rollup" >"$SMAPS.$1.rollup" 2>/dev/null || true
    pmap -x "$PROGRAM_PID" >"$SMAPS.$1.pmap" 2>/dev/null || true
}
memory_maps start

began=$(date +%s)
START_TICKS=$(cpu_ticks)
reserved=0
idle_since=""
minute=0
last_sample=0
while :; do
    elapsed=$(($(date +%s) - began))
    [ "$elapsed" -lt "$DURATION" ] || break
    running "$PROGRAM_PID" || fail "the program ended: $(tail -5 "$TMP/tarv.log")"
    # Keep one song waiting behind the one that plays; after every third song let the queue run dry
    # for 15 s, so that the idle screen and its break music come up between songs.
    in_file=$(waiting)
    if [ "$in_file" -eq 0 ]; then
        [ -n "$idle_since" ] || idle_since=$elapsed
    else
        idle_since=""
    fi
    if [ "$in_file" -lt 2 ] && { [ $((reserved % 3)) -ne 0 ] || [ "$reserved" -eq 0 ] ||
        { [ -n "$idle_since" ] && [ $((elapsed - idle_since)) -ge 15 ]; }; }; then
        set -- $SONGS
        shift $((reserved % 12))
        xdotool key --delay 60 $(echo "$1" | sed 's/./& /g') Return
        reserved=$((reserved + 1))
        sleep 2 # until the queue file shows it
    fi
    if [ $((elapsed - last_sample)) -ge "$SAMPLE" ] || [ "$last_sample" -eq 0 ]; then
        kb=$(rss_kb)
        [ -n "$kb" ] || kb=0
        [ "$kb" -le "$PEAK_KB" ] || PEAK_KB=$kb
        echo "$elapsed $kb" >>"$SAMPLES"
        last_sample=$((elapsed > 0 ? elapsed : 1))
        if [ $((elapsed / 60)) -gt "$minute" ]; then
            minute=$((elapsed / 60))
            echo "  $minute min: $((kb / 1024)) MB"
        fi
    fi
    sleep 1
done
END_KB=$(rss_kb)
CPU_S=$((($(cpu_ticks) - START_TICKS) / $(getconf CLK_TCK)))
[ "$END_KB" -le "$PEAK_KB" ] || PEAK_KB=$END_KB
memory_maps end
if [ -n "${TRIM_PROBE:-}" ]; then
    gdb -p "$PROGRAM_PID" -batch -ex 'call (int) malloc_trim(0)' >/dev/null 2>&1 || true
    echo "after malloc_trim: $(($(rss_kb) / 1024)) MB"
    memory_maps trimmed
fi
played=$(grep -c 'time signal at' "$TMP/tarv.log" || true)
end_tarv "karaoke mode"
awk -v s="$START_KB" -v p="$PEAK_KB" -v e="$END_KB" -v g="$GOAL_MB" -v d="$DURATION" -v r="$reserved" -v t="$played" -v c="$CPU_S" \
    'BEGIN {
        printf "karaoke memory after %d s (%d songs reserved, %d time signals): start %.0f MB, peak %.0f MB, end %.0f MB\n", d, r, t, s / 1024, p / 1024, e / 1024
        printf "end / goal of %d MB: %.2f; CPU %.0f%% of one core\n", g, e / 1024 / g, 100 * c / d
    }'
