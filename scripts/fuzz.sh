#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   bash scripts/fuzz.sh [seconds-per-target] [target ...]
# Targets: status showtime receive totals calllog settingint exportfile. Each starts from the
# kept corpus in tests/data/corpus/<target> (copied, so the repository is not touched); new
# inputs that crash are left in build-fuzz/artifacts/ for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh fuzz
secs=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(status showtime receive totals calllog settingint exportfile)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DKV_SANITIZE=ON -DKV_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")
mkdir -p build-fuzz/artifacts
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  cp -n tests/data/corpus/$t/* "$work"/ 2>/dev/null || true
  echo "== fuzz_$t for ${secs}s"
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ./build-fuzz/tests/fuzz/fuzz_$t -max_total_time="$secs" -max_len=16384 -timeout=10 \
      -artifact_prefix=build-fuzz/artifacts/$t- "$work" 2>&1 | grep -E '^#[0-9]+ *DONE|ERROR|SUMMARY|Done' || true
done
if ls build-fuzz/artifacts/* >/dev/null 2>&1; then
  echo "inputs that failed: build-fuzz/artifacts/"; ls build-fuzz/artifacts; exit 1
fi
echo "no failures"
