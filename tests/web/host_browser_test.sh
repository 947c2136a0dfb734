#!/bin/sh
# Runs the browser test of the host's page against the fixture server, with playwright-core from WORK_DIR
# (browser_modules.sh installs it there).
# Usage: host_browser_test.sh FIXTURE_PROGRAM WORK_DIR
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
TARV_FIXTURE=$1 TARV_WORK=$2 PLAYWRIGHT_CORE=$2/node_modules/playwright-core node --test "$HERE/host_browser_test.cjs"
