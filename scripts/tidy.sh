#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the given C++ sources, or over every
# tracked source below src/ when none are given (what ships; the tests and benchmarks too would
# take CI past its time on two cores: name them to check them). Needs a configured and built build/ (the
# compile commands, Qt's generated files and the dependencies ninja recorded); BUILD_DIR names
# another. Any finding fails.
#
# A source found clean is remembered under the hash of everything its result depends on: the
# clang-tidy version, .clang-tidy, its compile command (with the checkout's path taken out) and
# the contents of every file it includes. It is checked again only when one of those changes, as a
# compiler cache recompiles; the cache lives in ${KESTRUN_TIDY_CACHE:-~/.cache/kestrun-tidy}, and
# KESTRUN_TIDY_CACHE=off checks everything.
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

cache=${KESTRUN_TIDY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrun-tidy}
root=$PWD
common=$({ clang-tidy --version; cat .clang-tidy; } | sha256sum | cut -c1-64)

# The key of a source's clean result, or nothing when its dependencies are not known.
key_of() {
  local file=$1 command object deps
  command=$(jq -r --arg f "$root/$file" '.[] | select(.file == $f) | .command' \
    "$build/compile_commands.json")
  object=$(sed -n 's/.* -o \([^ ]*\) .*/\1/p' <<<"$command")
  [ -n "$object" ] || return 0
  deps=$(ninja -C "$build" -t deps "$object" 2>/dev/null | sed -n 's/^    //p')
  [ -n "$deps" ] || return 0
  {
    echo "$common"
    echo "${command//$root/@}"
    (cd "$build" && xargs -d '\n' sha256sum <<<"$deps")
  } | sha256sum | cut -c1-64
}

pairs=()
skipped=0
for file in "${files[@]}"; do
  key=
  [ "$cache" = off ] || key=$(key_of "$file")
  if [ -n "$key" ] && [ -e "$cache/$key" ]; then
    skipped=$((skipped + 1))
    continue
  fi
  pairs+=("$file" "${key:-none}")
done
[ "$cache" = off ] || mkdir -p "$cache"

if ((${#pairs[@]})); then
  # One source per call, so that each clean one is remembered on its own.
  printf '%s\0' "${pairs[@]}" |
    xargs -0 -n 2 -P "$(nproc)" sh -c '
      clang-tidy -p "$0" --quiet "$2" || exit 1
      [ "$3" = none ] || touch "$1/$3"' "$build" "$cache" \
      2> >(grep -v 'warnings generated' >&2)
fi
echo "tidy: ${#files[@]} files without findings ($skipped unchanged since a clean check)"
