#!/usr/bin/env bash
# Makes what players install and checks it: the portable bundle and the Debian package in
# build/packages, the desktop entries (desktop-file-validate), the AppStream metadata (appstreamcli)
# and the Debian package (lintian, failing on errors). Warnings that remain are explained in the
# README. Builds only the launcher, not the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# One commit gives the same dates in the packages however often they are made.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target launcher kestrun_translations kestrun_package_files kestrun_bundle
rm -f build/packages/*.deb
(cd build && cpack -G DEB >/dev/null)

deb=$(ls build/packages/kestrun-launcher_*_amd64.deb)
bundle=$(ls build/packages/kestrun-launcher-*-linux-x86_64.tar.gz)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Desktop entries"
desktop-file-validate build/packaging/system/*.desktop build/packaging/bundle/*.desktop
# The class Qt gives the launcher's windows on X11, so that the desktop finds their entry.
grep -qx 'StartupWMClass=Kestrun Online' build/packaging/system/*.desktop

echo "== AppStream metadata"
appstreamcli validate --no-net build/packaging/system/*.metainfo.xml
# A program name the metadata provides must be one the player can run.
if grep -q '<binary>' build/packaging/system/*.metainfo.xml; then
  echo "the AppStream metadata names a program that is not on the PATH" >&2
  exit 1
fi

echo "== The Debian package"
dpkg-deb --field "$deb" Package Version Depends
lintian --fail-on error --info "$deb"
dpkg-deb --contents "$deb" | awk '{ print $6 }' > "$work/deb-files"
for expected in ./usr/lib/kestrun-launcher/launcher ./usr/lib/kestrun-launcher/launcher.en.qm \
  ./usr/lib/kestrun-launcher/launcher.de.qm \
  ./usr/share/applications/com.halvern.KestrunLauncher.desktop \
  ./usr/share/metainfo/com.halvern.KestrunLauncher.metainfo.xml \
  ./usr/share/icons/hicolor/48x48/apps/com.halvern.KestrunLauncher.png \
  ./usr/share/doc/kestrun-launcher/copyright; do
  grep -qx "$expected" "$work/deb-files" || { echo "missing in the package: $expected" >&2; exit 1; }
done
if grep -q 'launcher-next\|launcher-checkpoints' "$work/deb-files"; then
  echo "a test launcher got into the package" >&2
  exit 1
fi

echo "== The bundle"
tar -xzf "$bundle" -C "$work"
top="$work/$(basename "$bundle" .tar.gz)"
for expected in launcher launcher.en.qm launcher.de.qm com.halvern.KestrunLauncher.desktop install-desktop-entry.sh \
  icons/hicolor/256x256/apps/com.halvern.KestrunLauncher.png; do
  [ -e "$top/$expected" ] || { echo "missing in the bundle: $expected" >&2; exit 1; }
done
if ls "$top" | grep -q 'launcher-next\|launcher-checkpoints\|launchersettings.ini'; then
  echo "the bundle holds a file it must not" >&2
  exit 1
fi
# The entry the bundle writes for its player, from a folder whose name needs quoting.
mv "$top" "$work/My Games \$1"
XDG_DATA_HOME="$work/data" "$work/My Games \$1/install-desktop-entry.sh" >/dev/null
desktop-file-validate "$work/data/applications/com.halvern.KestrunLauncher.desktop"
grep -qx 'Exec="'"$work"'/My Games \\\\$1/launcher"' \
  "$work/data/applications/com.halvern.KestrunLauncher.desktop" ||
  { echo "the bundle's desktop entry does not name its launcher" >&2; exit 1; }
XDG_DATA_HOME="$work/data" "$work/My Games \$1/install-desktop-entry.sh" --remove >/dev/null
# The desktop's caches stay: they index other applications too.
left=$(find "$work/data" -type f ! -name mimeinfo.cache ! -name icon-theme.cache)
[ -z "$left" ] || { echo "--remove left files behind: $left" >&2; exit 1; }

echo "Packages in build/packages:"
ls -l "$deb" "$bundle"
