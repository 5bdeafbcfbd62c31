#!/usr/bin/env bash
# Builds the engine, store and model tests, and the window-logic and dialog-framework tests on the scripted toolkit (no
# Qt), with AddressSanitizer and UndefinedBehaviorSanitizer in their own build folder (./build-asan, or
# $QUILLORY_ASAN_BUILD_DIR) and runs them. Any report fails the run (-fno-sanitize-recover). Warnings are not errors
# here (see configure-sanitizer-build.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ -n "${QUILLORY_SETUP_DONE:-}" ] || "$root/scripts/setup.sh"
build="${QUILLORY_ASAN_BUILD_DIR:-$root/build-asan}"
"$root/scripts/configure-sanitizer-build.sh" "$build" address,undefined -fno-sanitize-recover=all
cmake --build "$build" -j"$(nproc)" --target quillory_base_tests quillory_data_tests quillory_engine_tests \
    quillory_sqlite_store_tests quillory_store_tests quillory_model_tests
cmake --build "$build" -j"$(nproc)" --target quillory_ui_tests
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The store tests' PostgreSQL server: stopped by ctest's cleanup fixture, and here when ctest itself is cut short.
trap '"$root/tests/store/pg-test-server.sh" stop "$build/tests/store/pg-server" >/dev/null 2>&1 || true' EXIT
# Only what was built here: the out-of-memory tests replace the allocator, which the sanitizers own, so their
# program is left out (ctest lists it as not built).
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600 -E '^OutOfMemory|_NOT_BUILT$' 
