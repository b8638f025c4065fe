#!/bin/sh
# Makes the demo media once, then renders the demo session into BUILD/demo/demo.avi and, encoded,
# BUILD/demo/demo.mkv.
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
ROOT="$(pwd)"
BIN="$ROOT/$BUILD/bin/zorvo"
DEMO="$ROOT/$BUILD/demo"

examples/demo/make-media.sh "$DEMO"
# The script's relative paths name files beside it, so it goes where the media are.
cp examples/demo/demo.zorvo "$DEMO/demo.zorvo"
"$BIN" render "$DEMO/demo.zorvo"
"$BIN" render --output "$DEMO/demo.mkv" "$DEMO/demo.zorvo"
echo
echo "The demo video is $DEMO/demo.avi, and encoded $DEMO/demo.mkv (play it with ffplay or mpv)"
