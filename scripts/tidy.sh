#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the given C++ sources, or over every
# tracked source below src/ when none are given (what ships; the tests and benchmarks too would
# take CI past its time on two cores: name them to check them). Needs a configured and built build/ (the
# compile commands and Qt's generated files); BUILD_DIR names another. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: build first (scripts/build.sh)" >&2
  exit 2
fi
if (($#)); then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- 'src/*.cpp')
fi
printf '%s\0' "${files[@]}" |
  xargs -0 -n 4 -P "$(nproc)" clang-tidy -p "$build" --quiet 2> >(grep -v 'warnings generated' >&2)
echo "tidy: ${#files[@]} files without findings"
