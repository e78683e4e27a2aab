#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test
# that needs no display: the live tests (label e2e) are left out, the ui tests run offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${KORVEX_SKIP_ASAN:-}" ] && exit 0

jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1" \
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --preset asan -LE e2e -j "$jobs"
