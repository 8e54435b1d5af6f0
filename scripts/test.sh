#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the formatting, builds everything and runs every test: the normal build, then the same
# suite under AddressSanitizer + UndefinedBehaviorSanitizer; with KV_WINDOWS_CHECK=1 also the
# Windows cross build of the plain C++ libraries and their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
bash scripts/format.sh --check
jobs=$(nproc)
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
if [ "${KV_SKIP_ASAN:-0}" != "1" ]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
if [ "${KV_WINDOWS_CHECK:-0}" = "1" ]; then
  bash scripts/windows-check.sh
fi
