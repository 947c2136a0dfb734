#!/bin/sh
# Prepares a demo application folder: a song list with Japanese titles (CP932, CR LF), the web root
# with its exchange folder, the backup folder, short generated videos, and two time signals that
# are installed and enabled with no times yet (add one in 時報設定 and start with F4).
# Usage: make-demo-library.sh APP_DIR
set -eu
APP=${1:?usage: make-demo-library.sh APP_DIR}
mkdir -p "$APP/db/bu" "$APP/src" "$APP/www/cgi-bin/tarv"
APP=$(cd "$APP" && pwd)
FONT=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# number|title|tone (Hz)
cat > "$TMP/songs" <<'SONGS'
100001|夜明けのメロディー|440
100002|桜並木の約束|494
100003|東京ナイトドライブ|523
100004|ふるさとの空～望郷～|587
100005|君と①番星|659
100006|髙橋のテーマ|698
100007|ｶﾗｵｹ・ﾊﾟｰﾃｨｰ|784
100008|雨上がりの虹|880
100010|海辺のワルツ|392
100011|真夏の花火大会|349
100012|㈱カラオケ社歌|330
100013|さよならは言わない|294
SONGS

# A short video showing its number and title, with a steady tone; written beside its place and
# renamed, so that an interrupted run leaves no half-written video behind to be kept.
make_video() { # out seconds tone text-file
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=duration=$2:size=640x360:rate=25" \
        -f lavfi -i "sine=frequency=$3:duration=$2" \
        -vf "drawbox=y=ih/2-60:w=iw:h=120:color=black@0.6:t=fill,drawtext=fontfile=$FONT:textfile=$4:fontcolor=white:fontsize=36:x=(w-text_w)/2:y=(h-text_h)/2" \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest -f mp4 "$1.part"
    mv "$1.part" "$1"
}

printf 'Tarv へようこそ' > "$TMP/intro.txt"
[ -f "$APP/src/000000" ] || make_video "$APP/src/000000" 4 262 "$TMP/intro.txt"
while IFS='|' read -r number title tone; do
    printf '%s  %s' "$number" "$title" > "$TMP/title.txt"
    [ -f "$APP/src/$number" ] || make_video "$APP/src/$number" 8 "$tone" "$TMP/title.txt"
done < "$TMP/songs"

# A time signal: "時報" over a clock face showing three o'clock, with a beep.
make_time_signal() { # out tone text-file
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "color=c=0x203050:size=640x360:rate=25:duration=3,format=gray,geq=lum='if(lt(abs(hypot(X-320,Y-200)-110),5),235,if(lt(abs(X-320),4)*between(200-Y,0,90)+lt(abs(Y-200),4)*between(X-320,0,60),235,lum(X,Y)))',format=yuv420p" \
        -f lavfi -i "sine=frequency=$2:duration=3" \
        -vf "drawtext=fontfile=$FONT:textfile=$3:fontcolor=yellow:fontsize=48:x=(w-text_w)/2:y=20" \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest -f mp4 "$1.part"
    mv "$1.part" "$1"
}
printf '時報 A' > "$TMP/signal1.txt"
printf '時報 B' > "$TMP/signal2.txt"
[ -f "$APP/src/001001" ] || make_time_signal "$APP/src/001001" 880 "$TMP/signal1.txt"
[ -f "$APP/src/001002" ] || make_time_signal "$APP/src/001002" 1047 "$TMP/signal2.txt"

# The data files come last and only where missing: an interrupted run is finished by the next one
# (run.sh looks for the song list), and an operator's own files are never replaced.
keep_or_write() { # file: CP932 from standard input, unless the file exists
    if [ -e "$1" ]; then
        echo "Kept $1"
        return
    fi
    iconv -f UTF-8 -t CP932 > "$1.new"
    mv "$1.new" "$1"
}
for f in ziholist zihotime; do keep_or_write "$APP/db/$f.txt" < /dev/null; done
printf '001001\r\n時報 A\r\n001002\r\n時報 B\r\n' | keep_or_write "$APP/db/zihotrue.txt"
printf '%s\r\n' "$APP/www" | keep_or_write "$APP/db/path.txt"
while IFS='|' read -r number title tone; do
    printf ' %s \r\n%s\r\n' "$number" "$title"
done < "$TMP/songs" | keep_or_write "$APP/db/musiclist.txt"
echo "Demo library ready in $APP"
