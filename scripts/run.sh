#!/usr/bin/env bash
# Builds MERIDOC, installs it into its program folder (default ~/meridoc) and starts it there.
# Reinstalling replaces only the program files; card files, extra texts and meridoc.ini stay.
# The launcher entry and icons go into the user's data folder; scripts/uninstall.sh removes both.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${MERIDOC_HOME:-$HOME/meridoc}"

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DMERIDOC_BUILD_TESTS=OFF -DMERIDOC_BUILD_BENCH=OFF
cmake --build build-release
cmake --install build-release --prefix "$prefix"
bash scripts/install-desktop.sh "$prefix" build-release/install_manifest.txt
exec "$prefix/meridoc"
