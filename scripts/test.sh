#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up, builds, and runs every test headless.
# Usage: scripts/test.sh [--qt6] [--sanitize]
#   (default)   Qt 5.15, in build/
#   --qt6       Qt 6, in build-qt6/
#   --sanitize  ASan + UBSan build, in build-asan/ (build-asan-qt6/ with --qt6)
set -euo pipefail
cd "$(dirname "$0")/.."

qt=5
dir=build
setup=()
for arg in "$@"; do
  case "$arg" in
  --qt6) qt=6 ;;
  --qt5) qt=5 ;;
  --sanitize) dir=build-asan ;;
  "") ;;
  *)
    echo "test.sh: unknown option $arg (use --qt6, --qt5 or --sanitize)" >&2
    exit 2
    ;;
  esac
done
if [ "$qt" = 6 ]; then
  dir="$dir-qt6"
  setup=(--qt6)
fi

bash scripts/setup.sh "${setup[@]}"
bash scripts/build.sh "$@"
# CTest sets QT_QPA_PLATFORM=offscreen for every test itself.
ctest --test-dir "$dir" --output-on-failure -j 2
