#!/usr/bin/env bash
# Pictures of the windows for the README, under Xvfb: runs the window tests with
# NV_SCREENSHOT_DIR set; each window's test saves its picture into docs/images.
# Usage: scripts/screenshots.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: apt-get install xvfb xauth" >&2; exit 1; }
out=$PWD/docs/images
for t in "$build"/tests/test_manager "$build"/tests/test_tester; do
  [ -x "$t" ] || continue
  NV_SCREENSHOT_DIR=$out QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$t" --gtest_filter='*Screenshot*'
done
ls -1 "$out"
