#!/usr/bin/env bash
# Builds the engine, store and model tests, and the window-logic and dialog-framework tests on the scripted toolkit (no
# Qt), with AddressSanitizer and UndefinedBehaviorSanitizer in their own build folder (./build-asan, or
# $QUILLORY_ASAN_BUILD_DIR) and runs them. Any report fails the run. Warnings are not errors here:
# the main build holds the code to that, and the instrumentation makes the compiler's overflow analysis report bounds
# that no run can reach.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
build="${QUILLORY_ASAN_BUILD_DIR:-$root/build-asan}"
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQUILLORY_BUILD_GUI=OFF -DQUILLORY_BUILD_BENCH=OFF -DQUILLORY_BUILD_TOOLS=ON -DQUILLORY_BUILD_TESTS=ON \
    -DQUILLORY_WARNINGS_AS_ERRORS=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
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
