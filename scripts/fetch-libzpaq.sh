#!/usr/bin/env bash
# Puts libzpaq.h and libzpaq.cpp from Debian's zpaq source package into .cache/libzpaq/, where
# CMake finds them. The repository does not carry that code.
#
# apt runs with a private configuration (its own source list, package lists and cache in a
# temporary directory), so the machine's apt sources are never changed. Returns at once when the
# files are already there.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${LIBZPAQ_DIR:-$PWD/.cache/libzpaq}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=${DEBIAN_SUITE:-bookworm}

if [ -s "$target/libzpaq.h" ] && [ -s "$target/libzpaq.cpp" ]; then
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt downloads as the unprivileged user _apt, which must be able to reach and write these.
chmod 755 "$work"
mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial" "$work/download"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" \
  >"$work/sources.list"
if id _apt >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then
  chown -R _apt "$work/lists" "$work/cache" "$work/download"
fi

apt_private=(
  -o "Dir::Etc::SourceList=$work/sources.list"
  -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::Cache=$work/cache"
)
apt-get -qq "${apt_private[@]}" update
(cd "$work/download" && apt-get -qq "${apt_private[@]}" source --download-only zpaq >/dev/null)

dsc=$(ls "$work"/download/zpaq_*.dsc)
# apt has checked the files against the signed index; dpkg-source applies Debian's patches.
(cd "$work" && dpkg-source --no-check -x "$dsc" unpacked >/dev/null)

mkdir -p "$target"
install -m 644 "$work/unpacked/libzpaq.h" "$work/unpacked/libzpaq.cpp" "$work/unpacked/COPYING" \
  "$target/"
basename "$dsc" .dsc >"$target/VERSION"
echo "libzpaq: $(cat "$target/VERSION") in $target"
