#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure
