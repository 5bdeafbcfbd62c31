#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the program (Debian 12's package names).
# Non-interactive and idempotent: packages already present are left as they are. The scripts that call it skip it when
# QUILLORY_SETUP_DONE is set (scripts/test.sh sets it after its own call). Another package manager at work (a fresh
# machine's updates at boot) is waited for, up to ten minutes for each step, rather than failed on.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang-format-16 clang-tidy-14
    qt6-base-dev libgl-dev
    libsqlite3-dev libsodium-dev libeigen3-dev libfmt-dev
    libpq-dev libutf8proc-dev libxxhash-dev postgresql-15
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    fonts-liberation
    xvfb xauth xdotool imagemagick
    dpkg-dev debhelper file desktop-file-utils appstream lintian
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
    # apt-get waits for dpkg's lock when given a timeout, but update does not wait for the package lists' lock: it is
    # tried again while another package manager holds that lock.
    wait_for_lock=(-o DPkg::Lock::Timeout=600)
    deadline=$((SECONDS + 600))
    while ! output="$("${sudo_cmd[@]}" apt-get "${wait_for_lock[@]}" update -qq 2>&1)"; do
        if [[ "$output" != *"Could not get lock"* ]] || [ "$SECONDS" -ge "$deadline" ]; then
            printf '%s\n' "$output" >&2
            exit 1
        fi
        echo "setup.sh: another package manager is updating the package lists; waiting for it" >&2
        sleep 5
    done
    if [ -n "$output" ]; then printf '%s\n' "$output" >&2; fi
    "${sudo_cmd[@]}" apt-get "${wait_for_lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
