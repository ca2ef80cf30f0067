#!/usr/bin/env bash
# Saves PNG pictures of the administration window with a live server and a few clients, and
# of the account editor with a user, a group and an IP home selected, to
# check its look: tests/ui/screenshots.sh [OUTPUT_DIR] (default: build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/../.."
out="${1:-build/screenshots}"
cmake -S . -B build -G Ninja -DTOLVANE_UI=ON >/dev/null
cmake --build build --target UiScreenshots >/dev/null
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1600x1000x24" build/tests/UiScreenshots "$out"
else
  QT_QPA_PLATFORM=offscreen build/tests/UiScreenshots "$out"
fi
