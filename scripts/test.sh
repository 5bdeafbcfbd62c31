#!/usr/bin/env bash
# Installs what the project needs, builds everything and runs every test (headless).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${QUILLORY_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen
# ctest's cleanup fixture stops the store tests' PostgreSQL server; this catches a ctest that was itself cut short.
trap '"$root/tests/store/pg-test-server.sh" stop "$build/tests/store/pg-server" >/dev/null 2>&1 || true' EXIT
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
# The engine, store and model tests once more, under AddressSanitizer and UndefinedBehaviorSanitizer.
"$root/scripts/test-sanitizers.sh"
