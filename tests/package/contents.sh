#!/bin/sh
# Makes the Debian package from the programs of this build and compares what it would install, and
# its control fields, with what an installed Zorvo needs. Installs nothing.
# Usage: contents.sh CPACK BUILD_DIR VERSION
set -eu
CPACK="$1"
BUILD="$2"
VERSION="$3"
OUT="$BUILD/package-test"
rm -rf "$OUT"
mkdir -p "$OUT"
# The programs are already built: Ninja's name keeps cpack from building the whole tree first.
if ! "$CPACK" -G DEB --config "$BUILD/CPackConfig.cmake" -B "$OUT" -D CPACK_CMAKE_GENERATOR=Ninja \
    >"$OUT/cpack.log" 2>&1; then
    cat "$OUT/cpack.log"
    exit 1
fi
DEB="$OUT/zorvo_${VERSION}_$(dpkg --print-architecture).deb"
FAILED=0

# Every file with its mode; directories follow from them.
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { print $1, $6 }' | sort >"$OUT/contents"
sort >"$OUT/expected" <<'LIST'
-rwxr-xr-x ./usr/bin/zorvo
-rwxr-xr-x ./usr/bin/zorvo-gui
-rw-r--r-- ./usr/share/applications/zorvo-gui.desktop
-rw-r--r-- ./usr/share/bash-completion/completions/zorvo
-rw-r--r-- ./usr/share/doc/zorvo/changelog.gz
-rw-r--r-- ./usr/share/doc/zorvo/copyright
-rw-r--r-- ./usr/share/doc/zorvo/examples/README
-rw-r--r-- ./usr/share/doc/zorvo/examples/demo.zorvo
-rw-r--r-- ./usr/share/doc/zorvo/examples/make-media.sh
-rw-r--r-- ./usr/share/doc/zorvo/script-language.md
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/zorvo.svg
-rw-r--r-- ./usr/share/man/man1/zorvo-gui.1.gz
-rw-r--r-- ./usr/share/man/man1/zorvo.1.gz
-rw-r--r-- ./usr/share/man/man5/zorvo-script.5.gz
-rw-r--r-- ./usr/share/mime/packages/zorvo.xml
LIST
if ! diff -u "$OUT/expected" "$OUT/contents"; then
    echo "FAILED: the package's files differ from the expected ones (- expected, + packaged)"
    FAILED=1
fi

# Control fields: the libraries found from the programs, the font the labels look up by name.
DEPENDS="$(dpkg-deb -f "$DEB" Depends)"
for dependency in fonts-crosextra-carlito libavformat59 libavcodec59 libavfilter8 libfreetype6 libfontconfig1 libaubio5 libspng0 \
    libqt6widgets6 libstdc++6; do
    case ", $DEPENDS," in
        *", $dependency "* | *", $dependency,"*) ;;
        *) echo "FAILED: Depends lacks $dependency: $DEPENDS"; FAILED=1 ;;
    esac
done
for field in "Package zorvo" "Version $VERSION" "Section video"; do
    value="$(dpkg-deb -f "$DEB" "${field%% *}")"
    if [ "$value" != "${field#* }" ]; then
        echo "FAILED: ${field%% *} is '$value', expected '${field#* }'"
        FAILED=1
    fi
done

# zorvo(1) names the documentation folder of the prefix the package installs to.
if ! dpkg-deb --fsys-tarfile "$DEB" | tar -xOf - ./usr/share/man/man1/zorvo.1.gz | gzip -dc |
    grep -q '^\.I /usr/share/doc/zorvo/script-language\.md$'; then
    echo "FAILED: zorvo(1) does not name /usr/share/doc/zorvo/script-language.md"
    FAILED=1
fi
# `zorvo --help` names the documentation folder of the tree it runs from, wherever that is.
ROOT="$OUT/root"
dpkg-deb -x "$DEB" "$ROOT"
DOCS="$(cd "$ROOT/usr/share/doc/zorvo" && pwd -P)"
if ! HELP="$("$ROOT/usr/bin/zorvo" --help 2>&1)"; then
    echo "FAILED: the packaged zorvo --help failed: $HELP"
    FAILED=1
fi
case "$HELP" in
    *"or $DOCS/script-language.md."*) ;;
    *) echo "FAILED: zorvo --help does not name $DOCS: $(printf '%s\n' "$HELP" | tail -n 1)"; FAILED=1 ;;
esac
exit "$FAILED"
