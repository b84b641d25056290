#!/usr/bin/env bash
# Draws the launcher's artwork anew from tools/artwork (each image also as its @2x variant for
# high-DPI screens, and the application icon in the hicolor sizes for the desktop entry) and lists
# every image in the resources.
# The images are committed: the normal build needs neither this script nor its program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kestrun-artwork
images=resources/images/launcher
rm -rf resources/icons/hicolor
QT_QPA_PLATFORM=offscreen build/bin/kestrun-artwork "$images" resources/icons

{
  echo '<!DOCTYPE RCC>'
  echo '<RCC version="1.0">'
  echo '  <qresource prefix="/">'
  echo '    <file>settings/launchersettings.ini</file>'
  for image in $(cd resources && ls images/launcher/* | LC_ALL=C sort); do
    echo "    <file>$image</file>"
  done
  echo '  </qresource>'
  echo '</RCC>'
} > resources/launcher.qrc
echo "Artwork written to $images and resources/icons"
