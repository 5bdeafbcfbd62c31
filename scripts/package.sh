#!/usr/bin/env bash
# Builds the Debian package of the program from debian/ (debhelper over CMake, dpkg-buildpackage -b, the flags of
# dpkg-buildflags), checks it, and prints the package file's path as its last line. The package holds the program,
# its data, menu entry, icons, metainfo, manual page and documents; not the developer tools.
# Everything goes to ./build-package (or $QUILLORY_PACKAGE_DIR), apart from the development build.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
build="${QUILLORY_PACKAGE_DIR:-$root/build-package}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"

version="$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)"
upstream="${version%-*}"
package="$build/quillory_${version}_$(dpkg-architecture -q DEB_HOST_ARCH).deb"

# dpkg-buildpackage builds in the tree it is given and writes the packages into the folder above it. It is given a
# fresh copy of the sources (in a git work tree: the files git tracks or would track, as they are now), so that
# neither the work tree nor an earlier build can leak into the package.
source="$build/quillory-$upstream"
rm -rf "$source" "$build"/quillory_* "$build"/quillory-dbgsym_* "$build/contents"
mkdir -p "$source"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do if [ -e "$file" ]; then printf '%s\0' "$file"; fi; done |
        tar --null -T - -cf -) | tar -xf - -C "$source"
else
    tar -C "$root" --exclude=./.git --exclude='./build*' -cf - . | tar -xf - -C "$source"
fi

# Binary only and unsigned, on every core. A compiler cache, where there is one, makes the next build quick: CMake
# takes the launcher from the environment, and the cache is named outright because debhelper gives the build a HOME
# of its own, where the user's ccache settings are not found.
if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
    CCACHE_DIR="$(ccache -k cache_dir)"
    export CCACHE_DIR
fi
(cd "$source" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -b -us -uc) >&2
if [ ! -f "$package" ]; then
    echo "dpkg-buildpackage made no $package" >&2
    exit 1
fi

# The menu entry and the metainfo, as shipped, must pass the desktop's own checkers; AppStream at --pedantic, where it
# names what it merely advises against.
contents="$build/contents"
dpkg-deb -x "$package" "$contents"
entry=("$contents"/usr/share/applications/*.desktop)
metainfo=("$contents"/usr/share/metainfo/*.metainfo.xml)
complaints="$(desktop-file-validate "${entry[@]}" 2>&1)"
if [ -n "$complaints" ]; then
    echo "$complaints" >&2
    exit 1
fi
complaints="$(appstreamcli validate --no-net --pedantic "${metainfo[@]}" 2>&1)" || {
    echo "$complaints" >&2
    exit 1
}
if grep -q '^[EWIP]: ' <<<"$complaints"; then
    echo "$complaints" >&2
    exit 1
fi

# debian/ and the metainfo say the same: the homepage, the maintainer (the metainfo's developers at its contact
# address) and the version released.
element() { sed -n "s:.*<$1[^>]*>\(.*\)</$1>.*:\1:p" "${metainfo[0]}" | head -n1; }
released="$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "${metainfo[0]}" | head -n1)"
if [ "$(dpkg-deb -f "$package" Homepage)" != "$(element url)" ] ||
    [ "$(dpkg-deb -f "$package" Maintainer)" != "$(element developer_name) <$(element update_contact)>" ] ||
    [ "$upstream" != "$released" ]; then
    echo "the package's Maintainer, Homepage or version ($version) differs from the metainfo (release $released):" >&2
    dpkg-deb -f "$package" Maintainer Homepage >&2
    exit 1
fi
rm -rf "$contents"

# Debian's own checks at --pedantic, informational tags included: any tag fails the build unless
# debian/quillory.lintian-overrides overrides it, with its reason there.
lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$build/quillory_${version}_"*.changes >&2
echo "$package"
