#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the workbench needs, but only those that
# are missing.
#   scripts/deps.sh run    what ./run needs: the compiler, CMake and the libraries of the
#                          programs and of the Python module
#   scripts/deps.sh package  what ./run needs, plus what ./package needs: help2man for the
#                          man pages, dpkg-dev and file for the package's dependencies
#   scripts/deps.sh test   (the default) all that, plus what ./test needs: the test and
#                          benchmark libraries, the format and lint tools, the fuzzing
#                          compiler, the virtual display and the checks of the install
#                          (pip's install of the Python module in a virtual environment
#                          included)
set -euo pipefail
run_packages=(g++ cmake ninja-build pkg-config libcli11-dev
              qt6-base-dev libqt6opengl6-dev libqt6svg6-dev libgl-dev libceres-dev
              pybind11-dev python3-dev python3-numpy python3-matplotlib
              libopenmpi-dev openmpi-bin qt6-translations-l10n libmatio-dev)
package_packages=(help2man dpkg-dev file)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang-format clang-tidy
               clang libfuzzer-14-dev libclang-rt-14-dev qt6-charts-dev python3-pytest
               xvfb x11-apps imagemagick xdotool procps
               desktop-file-utils libxml2-utils
               python3-venv python3-pip python3-setuptools)
case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  *) echo "Usage : scripts/deps.sh [run|package|test]" >&2; exit 2 ;;
esac
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
