#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building and testing Lumo needs on Debian 12. Quick when
# everything is already there: apt-get runs only for missing packages.
# Usage: scripts/setup.sh [--qt6] [--fuzz]
#   (default) Qt 5.15, what scripts/build.sh and scripts/test.sh build with
#   --qt6     Qt 6 instead, for scripts/build.sh --qt6 and scripts/test.sh --qt6
#   --fuzz    also clang and its libFuzzer runtime, for the fuzz build of
#             scripts/fuzz.sh; plain builds and CI never need them
# Both Qt versions may be installed side by side: the build picks one by
# -DLUMO_QT, never by whichever CMake happens to find first.
set -euo pipefail

qt=5
fuzz=0
for arg in "$@"; do
  case "$arg" in
  --qt6) qt=6 ;;
  --qt5) qt=5 ;;
  --fuzz) fuzz=1 ;;
  *)
    echo "setup.sh: unknown option $arg (use --qt6, --qt5 or --fuzz)" >&2
    exit 2
    ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config
  fonts-wqy-microhei
  libbenchmark-dev clang-format
  # cpack's .deb reads the programs' library dependencies with dpkg-shlibdeps
  # (dpkg-dev, through build-essential), which needs file(1).
  file
  # Session captures are pcap files written and read with libpcap; the
  # dissector test decodes one with the real tshark (its debconf question
  # about capture rights is answered by the noninteractive front end).
  libpcap-dev tshark
  # The data-point charts are drawn with QCustomPlot; the one package holds
  # its Qt 5 and Qt 6 builds (and so pulls in both Qt base packages).
  libqcustomplot-dev
  # The package test checks the .deb with Debian's own checker, renders the
  # man pages help2man makes at build time, and validates the AppStream
  # metainfo file.
  lintian help2man man-db appstream
  # The network line tests serve a pty through the real serial server, in
  # raw and in RFC 2217 mode.
  ser2net
)
if [ "$qt" = 6 ]; then
  # qt6-base-dev's CMake files also ask for OpenGL (libgl-dev) and Vulkan
  # headers when Gui is found; the translations hold qtbase_zh_CN.
  packages+=(qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-tools-dev
    qt6-translations-l10n qt6-l10n-tools libgl-dev libvulkan-dev)
else
  packages+=(qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev qttranslations5-l10n)
fi
if [ "$fuzz" = 1 ]; then
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
