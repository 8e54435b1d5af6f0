#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the libraries that need no Qt, and their tests, for 64-bit Windows with
# Debian's mingw-w64 and runs the tests under Wine. Installs what it needs on first use.
# KV_WINDOWS_CHECK=gui: the whole Windows program with Qt, its installer, under Wine
# (scripts/windows-gui-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${KV_WINDOWS_CHECK:-}" = gui ]; then exec bash scripts/windows-gui-check.sh; fi
start=$SECONDS

. scripts/lib/ensure_packages.sh
ensure_packages g++-mingw-w64-x86-64-posix wine64 googletest cmake ninja-build

build=build-windows
jobs=$(nproc)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DKV_QT_FREE=ON -DKV_GTEST_SOURCE=/usr/src/googletest >/dev/null
cmake --build "$build" -j "$jobs"

# A prefix of the build's own, made once (about 7 s); no Mono or Gecko prompts.
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # The very first start of a new prefix sometimes reports failure though it worked.
  /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 ||
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
fi
# One server for the whole run: one that quits between two tests can drop the next one's
# connection ("recvmsg: Connection reset by peer"). Its services are started here, away from
# the tests' output: started by a test, they would hold its pipe open and ctest would wait
# for them until the test's time ran out.
/usr/lib/wine/wineserver -w  # a server still running (from making the prefix) ends first
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" | tee "$build/ctest.log" || status=$?
passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$build/ctest.log" || true)
failed=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$build/ctest.log" | grep -vc ' Passed' || true)
# Cases, from the tests' own output.
cases=$(grep -hoE '^\[  PASSED  \] [0-9]+' "$build/Testing/Temporary/LastTest.log" |
  awk '{s += $4} END {print s + 0}')

# The simulator for Windows as a script drives it: control lines on its standard input, a
# console client on 127.0.0.1 that logs in and sees a call come up.
sim_dir=$(mktemp -d)
mkfifo "$sim_dir/in" "$sim_dir/out"
/usr/lib/wine/wine64 "$build/tools/mn128sim/mn128sim.exe" --listen 127.0.0.1:0 \
  <"$sim_dir/in" >"$sim_dir/out" 2>"$sim_dir/err" &
sim=$!
exec 7>"$sim_dir/in" 8<"$sim_dir/out"
sim_ok=0
if read -r -t 30 listening <&8 && exec 5<>"/dev/tcp/127.0.0.1/${listening##*:}"; then
  printf '\nuser\n' >&5
  echo "up 1" >&7
  read -r -t 10 reply <&8 || true
  sleep 1
  printf 'show status\nquit\n' >&5
  status_text=$(timeout 10 cat <&5 | iconv -f CP932 -t UTF-8 || true)
  exec 5>&-
  echo quit >&7
  if [[ $reply == ok* ]] && grep -q 'Welcome to MN128-SOHO' <<<"$status_text" &&
    grep -q '端末型' <<<"$status_text" && wait "$sim"; then
    sim_ok=1
  fi
fi
exec 7>&- 8<&-
kill "$sim" 2>/dev/null || true
rm -rf "$sim_dir"
if [ "$sim_ok" = 1 ]; then
  echo "mn128sim.exe: logged in, a call came up, ended on quit"
else
  echo "mn128sim.exe: FAILED"
  status=1
fi

echo "Windows check: $cases test cases passed in the test programs; took $((SECONDS - start)) s"
echo "windows: $passed passed, $failed failed"
exit "$status"
