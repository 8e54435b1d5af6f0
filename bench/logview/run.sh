#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The call-log benchmark on logs of 10^5, 10^6 and 10^7 calls (about 1.8 GB for the largest;
# kept in the folder for the next run), the program's --check-totals on each, and the viewer
# window with its "累積確認". Builds the release preset itself. Every figure is one
# line "name value unit"; each size starts with its "calls" line.
#   bash bench/logview/run.sh [folder]          all three sizes
#   KV_BENCH_CALLS=N bash bench/logview/run.sh  one size only
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
folder="${1:-${TMPDIR:-/tmp}/kv_logview_bench}"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target logview_bench logview_ui_bench kestrovan -j2 >/dev/null
sizes="${KV_BENCH_CALLS:-100000 1000000 10000000}"
for calls in $sizes; do
  ./build-release/bench/logview/logview_bench "$calls" "$folder" \
    ./build-release/src/app/ui/kestrovan
  QT_QPA_PLATFORM=offscreen ./build-release/bench/logview/logview_ui_bench \
    "$folder/calls-$calls.v2.log" "$calls"
done
