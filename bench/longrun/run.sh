#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The long real-time run: Kestrovan against the demo router (a call every 150 s) for at least
# ten minutes, then its CPU time and peak resident memory, the calls it metered and whether the
# call log and the totals file agree. Settings live in a temporary XDG_CONFIG_HOME and the
# router is 127.0.0.1; nothing outside the run folder is touched.
#   KV_LONGRUN_SECONDS  how long Kestrovan runs (default 600)
#   KV_BUILD_DIR        build folder (default build-release/)
#   KV_BUILD_TYPE       its build type when it is configured here (default Release)
#   KV_LONGRUN_KEEP=1   keep the run folder
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
. "$root/scripts/lib/simulated_router.sh"
seconds="${KV_LONGRUN_SECONDS:-600}"
build="${KV_BUILD_DIR:-$root/build-release}"
type="${KV_BUILD_TYPE:-Release}"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
fi
cmake --build "$build" --target kestrovan mn128sim -j 2 >/dev/null
echo "== build: $build ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt"))"

run="$(mktemp -d /tmp/kestrovan-longrun.XXXXXX)"
sim_pid=""; kv_pid=""
cleanup() {
  [ -n "$kv_pid" ] && kill -KILL "$kv_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ "${KV_LONGRUN_KEEP:-0}" = "1" ]; then echo "== run folder kept: $run"; else rm -rf "$run"; fi
}
trap cleanup EXIT

mkdir -p "$run/program" "$run/config/Qel"
cp "$build/src/app/ui/kestrovan" "$run/program/"

start_simulated_router "$build" "$run"

# The router on loopback before anything starts; short units (10 s) and idle limit so each
# demo call is metered over several units and cut by the automatic disconnection.
write_throwaway_settings "$run/config/Qel/Kestrovan.conf" 10

echo "== mn128sim on 127.0.0.1:$port; Kestrovan runs for $seconds s in $run/program"
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$run/config" KESTROVAN_CONSOLE_PORT="$port" \
  KESTROVAN_MESSAGEBOX_LOG="$run/messageboxes.log" \
  "$run/program/kestrovan" >"$run/kestrovan.out" 2>&1 &
kv_pid=$!
started=$(date +%s.%N)

# Samples every 60 s so a growth in memory would show.
elapsed=0
while [ "$elapsed" -lt "$seconds" ]; do
  step=$(( seconds - elapsed < 60 ? seconds - elapsed : 60 ))
  sleep "$step"; elapsed=$((elapsed + step))
  kill -0 "$kv_pid" 2>/dev/null || { echo "== Kestrovan ended by itself after ${elapsed} s"; break; }
  printf '   %4d s  VmRSS %s\n' "$elapsed" "$(awk '/^VmRSS/ {print $2 " " $3}' /proc/$kv_pid/status)"
done

kill -0 "$kv_pid" 2>/dev/null || { cat "$run/kestrovan.out"; exit 1; }
# CPU time and peak memory while it still runs (utime, stime: fields 14 and 15).
ticks=$(getconf CLK_TCK)
read -r utime stime < <(sed 's/^.*) //' "/proc/$kv_pid/stat" | awk '{print $12, $13}')
hwm_kb=$(awk '/^VmHWM/ {print $2}' "/proc/$kv_pid/status")
wall=$(echo "$(date +%s.%N) - $started" | bc -l)

kill -TERM "$kv_pid"
for _ in $(seq 1 150); do kill -0 "$kv_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$kv_pid" 2>/dev/null; then echo "== Kestrovan did not end on SIGTERM; killed"; kill -KILL "$kv_pid"; fi
wait "$kv_pid" 2>/dev/null || true
kv_pid=""
kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

cpu=$(echo "($utime + $stime) / $ticks" | bc -l)
pct=$(echo "100 * $cpu / $wall" | bc -l)
printf '== wall %.1f s, CPU %.2f s (user %.2f, system %.2f) = %.3f %% of one core (target < 1 %%)\n' \
  "$wall" "$cpu" "$(echo "$utime/$ticks" | bc -l)" "$(echo "$stime/$ticks" | bc -l)" "$pct"
printf '== peak resident memory VmHWM %.1f MB (target < 60 MB)\n' "$(echo "$hwm_kb/1024" | bc -l)"

log="$(iconv -f CP932 -t UTF-8 "$run/program/Kestrovan.log" 2>/dev/null | tr -d '\r' || true)"
connects=$(grep -c '^"Connect"' <<<"$log" || true)
ends=$(grep -c '^"DisConnect"' <<<"$log" || true)
tels=$(grep -c '^"Tel"' <<<"$log" || true)
units=$(awk -F, '/^"Tel"/ {s += $8} END {print s + 0}' <<<"$log")
dat="$(tr -d '\r' <"$run/program/Kestrovan.dat" 2>/dev/null || true)"
echo "== calls metered: $connects Connect, $ends DisConnect, $tels Tel lines; $units units in the Tel lines"
echo "== totals file: $dat"
month=$(awk -F, '{print $1 + $5}' <<<"$dat")
lastline="$(iconv -f CP932 -t UTF-8 "$run/program/Kestrovan.dbg" | tr -d '\r' | tail -1)"
echo "== last trace line: $lastline"
ok=1
[ "$connects" -gt 0 ] && [ "$connects" = "$ends" ] && [ "$ends" = "$tels" ] || ok=0
[ "${month:-x}" = "$units" ] || ok=0
# The trace line is "yymmdd hh:mm:ss message" in quotes.
grep -q ' query"$' <<<"$lastline" || ok=0
if [ -s "$run/messageboxes.log" ]; then echo "== message boxes:"; cat "$run/messageboxes.log"; ok=0; fi
if [ "$ok" = 1 ]; then
  echo "== files agree: every Connect has its DisConnect and Tel line, month + previous month = units logged"
else
  echo "== MISMATCH (see above)"; KV_LONGRUN_KEEP=1; exit 1
fi
