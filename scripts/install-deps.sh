#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine needs to build and test the launcher.
# Idempotent: when every package is already present it returns without touching apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qttools5-dev qttools5-dev-tools
  zlib1g-dev liblzma-dev libzstd-dev libssl-dev openssl
  fonts-liberation ca-certificates xvfb xauth nginx-light
  dpkg-dev lzip xz-utils zstd clang libclang-rt-14-dev
  curl xdotool x11-utils imagemagick dbus-daemon
  desktop-file-utils appstream lintian fakeroot
  clang-format clang-tidy ccache jq
  libfuse3-dev fuse3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# libzpaq comes as source from Debian's zpaq package, outside the repository.
"$(dirname "$0")/fetch-libzpaq.sh"
