#!/usr/bin/env bash
# Configures a sanitizer build of the tests in its own folder, as both sanitizer scripts need it: Debug, no windows
# and no benchmarks, the tools and tests on, warnings not errors (the main build holds the code to that, and the
# instrumentation makes the compiler's overflow analysis report bounds that no run can reach).
#   configure-sanitizer-build.sh BUILD SANITIZERS EXTRA-FLAGS [CMAKE ARGUMENTS...]
# SANITIZERS is -fsanitize's list ("address,undefined", "thread"), EXTRA-FLAGS more compiler flags (may be empty);
# the remaining arguments go to cmake.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:?build folder}"
sanitizers="${2:?sanitizers}"
extra="${3-}"
shift 3
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQUILLORY_BUILD_GUI=OFF -DQUILLORY_BUILD_BENCH=OFF -DQUILLORY_BUILD_TOOLS=ON -DQUILLORY_BUILD_TESTS=ON \
    -DQUILLORY_WARNINGS_AS_ERRORS=OFF \
    -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer -fsanitize=$sanitizers $extra" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=$sanitizers" "$@" >/dev/null
