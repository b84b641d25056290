#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/. Extra CMake options
# come from KESTRUN_CMAKE_OPTIONS (CI passes -DKESTRUN_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_type=${BUILD_TYPE:-RelWithDebInfo}
source scripts/compiler-cache.sh
# shellcheck disable=SC2086 # the options are meant to be split into words
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "${compiler_cache[@]}" \
  ${KESTRUN_CMAKE_OPTIONS:-} >/dev/null
cmake --build build
