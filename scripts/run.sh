#!/bin/sh
# Installs, builds, prepares the demo library in build/ when it has none, and starts Tarv.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
[ -f build/db/musiclist.txt ] || sh scripts/make-demo-library.sh build
exec ./build/tarv "$@"
