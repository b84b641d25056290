#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and runs
# every test there (unit, process and end-to-end). Any error or leak is fatal, also in the
# programs the tests start (the launcher, the publisher, the demo client): each process writes
# its report into build-asan/sanitizer-reports/, and a report fails the run even when the test
# that started the program only looked at its exit status. --no-e2e neither builds nor runs the
# end-to-end tests. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
end_to_end=ON
if [ "${1:-}" = --no-e2e ]; then
  end_to_end=OFF
  shift
fi
scripts/install-deps.sh
source scripts/compiler-cache.sh
# -O1 and line tables only: the reports keep file and line, and the build takes half the time.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${compiler_cache[@]}" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DKESTRUN_SANITIZE=address,undefined -DKESTRUN_END_TO_END_TESTS="$end_to_end" >/dev/null
cmake --build build-asan

reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
suppressions=$PWD/scripts/sanitizers
cc -shared -fPIC -O2 -o build-asan/libkeepmodules.so "$suppressions/keepmodules.c"
export LD_PRELOAD=$PWD/build-asan/libkeepmodules.so
# verify_asan_link_order: the preloaded library comes before the sanitizer runtime, which is fine
# as it allocates nothing. intercept_tls_get_addr: with glibc 2.36 the leak checker's record of
# dynamic TLS goes stale when a thread ends and it crashes while scanning it (every few runs).
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:verify_asan_link_order=0:\
intercept_tls_get_addr=0:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$suppressions/ubsan.supp:\
log_path=$reports/ubsan"
export QT_QPA_PLATFORM=offscreen

status=0
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" "$@" || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "== Sanitizer reports"
  for report in "$reports"/*; do
    echo "-- $report"
    cat "$report"
  done
  status=1
fi
exit "$status"
