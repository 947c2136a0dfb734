#!/bin/sh
# Prepares a demo application folder: a song list with Japanese titles (CP932, CR LF), the web root
# with its exchange folder, the backup folder, empty time-signal files and short generated videos.
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

: > "$TMP/list"
while IFS='|' read -r number title tone; do
    printf ' %s \r\n%s\r\n' "$number" "$title" >> "$TMP/list"
done < "$TMP/songs"
iconv -f UTF-8 -t CP932 "$TMP/list" > "$APP/db/musiclist.txt"
printf '%s\r\n' "$APP/www" > "$APP/db/path.txt"
for f in ziholist zihotrue zihotime; do : > "$APP/db/$f.txt"; done

# A short video showing its number and title, with a steady tone.
make_video() { # out seconds tone text-file
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=duration=$2:size=640x360:rate=25" \
        -f lavfi -i "sine=frequency=$3:duration=$2" \
        -vf "drawbox=y=ih/2-60:w=iw:h=120:color=black@0.6:t=fill,drawtext=fontfile=$FONT:textfile=$4:fontcolor=white:fontsize=36:x=(w-text_w)/2:y=(h-text_h)/2" \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest -f mp4 "$1"
}

printf 'Tarv へようこそ' > "$TMP/intro.txt"
[ -f "$APP/src/000000" ] || make_video "$APP/src/000000" 4 262 "$TMP/intro.txt"
while IFS='|' read -r number title tone; do
    printf '%s  %s' "$number" "$title" > "$TMP/title.txt"
    [ -f "$APP/src/$number" ] || make_video "$APP/src/$number" 8 "$tone" "$TMP/title.txt"
done < "$TMP/songs"
echo "Demo library ready in $APP"
