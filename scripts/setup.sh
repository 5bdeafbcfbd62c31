#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the program.
# Non-interactive and idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang-format-16 clang-tidy
    qt6-base-dev libgl-dev
    libsqlite3-dev libsodium-dev libeigen3-dev libfmt-dev
    libpq-dev libutf8proc-dev libxxhash-dev postgresql-15
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    fonts-liberation
    xvfb xauth xdotool imagemagick
    dpkg-dev file desktop-file-utils appstream lintian
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
