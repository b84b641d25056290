#!/usr/bin/env bash
# Builds the launcher and starts it. Without a display it runs headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
exec build/bin/launcher "$@"
