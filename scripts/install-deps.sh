#!/usr/bin/env bash
# Installs the Debian 12 packages MERIDOC needs. With --test, also those its tests use.
set -euo pipefail

packages=(cmake g++ ninja-build qt6-base-dev libicu-dev fonts-dejavu-core fonts-liberation2)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(python3 libgtest-dev libbenchmark-dev libsqlite3-dev
               xvfb xdotool openbox x11-utils imagemagick
               cups printer-driver-cups-pdf poppler-utils
               pandoc clang libclang-rt-14-dev
               python3-vobject groff-base man-db
               dbus-daemon at-spi2-core python3-pyatspi)
    packages+=(desktop-file-utils appstream systemd radicale vdirsyncer khard)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -o DPkg::Lock::Timeout=600
"${sudo[@]}" apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
