#!/usr/bin/env bash
# Runs one test with a private home, XDG directories and temporary directory, so tests running in
# parallel never share per-user files, the single-instance lock or temporary files.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-test.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/home" "$root/data" "$root/config" "$root/cache" "$root/runtime" "$root/tmp"
chmod 700 "$root/runtime"
export HOME="$root/home" XDG_DATA_HOME="$root/data" XDG_CONFIG_HOME="$root/config" \
  XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp" \
  QT_QPA_PLATFORM=offscreen
"$@"
