#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Lumo. Usage: scripts/build.sh [--qt6] [--sanitize]
#   (default)   Qt 5.15 into build/
#   --qt6       Qt 6 into build-qt6/
#   --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer into build-asan/
#               (build-asan-qt6/ together with --qt6)
set -euo pipefail
cd "$(dirname "$0")/.."

qt=5
sanitize=0
for arg in "$@"; do
  case "$arg" in
  --qt6) qt=6 ;;
  --qt5) qt=5 ;;
  --sanitize) sanitize=1 ;;
  "") ;;
  *)
    echo "build.sh: unknown option $arg (use --qt6, --qt5 or --sanitize)" >&2
    exit 2
    ;;
  esac
done

dir=build
extra=()
if [ "$sanitize" = 1 ]; then
  dir=build-asan
  extra=(-DLUMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DLUMO_BENCH=OFF)
fi
[ "$qt" = 6 ] && dir="$dir-qt6"

cmake -S . -B "$dir" -G Ninja -DLUMO_QT="$qt" "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
