#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Kestrovan and the router simulator, and runs Kestrovan against the simulator for about
# two minutes in a throw-away folder: a call comes up, is metered, cut and logged. Prints the
# call log, the totals and the trace at the end. Nothing outside the demo folder is touched:
# the settings live in a temporary XDG_CONFIG_HOME and the router is 127.0.0.1.
#   KV_DEMO_SECONDS   how long Kestrovan runs (default 120)
#   KV_DEMO_KEEP=1    keep the demo folder
#   KV_BUILD_DIR      build folder (default build-demo/: the programs alone, no tests)
# Pictures are taken of Kestrovan's own window only, never of the rest of the screen.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/lib/simulated_router.sh"
seconds="${KV_DEMO_SECONDS:-120}"
build="${KV_BUILD_DIR:-$root/build-demo}"

if [ "${KV_DEMO_INNER:-0}" != "1" ]; then
  bash "$root/scripts/setup.sh" demo
  if [ -z "${KV_BUILD_DIR:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_BUILD_TESTS=OFF >/dev/null
  else
    cmake -S "$root" -B "$build" -G Ninja >/dev/null
  fi
  cmake --build "$build" --target kestrovan pelvaro mn128sim -j "$(nproc)"
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "== no display: running under xvfb-run"
    exec env KV_DEMO_INNER=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
  fi
  export KV_DEMO_INNER=1
fi

demo="$(mktemp -d /tmp/kestrovan-demo.XXXXXX)"
sim_pid=""; kv_pid=""
cleanup() {
  [ -n "$kv_pid" ] && kill -KILL "$kv_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ "${KV_DEMO_KEEP:-0}" = "1" ]; then echo "== demo folder kept: $demo"; else rm -rf "$demo"; fi
}
trap cleanup EXIT

# The program and its help page; the data files appear beside them.
mkdir -p "$demo/program" "$demo/config/Qel" "$demo/screenshots"
cp "$build/src/app/ui/kestrovan" "$demo/program/"
cp "$root/docs/使用方法.htm" "$demo/program/"

# The simulated router on a free loopback port.
start_simulated_router "$build" "$demo"
echo "== mn128sim listens on 127.0.0.1:$port"

# Throw-away settings: the router on loopback, short charge units (30 s) and a short idle limit
# (10 s), so the automatic disconnection is seen within the first minute.
write_throwaway_settings "$demo/config/Qel/Kestrovan.conf" 30

echo "== starting Kestrovan for ${seconds} s (folder $demo/program)"
XDG_CONFIG_HOME="$demo/config" KESTROVAN_CONSOLE_PORT="$port" \
  KESTROVAN_MESSAGEBOX_LOG="$demo/messageboxes.log" \
  "$demo/program/kestrovan" -debug >"$demo/kestrovan.out" 2>&1 &
kv_pid=$!

# Kestrovan's main window: the largest window of its class that is showing.
kestrovan_window() {
  local best="" area=0 id w h
  while read -r id w h; do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
    if [ $((w * h)) -gt "$area" ]; then best=$id; area=$((w * h)); fi
  done < <(xwininfo -root -tree 2>/dev/null |
    sed -n 's/^ *\(0x[0-9a-f]*\) .*("kestrovan" "kestrovan") *\([0-9]*\)x\([0-9]*\)+.*/\1 \2 \3/p')
  echo "$best"
}
shot() {
  command -v import >/dev/null 2>&1 && command -v xwininfo >/dev/null 2>&1 || return 0
  [ -n "${DISPLAY:-}" ] || return 0
  local win; win="$(kestrovan_window)"
  [ -n "$win" ] || { echo "   (no window to photograph at $1)"; return 0; }
  import -window "$win" "$demo/screenshots/$1.png" 2>/dev/null && echo "   screenshot $1.png"
}
elapsed=0
for at in 3 15 40 "$seconds"; do
  [ "$at" -gt "$seconds" ] && at="$seconds"
  [ "$at" -le "$elapsed" ] && continue
  sleep $((at - elapsed)); elapsed=$at
  if ! kill -0 "$kv_pid" 2>/dev/null; then echo "== Kestrovan ended by itself"; break; fi
  echo "-- ${at} s"; shot "t${at}"
  [ -f "$demo/program/Kestrovan.log" ] && iconv -f CP932 -t UTF-8 "$demo/program/Kestrovan.log" | tail -3 | sed 's/^/   /'
done

echo "== ending Kestrovan (SIGTERM: the same shutdown as the menu's 終了)"
kill -TERM "$kv_pid" 2>/dev/null || true
for _ in $(seq 1 100); do kill -0 "$kv_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$kv_pid" 2>/dev/null && { echo "   still running; killed"; kill -KILL "$kv_pid"; }
wait "$kv_pid" 2>/dev/null || true
kv_pid=""

show() {
  echo; echo "== $1"
  if [ -f "$2" ]; then iconv -f CP932 -t UTF-8 "$2" | tr -d '\r' | tail -n "${3:-40}"; else echo "(none)"; fi
}
show "call log Kestrovan.log" "$demo/program/Kestrovan.log"
show "totals Kestrovan.dat" "$demo/program/Kestrovan.dat"
echo; echo "== trace Kestrovan.dbg (the poll's and the meter's step lines left out)"
if [ -f "$demo/program/Kestrovan.dbg" ]; then
  iconv -f CP932 -t UTF-8 "$demo/program/Kestrovan.dbg" | tr -d '\r' |
    grep -v -E ' (GetNow|Sendbyte|Port|Receive|Second_ck)(-st|-end|-1)?"$| second_ck\([0-9]+\)"$' | tail -n 40
fi
if [ -s "$demo/messageboxes.log" ]; then echo; echo "== message boxes"; cat "$demo/messageboxes.log"; fi
if ls "$demo/screenshots/"*.png >/dev/null 2>&1; then
  mkdir -p "$build/demo-screenshots"
  cp "$demo/screenshots/"*.png "$build/demo-screenshots/"
  echo; echo "== screenshots in $build/demo-screenshots"
fi
echo
echo "== the programs are in $build: src/app/ui/kestrovan, src/maint/pelvaro, tools/mn128sim/mn128sim"
echo "   Kestrovan by hand: copy it with docs/使用方法.htm into a folder of its own and start it there"
echo "   Pelvaro (settings backup):  $build/src/maint/pelvaro            (its window)"
echo "                               $build/src/maint/pelvaro --help     (from the terminal)"
