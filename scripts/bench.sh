#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmarks (release preset) and runs them; each prints its own figures.
#   bash scripts/bench.sh            link and call-log benchmarks (a few minutes)
#   bash scripts/bench.sh longrun    also the 10-minute real-time run against the demo router
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh bench
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
echo "== link: CPU while a reply is late, reply detection latency"
./build-release/bench/link/link_bench
echo "== link: reconnection after 20 router restarts"
./build-release/bench/link/reconnect_bench
echo "== call log: 10^5, 10^6 and 10^7 calls against cat, wc and awk; the viewer window"
bash bench/logview/run.sh
if [ "${1:-}" = "longrun" ]; then
  echo "== 10 minutes against the demo router"
  bash bench/longrun/run.sh
fi
