#!/usr/bin/env bash
# Builds the Debian package of the program (the program, its data, menu entry, icons, metainfo and manual page;
# not the developer tools) and prints the package file's path as its last line.
# The build goes to ./build-package (or $QUILLORY_PACKAGE_DIR), apart from the development build.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
build="${QUILLORY_PACKAGE_DIR:-$root/build-package}"
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUILLORY_WARNINGS_AS_ERRORS="$werror" \
    -DQUILLORY_BUILD_TESTS=OFF -DQUILLORY_BUILD_BENCH=OFF -DQUILLORY_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >&2

# The menu entry and the metainfo must pass the desktop's own checkers before they are shipped.
stage="$build/stage"
rm -rf "$stage"
DESTDIR="$stage" cmake --install "$build" --prefix /usr --component program >/dev/null
entry=("$stage"/usr/share/applications/*.desktop)
complaints="$(desktop-file-validate "${entry[@]}" 2>&1)"
if [ -n "$complaints" ]; then
    echo "$complaints" >&2
    exit 1
fi
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml >&2
rm -rf "$stage"

rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
package=("$build"/*.deb)
if [ ! -f "${package[0]}" ]; then
    echo "cpack made no package" >&2
    exit 1
fi
echo "${package[0]}"
