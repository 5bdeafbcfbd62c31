#!/usr/bin/env bash
# Installs what the program needs, builds it, and starts it on the bundled data in MovieData/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" --target quillory
build="${QUILLORY_BUILD_DIR:-$root/build}"
# The program finds MovieData\files.txt relative to its working directory.
cd "$root"
exec "$build/app/quillory"
