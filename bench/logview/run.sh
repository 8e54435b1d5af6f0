#!/usr/bin/env bash
# Builds the call-log benchmark optimised and runs it: a million calls read by the viewer's
# core and by an awk one-liner, per-day totals, time ratio and peak memory.
# Usage: bench/logview/run.sh [build folder] [folder for the generated log]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build-logview-bench}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_BENCH=ON -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target logview_bench -j2
"$build/bench/logview/logview_bench" ${2:+"$2"}
