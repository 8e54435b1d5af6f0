#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows program tried as a Windows user meets it, under Wine on a display of its own
# (Xvfb), in a scratch Wine prefix: installs it with the installer, runs the Windows test
# programs that need Qt, starts kestrovan.exe against mn128sim running natively on 127.0.0.1,
# sees it log in, meter a call, cut it automatically and write its files, refuses a second
# start, ends it as Windows ends a session, round-trips the settings through pelvaro.exe and
# reg.exe, and uninstalls. Run through scripts/windows-check.sh with KV_WINDOWS_CHECK=gui.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
start=$SECONDS

. scripts/lib/ensure_packages.sh
ensure_packages g++-mingw-w64-x86-64-posix wine64 xvfb xauth nsis zip googletest cmake ninja-build

step() { echo "== $(date -u +%T) $*"; }
winpath() { echo "Z:${1//\//\\}"; }
failures=0
check() {  # check "what" command...
  local what=$1
  shift
  if "$@"; then echo "   ok: $what"; else echo "   FAILED: $what"; failures=$((failures + 1)); fi
}
waitfor() {  # waitfor SECONDS command...: true once the command succeeds
  local until=$((SECONDS + $1))
  shift
  while ! "$@"; do
    [ $SECONDS -ge $until ] && return 1
    sleep 0.5
  done
}

step "building Qt (when missing), the programs and the installer"
qt=$(bash scripts/windows-qt.sh | tail -n 1)
KV_WINDOWS_TESTS=1 KV_WINDOWS_PROGRAMS_FIRST=1 bash scripts/windows-package.sh
build=build-windows-qt
setup=$(ls out/windows/kestrovan-*-setup.exe)

step "building the simulator for this machine"
sim_build=build-windows-sim
cmake -S . -B "$sim_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_BUILD_TESTS=OFF >/dev/null
nice cmake --build "$sim_build" -j 2 --target mn128sim >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrovan-wine.XXXXXX")
sim_pid="" xvfb_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

step "a display and a new Wine prefix"
for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break; done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
waitfor 10 test -e "/tmp/.X11-unix/X$n"
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
wine=/usr/lib/wine/wine64
$wine wineboot --init </dev/null >/dev/null 2>&1 || $wine wineboot --init </dev/null >/dev/null 2>&1
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
$wine wineboot </dev/null >/dev/null 2>&1
reg() { $wine reg "$@" 2>/dev/null | tr -d '\r'; }
profile=$WINEPREFIX/drive_c/users/$(id -un)
instdir=$profile/AppData/Local/Programs/Kestrovan
menu=$profile/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Kestrovan
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrovan'

step "installing silently, as the user"
$wine "$setup" /S </dev/null >/dev/null 2>&1
check "installed under %LOCALAPPDATA%\\Programs\\Kestrovan" \
  waitfor 60 test -f "$instdir/uninstall.exe"
check "the program, Pelvaro, Qt's plugin and the help page are there" \
  test -f "$instdir/kestrovan.exe" -a -f "$instdir/pelvaro.exe" \
  -a -f "$instdir/platforms/qwindows.dll" -a -f "$instdir/使用方法.htm"
check "Start-menu shortcuts for Kestrovan and Pelvaro" \
  test -f "$menu/Kestrovan.lnk" -a -f "$menu/Pelvaro.lnk"
check "listed in the user's programs" eval "reg query '$uninstall_key' | grep -q UninstallString"
for exe in kestrovan pelvaro; do
  x86_64-w64-mingw32-windres -J coff -i "$instdir/$exe.exe" -O rc >"$scratch/$exe.rc" 2>&1 || true
  check "$exe.exe is a 64-bit window program" \
    eval "file '$instdir/$exe.exe' | grep -q 'PE32+ executable (GUI) x86-64'"
  check "$exe.exe carries the icon, version information and the manifest" \
    eval "grep -q RT_GROUP_ICON '$scratch/$exe.rc' && grep -q 'VALUE \"FileVersion\", L\"0.66' \
      '$scratch/$exe.rc' && grep -q PerMonitorV2 '$scratch/$exe.rc' &&
      grep -q Common-Controls '$scratch/$exe.rc'"
done
check "--version and --help print, with no window and no settings touched" \
  eval "$wine '$instdir/kestrovan.exe' --version </dev/null 2>&1 | grep -q 'Kestrovan Ver 0.66' &&
        $wine '$instdir/kestrovan.exe' --help </dev/null 2>&1 | grep -q '使い方: kestrovan' &&
        $wine '$instdir/pelvaro.exe' --help </dev/null 2>&1 | grep -q '使い方: pelvaro' &&
        ! reg query 'HKCU\\Software\\Qel' >/dev/null"

step "settings in the registry, the router on 127.0.0.1"
mkfifo "$scratch/sim.in" "$scratch/sim.out"
"$sim_build/tools/mn128sim/mn128sim" --listen 127.0.0.1:0 --transcript "$scratch/sim.log" \
  <"$scratch/sim.in" >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
exec 7>"$scratch/sim.in" 8<"$scratch/sim.out"
read -r -t 10 listening <&8
port=${listening##*:}
sim() { echo "$*" >&7 && read -r -t 10 reply <&8 && [[ $reply == ok* ]]; }
setup_key='HKCU\Software\Qel\Kestrovan\Setup'
# Units of 10 seconds in every band, so the automatic cut comes within a unit.
for kv in sohoip=127.0.0.1 seca=10 secb=10 secc=10 ctanni=10 atcuttm=5 atcutmode=1 \
  atcutdly=3 sohoint=300 soho2int=300 dspint=1000 debuglog=1 winmodes=0 winmodec=1 \
  winmodedc=1 holiday=" 1/ 1"; do
  reg add "$setup_key" /v "${kv%%=*}" /t REG_SZ /d "${kv#*=}" /f >/dev/null
done
check "settings written with reg.exe read back" \
  eval "reg query '$setup_key' /v sohoip | grep -q '127.0.0.1'"

step "kestrovan.exe logs in, meters a call and cuts it when it idles"
boxes=$scratch/boxes.log
export KESTROVAN_CONSOLE_PORT=$port KESTROVAN_MESSAGEBOX_LOG
KESTROVAN_MESSAGEBOX_LOG=$(winpath "$boxes")
(cd "$instdir" && $wine kestrovan.exe -debug </dev/null >"$scratch/kestrovan.out" 2>&1) &
kestrovan_pid=$!
check "logged in and polling" waitfor 60 grep -q 'show status' "$scratch/sim.log"
log=$instdir/Kestrovan.log
check "a second start is refused" eval "(cd '$instdir' && timeout 60 $wine kestrovan.exe \
  </dev/null >/dev/null 2>&1); test \$? = 1 && grep -q 'すでに起動されています' '$boxes'"
check "the router's line comes up" sim up 1
check "the call is in the log" waitfor 30 grep -qs Connect "$log"
check "the line idles" eval "sim traffic off && sim idle 1 60"
check "cut automatically before the next unit" waitfor 30 grep -qs DisConnect "$log"
check "the router was told to disconnect" grep -q 'recv disconnect' "$scratch/sim.log"
check "Kestrovan.dat written" waitfor 10 test -f "$instdir/Kestrovan.dat"
check "Kestrovan.log is CP932 with CR LF line ends" eval "iconv -f CP932 -t UTF-8 '$log' \
  >/dev/null && ! tr -d '\r' <'$log' | cmp -s - '$log' && test \"\$(grep -c \$'\r\$' '$log')\" \
  = \"\$(wc -l <'$log')\""

step "Windows ends the session"
$wine wineboot --end-session </dev/null >/dev/null 2>&1 || true
check "the program ended" waitfor 30 eval "! kill -0 $kestrovan_pid 2>/dev/null"
check "its trace ends with \"query\"" \
  eval "tr -d '\r' <'$instdir/Kestrovan.dbg' | tail -n 1 | grep -q 'query'"
check "the window position was saved" \
  eval "reg query 'HKCU\\Software\\Qel\\Kestrovan\\FormPos' /v Main | grep -q REG_SZ"

step "Pelvaro saves, deletes and loads the settings"
pelvaro() { (cd "$instdir" && $wine pelvaro.exe "$@" </dev/null 2>&1 | tr -d '\r'); }
check "--save" eval "pelvaro --save | grep -q '保存しました'"
check "Kestrovan.reg: 44 lines, CR LF" \
  eval "test \"\$(grep -c \$'\r\$' '$instdir/Kestrovan.reg')\" = 44"
check "--delete" eval "pelvaro --yes --delete | grep -q '削除しました'"
check "nothing left in the registry" eval "! reg query 'HKCU\\Software\\Qel\\Kestrovan' >/dev/null"
check "--load" eval "pelvaro --yes --load | grep -q '読込ました'"
# Every key of the file comes back, also those nobody had written (ver, empty here).
check "reg.exe reads the settings back" \
  eval "reg query '$setup_key' /v holiday | grep -q ' 1/ 1' &&
        reg query '$setup_key' /v sohoip | grep -q '127.0.0.1' &&
        reg query '$setup_key' /v runstop3 | grep -q 'REG_SZ *0' &&
        reg query 'HKCU\\Software\\Qel\\Kestrovan\\Variant' /v ver | grep -q REG_SZ &&
        reg query 'HKCU\\Software\\Qel\\Kestrovan\\FormPos' /v Main | grep -q REG_SZ"

step "uninstalling"
$wine "$instdir/uninstall.exe" /S </dev/null >/dev/null 2>&1
check "the program is gone" waitfor 60 eval "! test -e '$instdir/kestrovan.exe'"
# The uninstaller removes the programs first, the shortcuts and its entry after them.
check "so are the shortcuts and the programs-list entry" \
  waitfor 30 eval "! test -e '$menu' && ! reg query '$uninstall_key' >/dev/null"
check "the call log, the totals and the settings stay" \
  eval "test -f '$log' -a -f '$instdir/Kestrovan.dat' &&
        reg query '$setup_key' /v sohoip | grep -q '127.0.0.1'"

step "the Windows test programs that need Qt"
nice cmake --build "$build" -j 2
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH
WINEPATH="$(winpath "$qt/bin");$(winpath "$gcc_dir");$(winpath /usr/x86_64-w64-mingw32/lib)"
ctest --test-dir "$build" --output-on-failure -j 2 | tee "$scratch/ctest.log" || true
tests_passed=$(grep -cE 'Test +#[0-9]+: .* Passed' "$scratch/ctest.log" || true)
tests_total=$(grep -cE 'Test +#[0-9]+: ' "$scratch/ctest.log" || true)
cases=$(grep -hoE '^\[  PASSED  \] [0-9]+' "$build/Testing/Temporary/LastTest.log" |
  awk '{s += $4} END {print s + 0}')
check "test programs: $tests_passed of $tests_total passed ($cases cases)" \
  test "$tests_passed" = "$tests_total" -a "$tests_total" -gt 0
unset WINEPATH

echo "Windows GUI check: $failures failed; took $((SECONDS - start)) s"
[ "$failures" = 0 ]
