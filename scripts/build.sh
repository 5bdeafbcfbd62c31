#!/usr/bin/env bash
# Configures and builds the project in ./build (or $QUILLORY_BUILD_DIR). Extra arguments go to the build step.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLORY_BUILD_DIR:-$root/build}"
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WARNINGS_AS_ERRORS="$werror" >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
