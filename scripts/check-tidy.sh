#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every source of the engine, the windows and the program
# (engine/, ui/ with ui/framework and ui/qt, app/), one process per core, and fails on any finding in those sources
# or in our own headers they include. The compile commands come from a configured build folder of its own
# (./build-tidy, or $QUILLORY_TIDY_BUILD_DIR); nothing is compiled. Each finding is printed once, with a count per
# check at the end; every file's full report, with the source lines, is kept in the build folder's tidy-logs/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ -n "${QUILLORY_SETUP_DONE:-}" ] || "$root/scripts/setup.sh"
build="${QUILLORY_TIDY_BUILD_DIR:-$root/build-tidy}"
tidy=clang-tidy-14
# Debug: asserts stay in, so that their conditions are checked too.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DQUILLORY_BUILD_GUI=ON -DQUILLORY_BUILD_TESTS=OFF -DQUILLORY_BUILD_BENCH=OFF -DQUILLORY_BUILD_TOOLS=OFF \
    >/dev/null

# The sources, as the compilation database names them (python3 comes with clang-tidy).
mapfile -d '' sources < <(python3 - "$build/compile_commands.json" "$root" <<'EOF'
import json, os, sys
database, root = sys.argv[1], sys.argv[2]
files = set()
for entry in json.load(open(database)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if os.path.relpath(path, root).split(os.sep)[0] in ("engine", "ui", "app"):
        files.add(path)
for path in sorted(files):
    print(path, end="\0")
EOF
)
if [ ${#sources[@]} -eq 0 ]; then
    echo "no engine, ui or app sources in $build/compile_commands.json" >&2
    exit 1
fi

# Our own headers only: not Qt's, Eigen's or the standard library's.
root_pattern="$(printf '%s' "$root" | sed 's/[][\.*^$+?(){}|]/\\&/g')"
header_filter="^$root_pattern/(engine|ui|app|resources)/"

logs="$build/tidy-logs"
rm -rf "$logs"
mkdir -p "$logs"
export tidy build logs header_filter
status=0
printf '%s\0' "${sources[@]}" | xargs -0 -n1 -P"$(nproc)" bash -c '
    log="$logs/$(printf "%s" "$1" | tr / _).log"
    "$tidy" -p "$build" --quiet --header-filter="$header_filter" "$1" >"$log" 2>&1 || echo "$1" >>"$logs/failed"
' _ || status=$?
if [ "$status" -ne 0 ]; then
    echo "$tidy could not be run over every file" >&2
    exit 1
fi

if [ -s "$logs/failed" ]; then
    findings="$(cat "$logs"/*.log | grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error): ' | sort -u || true)"
    if [ -n "$findings" ]; then
        printf '%s\n' "${findings//"$root/"/}" >&2
        echo >&2
        echo "$(printf '%s\n' "$findings" | wc -l) clang-tidy findings, per check:" >&2
        printf '%s\n' "$findings" | grep -oE '\[[^] ]+\]$' | sed -E 's/^\[//; s/(,-warnings-as-errors)?\]$//' |
            sort | uniq -c | sort -rn >&2
    fi
    # A file that failed without a finding (clang-tidy itself broke): its whole report.
    while IFS= read -r file; do
        log="$logs/$(printf '%s' "$file" | tr / _).log"
        if ! grep -qE '^[^ ].*:[0-9]+:[0-9]+: (warning|error): ' "$log"; then
            echo "$tidy failed on $file:" >&2
            cat "$log" >&2
        fi
    done <"$logs/failed"
    exit 1
fi
echo "clang-tidy: no findings in ${#sources[@]} files."
