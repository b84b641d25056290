#!/usr/bin/env bash
# The studio's tool runs on build machines without display libraries: it must need none of Qt's
# GUI, widget and network libraries. ldd has to list Qt Core, or it did not look at a Qt program
# at all.
set -euo pipefail
libraries=$(ldd "$1")
if ! grep -q 'libQt5Core' <<<"$libraries"; then
  printf 'ldd lists no Qt Core for %s:\n%s\n' "$1" "$libraries"
  exit 1
fi
if grep -E 'libQt5(Gui|Widgets|Network)' <<<"$libraries"; then
  echo "$1 needs the GUI or network libraries above"
  exit 1
fi
