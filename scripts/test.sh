#!/usr/bin/env bash
# Installs what the project needs, checks the sources, builds everything and runs every test (headless). Cheapest
# first, so that a failure shows early: the format check, clang-tidy, the build and its tests, then the sanitizer
# builds and their tests.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
# Once per run: the scripts below skip it when told it was done.
export QUILLORY_SETUP_DONE=1
"$root/scripts/check-format.sh"
"$root/scripts/check-tidy.sh"
"$root/scripts/build.sh"
build="${QUILLORY_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen
# ctest's cleanup fixture stops the store tests' PostgreSQL server; this catches a ctest that was itself cut short.
trap '"$root/tests/store/pg-test-server.sh" stop "$build/tests/store/pg-server" >/dev/null 2>&1 || true' EXIT
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
# The engine, store, model and window-logic tests once more, under AddressSanitizer and UndefinedBehaviorSanitizer.
"$root/scripts/test-sanitizers.sh"
# The model tests under ThreadSanitizer: training runs on a pool of threads.
"$root/scripts/test-thread-sanitizer.sh"
