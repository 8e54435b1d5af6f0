#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Three starts under a headless Wayland compositor (weston): the window's stored size must be
# the same after each. Wayland tells a program neither where its window is nor, before it is
# framed, how large its frame is; what it cannot tell must not be stored.
# usage: wayland_size_check.sh <build folder>      exit 77: weston or Qt's Wayland plugin missing
set -u
build=$(cd "${1:?build folder}" && pwd)
command -v weston >/dev/null || { echo "skipped: weston is not installed"; exit 77; }
plugin=$(find /usr/lib /usr/local/lib -path '*platforms/libqwayland-generic.so' 2>/dev/null | head -1)
[ -n "$plugin" ] || { echo "skipped: Qt's Wayland plugin (qt6-wayland) is not installed"; exit 77; }

work=$(mktemp -d /tmp/kestrovan-wayland.XXXXXX)
chmod 700 "$work"
. "$(dirname "$0")/lib.sh"
fail() {
    echo "FAIL: $*"
    tail -5 "$work/weston.log" "$work/kestrovan.out" 2>/dev/null
    exit 1
}

export XDG_RUNTIME_DIR="$work"
weston --backend=headless-backend.so --socket=wayland-kv --idle-time=0 \
    >"$work/weston.log" 2>&1 &
pids+=($!)
within 100 test -S "$work/wayland-kv" || fail "weston did not start"

"$build/tools/mn128sim/mn128sim" --detach --listen 127.0.0.1:0 --autocut 0 --transcript "$work/transcript" \
    >"$work/sim.out" 2>/dev/null &
pids+=($!)
within 50 grep -q '^listening' "$work/sim.out" || fail "no router"
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")

mkdir -p "$work/program" "$work/config/Qel"
cp "$build/src/app/ui/kestrovan" "$work/program/"
conf="$work/config/Qel/Kestrovan.conf"
{
    program_settings
    cat <<CONF
winmodes=0
debuglog=1
CONF
} >"$conf"
sizes=()
for start in 1 2 3; do
    seen=$(stat -c %s "$work/transcript" 2>/dev/null || echo 0)
    WAYLAND_DISPLAY=wayland-kv QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME="$work/config" \
        KESTROVAN_CONSOLE_PORT=$port KESTROVAN_MESSAGEBOX_LOG="$work/boxes.log" \
        "$work/program/kestrovan" >"$work/kestrovan.out" 2>&1 &
    kv=$!
    polled() { tail -c +$((seen + 1)) "$work/transcript" 2>/dev/null | grep -aq 'show status'; }
    within 150 polled || fail "start $start: no poll"
    sleep 1
    kill -TERM $kv
    wait $kv
    stored=$(sed -n 's/^Main=//p' "$conf" | tr -d '"')
    [ -n "$stored" ] || fail "start $start: no position stored"
    echo "start $start: FormPos/Main = $stored"
    sizes+=("$(echo "$stored" | awk '{print $3, $4}')")
done
[ "${sizes[0]}" = "${sizes[1]}" ] && [ "${sizes[1]}" = "${sizes[2]}" ] ||
    fail "the stored size changed: ${sizes[*]}"
exit 0
