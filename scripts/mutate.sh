#!/bin/sh
# Replays the planted faults in tests/mutations/*.patch one at a time: apply, rebuild the test
# programs the patch names on its "# labels:" line, run those labels, restore. A fault is
# caught when a test fails (or hangs past the short timeout).
#   scripts/mutate.sh [PATCH...]     (build dir: $MUTATE_BUILD, default build-mutate)
set -u
cd "$(dirname "$0")/.."
BUILD="${MUTATE_BUILD:-build-mutate}"
JOBS="${JOBS:-2}"
applied=""
log="$(mktemp)"

restore() {
    if [ -n "$applied" ]; then
        git apply -R "$applied" || echo "mutate: could not restore $applied" >&2
        applied=""
    fi
}
trap 'restore; rm -f "$log"' EXIT
trap 'restore; exit 130' INT TERM

if [ "$#" -eq 0 ]; then
    set -- tests/mutations/*.patch
fi
if ! git diff --quiet -- src; then
    echo "mutate: src/ has uncommitted changes; commit or stash them first" >&2
    exit 2
fi

cmake -S . -B "$BUILD" -DZORVO_GUI=OFF -DZORVO_TEST_TIMEOUT=60 \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null || exit 2
nice cmake --build "$BUILD" -j "$JOBS" >/dev/null || exit 2

caught=0
total=0
missed_list=""
for patch in "$@"; do
    name="$(basename "$patch" .patch)"
    labels="$(sed -n 's/^# labels: //p' "$patch" | head -n 1)"
    targets="zorvo"
    for label in $labels; do
        targets="$targets zorvo_${label}_tests"
    done
    if ! git apply "$patch"; then
        echo "stale   $name (does not apply)"
        continue
    fi
    applied="$patch"
    total=$((total + 1))
    if ! nice cmake --build "$BUILD" -j "$JOBS" --target $targets >/dev/null 2>&1; then
        result="caught  $name (build fails)"
        caught=$((caught + 1))
    elif (cd "$BUILD" && ctest -j "$JOBS" -L "$(echo "$labels" | tr ' ' '|')" >"$log" 2>&1); then
        result="MISSED  $name"
        missed_list="$missed_list $name"
    else
        # Name the tests that failed: the ones a reshaped suite must keep (or replace).
        result="caught  $name$(sed -n 's/^[[:space:]]*[0-9][0-9]* - \([^ ]*\) .*/ \1/p' "$log" | tr -d '\n')"
        caught=$((caught + 1))
    fi
    restore
    echo "$result"
done
echo "caught $caught of $total${missed_list:+; missed:$missed_list}"
