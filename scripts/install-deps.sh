#!/bin/sh
# Installs the Debian packages Zorvo needs, only those that are missing.
# Usage: scripts/install-deps.sh [core|gui|fuzz|docs|package|all]   (default: all, what `make test`
# and `make demo` need; fuzz: what scripts/fuzz.sh adds, which installs it itself; docs: only
# what `make man` needs; package: what `make package` adds to gui)
set -eu

CORE="cmake g++ make pkg-config libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libswresample-dev libavfilter-dev \
libfreetype-dev libfontconfig-dev zlib1g-dev libspng-dev fontconfig fonts-crosextra-carlito libgtest-dev libgmock-dev ffmpeg \
libaubio-dev nlohmann-json3-dev"
GUI="qt6-base-dev qt6-multimedia-dev libgl-dev xvfb xauth"
BENCH="libbenchmark-dev"
# scripts/fuzz.sh: clang with its libFuzzer runtime, xxd for the binary seeds kept as hex.
FUZZ="clang-14 libclang-rt-14-dev xxd"
DOCS="pandoc"
# `make package`: dpkg-shlibdeps reads the programs' library dependencies.
PACKAGE="dpkg-dev"

case "${1:-all}" in
  core) WANT="$CORE" ;;
  gui) WANT="$CORE $GUI" ;;
  fuzz) WANT="$CORE $FUZZ" ;;
  docs) WANT="$DOCS" ;;
  package) WANT="$CORE $GUI $PACKAGE" ;;
  all) WANT="$CORE $GUI $BENCH $PACKAGE" ;;
  *) echo "usage: $0 [core|gui|fuzz|docs|package|all]" >&2; exit 2 ;;
esac

MISSING=""
for pkg in $WANT; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    MISSING="$MISSING $pkg"
  fi
done

[ -z "$MISSING" ] && exit 0

echo "Installing:$MISSING"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $MISSING
