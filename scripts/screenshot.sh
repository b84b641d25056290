#!/usr/bin/env bash
# Renders the real main window with five packages in different states under Xvfb and saves it as
# docs/main-window.png for the README. Run it again after changing the window or the artwork.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
mkdir -p docs
KESTRUN_SCREENSHOT="$PWD/docs/main-window.png" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  tests/run-isolated.sh env QT_QPA_PLATFORM=xcb KESTRUN_SCREENSHOT="$PWD/docs/main-window.png" \
  build/tests/launcher/tst_launchermainwindow/tst_launchermainwindow rendersForTheReadme >/dev/null
echo "Saved docs/main-window.png"
