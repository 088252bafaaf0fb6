#!/usr/bin/env bash
# Sets everything up, builds, and runs every test headless.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: ASan + UBSan build)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh "${1:-}"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-asan
# CTest sets QT_QPA_PLATFORM=offscreen for every test itself.
ctest --test-dir "$dir" --output-on-failure -j 2
