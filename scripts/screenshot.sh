#!/usr/bin/env bash
# Renders the real main window with five packages in different states under Xvfb and saves it as
# docs/main-window.png for the README, and as on a screen scaled by 2 (QT_SCALE_FACTOR=2, with the
# @2x images) as docs/main-window@2x.png. Run it again after changing the window or the artwork.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
mkdir -p docs
render() { # <scale factor> <file>
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 2000x1400x24" \
    tests/run-isolated.sh env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$1" KESTRUN_SCREENSHOT="$2" \
    build/tests/launcher/tst_launchermainwindow/tst_launchermainwindow rendersForTheReadme >/dev/null
}
render 1 "$PWD/docs/main-window.png"
render 2 "$PWD/docs/main-window@2x.png"
echo "Saved docs/main-window.png and docs/main-window@2x.png"
