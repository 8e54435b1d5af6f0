#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The panel goes away while Kestrovan runs with its window hidden: the window must be mapped
# within 3 s, and a call that starts then must be told through the session's notification
# service, as one is while the icon is in the tray. A virtual X display (Xvfb) with a panel (trayer), a session bus of its own with a
# notification service, the simulated router on loopback.
# usage: panel_gone_check.sh <build folder>      exit 77: the tools are not installed
set -u
build=$(cd "${1:?build folder}" && pwd)
for tool in Xvfb trayer xdotool dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
if [ -z "${KV_IN_SESSION:-}" ]; then
    KV_IN_SESSION=1 exec timeout 90 dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d /tmp/kestrovan-panel.XXXXXX)
. "$(dirname "$0")/lib.sh"
fail() {
    echo "FAIL: $*"
    echo "-- trace"; iconv -f CP932 -t UTF-8 "$work/program/Kestrovan.dbg" 2>/dev/null | tail -20
    echo "-- boxes"; cat "$work/boxes.log" 2>/dev/null
    echo "-- log"; iconv -f CP932 -t UTF-8 "$work/program/Kestrovan.log" 2>/dev/null
    echo "-- notes"; cat "$work/notes" 2>/dev/null; echo "-- router"; cat "$work/sim.out"
    exit 1
}

"$build/tests/app/desktop/notification_service" "$work/notes" >"$work/service.out" &
pids+=($!)
within 50 grep -q ready "$work/service.out" || fail "no notification service"

n=70
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
within 50 test -e "/tmp/.X11-unix/X$n" || fail "no X display"
trayer --edge top --align right --widthtype pixel --width 120 --height 32 >/dev/null 2>&1 &
panel=$!
pids+=($panel)

# The router waits for its control lines on a pipe.
mkfifo "$work/control"
"$build/tools/mn128sim/mn128sim" --listen 127.0.0.1:0 --dial-ms 200 --autocut 0 --transcript "$work/transcript" \
    <"$work/control" >"$work/sim.out" 2>/dev/null &
pids+=($!)
exec 3>"$work/control"
within 50 grep -q '^listening' "$work/sim.out" || fail "no router"
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")

mkdir -p "$work/program" "$work/config/Qel"
cp "$build/src/app/ui/kestrovan" "$work/program/"
{
    program_settings
    cat <<CONF
winmodes=1
winmodec=1
winmodedc=1
debuglog=1

[Extra]
notify=1
CONF
} >"$work/config/Qel/Kestrovan.conf"
XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=xcb \
    KESTROVAN_CONSOLE_PORT=$port KESTROVAN_MESSAGEBOX_LOG="$work/boxes.log" \
    "$work/program/kestrovan" >"$work/kestrovan.out" 2>&1 &
kv=$!
pids+=($kv)
shown() { xdotool search --onlyvisible --name '^Kestrovan$' >/dev/null 2>&1; }
# Docked, logged in and polling; the window stays hidden.
within 150 grep -aq 'show status' "$work/transcript" 2>/dev/null || fail "no poll"
sleep 2
shown && fail "the window shows though the icon is in the tray"
# With the icon in the tray too, a call is told through the service, not by a balloon.
echo "up 1" >&3
within 150 grep -q '接続しました' "$work/notes" 2>/dev/null || fail "no notification while docked"
echo "hangup" >&3
within 100 grep -aq 'DisConnect' "$work/program/Kestrovan.log" 2>/dev/null || fail "no end of call"
sleep 2

kill "$panel"
start=$(date +%s%N)
within 30 shown || fail "the window is not mapped within 3 s of the panel's end"
echo "window mapped $(( ($(date +%s%N) - start) / 1000000 )) ms after the panel ended"

echo "up 1" >&3
told_twice() { [ "$(grep -c '接続しました' "$work/notes")" = 2 ]; }
within 150 told_twice || fail "no notification of the call after the panel's end"
echo "notifications:"
cat "$work/notes"
exit 0
