#!/usr/bin/env bash
# Builds the model tests with ThreadSanitizer in their own build folder (./build-tsan, or $QUILLORY_TSAN_BUILD_DIR)
# and runs them: training runs its loops on a pool of threads, and any report (a data race, a lock taken in the
# wrong order, a signal-unsafe call) fails the run.
# Only the 2-thread variants run (ctest -R threads2): under the sanitizer the tests run many times slower, and
# the 1-thread variants start no worker, so there is nothing between threads to watch; the threading tests train on
# 1, 2 and 8 threads by themselves in either variant. The time limits are scaled to match.
# Warnings are not errors here, as in the other sanitizer build.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ -n "${QUILLORY_SETUP_DONE:-}" ] || "$root/scripts/setup.sh"
build="${QUILLORY_TSAN_BUILD_DIR:-$root/build-tsan}"
"$root/scripts/configure-sanitizer-build.sh" "$build" thread "" -DQUILLORY_TEST_TIMEOUT_SCALE=4
cmake --build "$build" -j"$(nproc)" --target quillory_model_tests
# halt_on_error: the first report ends the test program, with exit code 66, so the test fails.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
# Only the model tests' folder: nothing else was built here.
ctest --test-dir "$build/tests/model" --output-on-failure -j"$(nproc)" -R 'threads2$'
