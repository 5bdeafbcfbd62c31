#!/usr/bin/env bash
# Builds the Debian package of the program (the program, its data, menu entry, icons, metainfo, manual page and
# documents; not the developer tools), checks it with lintian, and prints the package file's path as its last line.
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

# The control fields agree with the metainfo: the same homepage, and the maintainer is the metainfo's developers at
# its contact address.
metainfo=("$build"/packaging/*.metainfo.xml)
element() { sed -n "s:.*<$1[^>]*>\(.*\)</$1>.*:\1:p" "${metainfo[0]}" | head -n1; }
maintainer="$(element developer_name) <$(element update_contact)>"
if [ "$(dpkg-deb -f "${package[0]}" Homepage)" != "$(element url)" ] ||
    [ "$(dpkg-deb -f "${package[0]}" Maintainer)" != "$maintainer" ]; then
    echo "the package's Maintainer or Homepage differs from the metainfo:" >&2
    dpkg-deb -f "${package[0]}" Maintainer Homepage >&2
    exit 1
fi

# Debian's own checks of the package: warnings are shown, an error fails the build.
lintian --fail-on error "${package[0]}" >&2
echo "${package[0]}"
