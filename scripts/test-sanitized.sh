#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and runs
# every test there (unit, process and end-to-end). Any error or leak is fatal, also in the
# programs the tests start (the launcher, the publisher, the demo client): each process writes
# its report into build-asan/sanitizer-reports/, and a report fails the run even when the test
# that started the program only looked at its exit status. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRUN_SANITIZE=address,undefined >/dev/null
cmake --build build-asan

reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
suppressions=$PWD/scripts/sanitizers
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:\
check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
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
