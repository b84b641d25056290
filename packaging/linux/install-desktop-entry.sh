#!/bin/sh
# Adds the launcher unpacked here to the desktop's application menu for this user: a desktop
# entry that starts this copy and its icons. Run it again after moving the folder.
#   ./install-desktop-entry.sh           add or refresh the entry
#   ./install-desktop-entry.sh --remove  take it away again
set -eu
id=com.halvern.KestrunLauncher
here=$(cd "$(dirname "$0")" && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
entry=$data/applications/$id.desktop

refresh_caches() {
  if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$data/applications" 2>/dev/null || true
  fi
  if command -v gtk-update-icon-cache >/dev/null 2>&1 && [ -f "$data/icons/hicolor/index.theme" ]; then
    gtk-update-icon-cache -q -t "$data/icons/hicolor" 2>/dev/null || true
  fi
}

if [ "${1:-}" = "--remove" ]; then
  rm -f "$entry"
  for icon in "$here"/icons/hicolor/*/apps/$id.png; do
    size=$(basename "$(dirname "$(dirname "$icon")")")
    rm -f "$data/icons/hicolor/$size/apps/$id.png"
  done
  refresh_caches
  echo "Removed $entry"
  exit 0
fi

# The path goes into Exec as one quoted argument: quotes, backquotes, dollars and backslashes are
# escaped for the argument, every backslash once more for the value, and % is doubled.
escaped=$(printf '%s' "$here/launcher" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')
mkdir -p "$data/applications"
EXEC_LINE="Exec=\"$escaped\"" awk '/^Exec=/ { print ENVIRON["EXEC_LINE"]; next } { print }' \
  "$here/$id.desktop" > "$entry.tmp"
mv -f "$entry.tmp" "$entry"
for icon in "$here"/icons/hicolor/*/apps/$id.png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  mkdir -p "$data/icons/hicolor/$size/apps"
  cp -f "$icon" "$data/icons/hicolor/$size/apps/$id.png"
done
refresh_caches
echo "Added $entry"
