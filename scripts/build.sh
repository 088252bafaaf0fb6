#!/usr/bin/env bash
# Configures and builds Lumo. Usage: scripts/build.sh [--sanitize]
# Normal build: build/ ; sanitizer build (ASan + UBSan): build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
extra=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  extra=(-DLUMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DLUMO_BENCH=OFF)
fi

cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
