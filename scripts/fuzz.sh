#!/usr/bin/env bash
# Builds the container fuzzer into build-fuzz/ and runs it for SECONDS (default 60) from seeds
# the writer makes for every codec. Any crash, leak, hang, out-of-memory or sanitizer report
# ends it with a non-zero status and leaves the input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/fetch-libzpaq.sh
CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/artifacts
build-fuzz/container_seeds "$work/corpus"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build-fuzz/container_fuzzer "$work/corpus" -max_total_time="$seconds" -timeout=30 \
  -rss_limit_mb=3072 -max_len=12000 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/
