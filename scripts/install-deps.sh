#!/bin/sh
# Installs every build, run and test dependency from Debian 12's packages.
set -eu
PACKAGES="cmake ninja-build pkg-config g++ qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libmpv-dev
libboost1.81-dev libqrencode-dev libgtest-dev libgmock-dev libbenchmark-dev ffmpeg xvfb xauth fonts-noto-cjk
qt6-translations-l10n mecab mecab-ipadic-utf8 libmecab-dev zlib1g-dev libavformat-dev openbox xdotool imagemagick x11-utils libxtst-dev librsvg2-bin dpkg-dev file desktop-file-utils appstream zbar-tools faketime
chromium curl"
# The browser test's playwright-core comes from npm (tests/web/package-lock.json); Debian's Node.js only
# where the machine has none of its own.
command -v npm >/dev/null 2>&1 || PACKAGES="$PACKAGES nodejs npm"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "Run as root or install sudo: missing packages:$missing" >&2; exit 1; }
    SUDO=sudo
fi
echo "Installing:$missing"
$SUDO apt-get update
# env, not a plain assignment: sudo would drop DEBIAN_FRONTEND from apt-get's environment.
# shellcheck disable=SC2086
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
