#!/bin/sh
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan in build-fuzz/, then runs each for
# the given number of seconds (default 60), starting from its checked-in corpus. New inputs go to
# build-fuzz/fuzz/corpus/<target>/, crashes to build-fuzz/fuzz/crashes/; the checked-in corpus is
# never changed.
#   sh scripts/fuzz.sh [SECONDS] [TARGET...]     targets: songlist cp932 numbers webroot queuerecord dropnote editnote journal
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-songlist cp932 numbers webroot queuerecord dropnote editnote journal}

command -v clang++ >/dev/null 2>&1 || { echo "fuzz.sh needs clang (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARV_FUZZ=ON >/dev/null
build_targets=""
for t in $targets; do build_targets="$build_targets fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build build-fuzz -j2 --target $build_targets

status=0
for t in $targets; do
    corpus=build-fuzz/fuzz/corpus/$t
    crashes=build-fuzz/fuzz/crashes/$t
    mkdir -p "$corpus" "$crashes"
    echo "== $t: ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$crashes/" \
        "$corpus" "tests/fuzz/corpus/$t"; then
        echo "== $t: FAILED (inputs in $crashes/)" >&2
        status=1
    fi
done
exit $status
