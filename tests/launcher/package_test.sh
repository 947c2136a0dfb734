#!/bin/sh
# Builds the Debian package, checks its contents and metadata, then starts the program unpacked from it:
# in a fresh home it makes an empty library in the user's data folder, and a folder that already holds a
# library is left byte for byte as it was.  Usage: package_test.sh BUILD_DIR APP_ID
set -eu
ID=$2
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$1/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1 || { cat "$TMP/cpack.log"; fail cpack; }
DEB=$(ls "$TMP"/out/*.deb)
dpkg-deb --contents "$DEB" | awk '{ print $NF }' >"$TMP/contents"
for f in bin/tarv applications/$ID.desktop metainfo/$ID.metainfo.xml icons/hicolor/scalable/apps/$ID.svg \
    icons/hicolor/48x48/apps/$ID.png doc/tarv/guide.md doc/tarv/keypad-card.html; do
    grep -Eqx "./usr/(share/)?$f" "$TMP/contents" || fail "the package lacks $f"
done
for p in libqt6widgets6 libqt6opengl6 libmpv2 fonts-noto-cjk; do
    dpkg-deb --field "$DEB" Depends | grep -Eq "(^|, )$p( |,|$)" || fail "Depends lacks $p"
done
ROOT=$TMP/root
dpkg-deb -x "$DEB" "$ROOT"
out=$(desktop-file-validate "$ROOT/usr/share/applications/$ID.desktop" 2>&1) && [ -z "$out" ] || fail "$out"
appstreamcli validate --no-net "$ROOT/usr/share/metainfo/$ID.metainfo.xml" || fail "appstreamcli validate"

# Runs the unpacked program on a private X server until it has named its application folder and kept
# running for a second more, then ends it with SIGTERM: it must end within 10 s, with status 0.
run_tarv() {
    env HOME="$TMP/home" XDG_DATA_HOME="$TMP/data" QT_QPA_PLATFORM=xcb QT_FORCE_STDERR_LOGGING=1 xvfb-run -a sh -c '
        "$@" 2>"$0" & pid=$!
        running() { ps -o stat= -p $pid 2>/dev/null | grep -qv "^Z"; }
        until grep -q "application folder" "$0" || ! running; do sleep 0.1; done
        sleep 1
        kill $pid || exit 1
        i=0
        while running; do
            i=$((i + 1))
            [ $i -le 100 ] || { kill -KILL $pid; echo "FAIL: no end within 10 s of SIGTERM" >>"$0"; exit 1; }
            sleep 0.1
        done
        wait $pid || { echo "FAIL: status $? after SIGTERM" >>"$0"; exit 1; }
        grep -q "application folder" "$0"' \
        "$TMP/tarv.log" "$ROOT/usr/bin/tarv" "$@" || { cat "$TMP/tarv.log"; fail "tarv $*"; }
}

run_tarv # an installed copy keeps its data in the user's folder, even where root could write beside it
APP=$TMP/data/Tarv
for d in db/bu src www/cgi-bin/tarv; do [ -d "$APP/$d" ] || fail "no folder $d in $APP"; done
for f in musiclist ziholist zihotrue zihotime; do [ -f "$APP/db/$f.txt" ] && [ ! -s "$APP/db/$f.txt" ] || fail "$f"; done
printf '%s\r\n' "$APP/www" | cmp -s - "$APP/db/path.txt" || fail "db/path.txt does not name $APP/www"

LIB=$TMP/library
mkdir -p "$LIB/db" "$LIB/src"
printf ' 100001 \r\n\223\372\226\173\r\n' >"$LIB/db/musiclist.txt"
printf 'video' >"$LIB/src/100001"
printf '0' >"$LIB/db/webport.txt" # guest pages on any free port, so parallel tests never meet on one
snapshot() { find "$LIB" -printf '%p %y %s %T@\n' -type f -exec md5sum {} + | sort; }
before=$(snapshot)
run_tarv --app-dir "$LIB"
[ "$(snapshot)" = "$before" ] || fail "a folder holding a library was changed"
