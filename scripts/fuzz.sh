#!/usr/bin/env bash
# Builds the fuzzers into build-fuzz/ and runs them side by side for SECONDS (default 60), one
# per core: the container decoder from seeds the writer makes for every codec, and updates of an
# installation from seeds made of the document cases the tests know. Any crash, leak, hang,
# out-of-memory, sanitizer report or broken check ends a fuzzer with a non-zero status, fails the
# script and leaves the input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/fetch-libzpaq.sh
started=$SECONDS
source scripts/compiler-cache.sh
CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${compiler_cache[@]}" >/dev/null
cmake --build build-fuzz -j "$(nproc)"
echo "fuzzers built in $((SECONDS - started)) s"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/artifacts/container build-fuzz/artifacts/install
build-fuzz/container_seeds "$work/container"
build-fuzz/install_seeds "$work/install"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build-fuzz/container_fuzzer "$work/container" -max_total_time="$seconds" -timeout=30 \
  -rss_limit_mb=3072 -max_len=12000 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/container/ >"$work/container.log" 2>&1 &
container=$!
build-fuzz/install_fuzzer "$work/install" -max_total_time="$seconds" -timeout=60 \
  -rss_limit_mb=3072 -max_len=512 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/install/ >"$work/install.log" 2>&1 &
install=$!

status=0
for name in container install; do
  pid=$container
  [ "$name" = install ] && pid=$install
  echo "==== $name fuzzer"
  if wait "$pid"; then
    grep -E '^(stat::|Done|INFO: seed corpus)' "$work/$name.log" || true
  else
    status=1
    cat "$work/$name.log"
  fi
done
exit "$status"
