#!/bin/sh
# Checks the bundled demo session.
set -eu
BUILD="${1:-build}"
cd "$(dirname "$0")/.."
"$BUILD/bin/zorvo" check examples/demo/demo.zorvo
