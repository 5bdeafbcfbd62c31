#!/usr/bin/env bash
# Checks that every tracked C++ source and header is formatted as .clang-format says, and fails, listing the files,
# when clang-format would change any of them. The binary is pinned (clang-format-16, from scripts/setup.sh): other
# versions format some constructs differently, and InsertBraces needs 15 or later. The icons' XPM pictures are
# data that Icons.cpp includes and are left as they are drawn.
# To format the tree: git ls-files -z -- '*.cpp' '*.h' ':(exclude)resources/icons/*' | xargs -0 clang-format-16 -i
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ -n "${QUILLORY_SETUP_DONE:-}" ] || "$root/scripts/setup.sh"
format=clang-format-16
cd "$root"

# A broken .clang-format must fail as itself, not as every file needing changes.
if ! "$format" --dump-config --assume-filename=check.cpp >/dev/null; then
    echo "$format cannot read .clang-format" >&2
    exit 1
fi

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h' ':(exclude)resources/icons/*')
unformatted=()
for f in "${files[@]}"; do
    if ! "$format" --dry-run --Werror "$f" >/dev/null 2>&1; then
        unformatted+=("$f")
    fi
done

if [ ${#unformatted[@]} -gt 0 ]; then
    echo "$format would change ${#unformatted[@]} of ${#files[@]} files:" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    echo "Format them with: $format -i <files>" >&2
    exit 1
fi
echo "All ${#files[@]} C++ files are formatted."
