#!/bin/sh
# Installs playwright-core from the lock file into WORK (once) and runs the browser test there.
# Usage: browser_test.sh FIXTURE_PROGRAM WORK_DIR
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$2
mkdir -p "$WORK"
if ! cmp -s "$HERE/package-lock.json" "$WORK/package-lock.json" || [ ! -d "$WORK/node_modules/playwright-core" ]; then
    cp "$HERE/package.json" "$HERE/package-lock.json" "$WORK/"
    (cd "$WORK" && npm ci --no-audit --no-fund --loglevel=error)
fi
TARV_FIXTURE=$1 TARV_WORK=$WORK PLAYWRIGHT_CORE=$WORK/node_modules/playwright-core \
    node --test "$HERE/browser_test.cjs"
