#!/bin/sh
# Installs playwright-core from the lock file into WORK_DIR/node_modules, unless it is there already.
# Usage: browser_modules.sh WORK_DIR
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$1
mkdir -p "$WORK"
if ! cmp -s "$HERE/package-lock.json" "$WORK/package-lock.json" || [ ! -d "$WORK/node_modules/playwright-core" ]; then
    cp "$HERE/package.json" "$HERE/package-lock.json" "$WORK/"
    (cd "$WORK" && npm ci --no-audit --no-fund --loglevel=error)
fi
