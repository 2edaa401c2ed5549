#!/bin/sh
# Renders every window of the app in the states its tests put it in, in the light and the
# dark appearance, to docs/screenshots/ (PNG). Offscreen, with the software renderer, so the
# pictures are what a user sees and the same on every machine.
#   scripts/screenshots.sh [OUTPUT_DIR]
set -eu
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"

./scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target view_screenshots
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software LC_ALL=C.UTF-8 NORVELA_SCREENSHOT_DIR="$(realpath "$out")" \
    build/dev/tests/ui/view_screenshots
echo "Pictures in $out:"
ls "$out"
