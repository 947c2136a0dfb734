#!/bin/sh
# Installs, builds and runs every test through CTest.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
cd build
ctest --output-on-failure -j2 --timeout 600
