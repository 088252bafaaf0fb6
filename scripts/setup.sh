#!/usr/bin/env bash
# Installs what building and testing Lumo needs on Debian 12. Quick when
# everything is already there: apt-get runs only for missing packages.
# Qt 6 packages are deliberately absent: once installed, CMake may pick Qt 6.
# Usage: scripts/setup.sh [--fuzz]   (--fuzz: also clang and its libFuzzer
# runtime, for the fuzz build of scripts/fuzz.sh; plain builds and CI never
# need them)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
  fonts-wqy-microhei qttranslations5-l10n
  libbenchmark-dev clang-format
)
if [ "${1:-}" = "--fuzz" ]; then
  # clang is Debian 12's clang 14; libclang-rt-14-dev holds libFuzzer and the
  # sanitizer runtimes it links.
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
