#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the workbench needs to build and test,
# but only those that are missing. Shared by ./run and ./test.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev clang-format
          clang-tidy clang libfuzzer-14-dev libclang-rt-14-dev
          qt6-base-dev qt6-charts-dev libqt6opengl6-dev libqt6svg6-dev libgl-dev libceres-dev
          pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib
          libopenmpi-dev openmpi-bin xvfb x11-apps imagemagick xdotool procps qt6-translations-l10n)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installation des paquets manquants : ${missing[*]}" >&2
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
