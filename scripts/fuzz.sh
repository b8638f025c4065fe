#!/bin/sh
# Builds the fuzz targets with clang-14 (libFuzzer, ASan, UBSan with float-cast-overflow) in
# build-fuzz/ and runs each: first once over its regression inputs (each must finish within the
# time-out), then fuzzing from its seeds for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS] [TARGET...]       TARGET: script_fuzzer, wave_fuzzer
# Extra libFuzzer flags may be given in FUZZ_FLAGS (e.g. FUZZ_FLAGS=-runs=10000000).
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
[ $# -gt 0 ] && shift
TARGETS="${*:-script_fuzzer wave_fuzzer}"
BUILD="${FUZZ_BUILD:-build-fuzz}"
FLAGS="-timeout=10 -rss_limit_mb=2048"

scripts/install-deps.sh fuzz
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++-14 -DZORVO_FUZZ=ON -DZORVO_TESTS=OFF \
    -DZORVO_GUI=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target $TARGETS

# Binary inputs are kept as hex text; a long group chain is made here rather than checked in.
prepare() {  # kind
    rm -rf "$BUILD/fuzz-in/$1" && mkdir -p "$BUILD/fuzz-in/$1/seeds" "$BUILD/fuzz-in/$1/regressions"
    for dir in seeds regressions; do
        [ -d "fuzz/$dir/$1" ] || continue
        for file in "fuzz/$dir/$1"/*; do
            [ -f "$file" ] || continue
            case "$file" in
                *.hex) xxd -r -p "$file" "$BUILD/fuzz-in/$1/$dir/$(basename "$file" .hex)" ;;
                *) cp "$file" "$BUILD/fuzz-in/$1/$dir/" ;;
            esac
        done
    done
    if [ "$1" = script ]; then
        {
            echo "output( out.avi, 720, 576 ) input( cam1, cam1.mov ) { }"
            i=1
            while [ $i -lt 4000 ]; do echo "group( g$i ) { g$((i + 1)) }"; i=$((i + 1)); done
            echo "group( g4000 ) { cam1 }"
            echo "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( g1 ) }"
            echo "marker( 3 ) { speed( g1, 2 ) }"
        } >"$BUILD/fuzz-in/script/regressions/groups-chain-4000.zorvo"
    fi
}

for target in $TARGETS; do
    kind="${target%_fuzzer}"
    prepare "$kind"
    in="$BUILD/fuzz-in/$kind"
    if [ -n "$(ls "$in/regressions")" ]; then
        echo "== $target: regression inputs"
        "$BUILD/bin/$target" $FLAGS "$in/regressions"/*
    fi
    echo "== $target: fuzzing for ${SECONDS_EACH}s"
    mkdir -p "$BUILD/corpus/$kind"
    # shellcheck disable=SC2086
    "$BUILD/bin/$target" $FLAGS -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        ${FUZZ_FLAGS:-} -artifact_prefix="$BUILD/corpus/$kind-" "$BUILD/corpus/$kind" "$in/seeds"
done
