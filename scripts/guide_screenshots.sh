#!/usr/bin/env bash
# Remakes the pictures of the user guide (docs/guide.md) from the real windows: builds and
# runs the guide_screenshots test program (Qt's offscreen platform, French texts), which
# saves them under BUILD/tests/ui/guide_img/, then copies them into docs/img/.
#
#   scripts/guide_screenshots.sh [BUILD]   # BUILD: an existing build folder, build/dev by default
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build/dev}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target guide_screenshots
pictures="$build/tests/ui/guide_img"
rm -rf "$pictures"
(cd "$build/tests/ui" && QT_QPA_PLATFORM=offscreen LANG=fr_FR.UTF-8 ./guide_screenshots)
mkdir -p "$here/docs/img"
cp "$pictures"/*.png "$here/docs/img/"
echo "Images du guide copiées dans docs/img/ :"
ls -l "$here/docs/img"
