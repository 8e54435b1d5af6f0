#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The notifications and the tray tip in a real notification area: Kestrovan with both switched
# on against mn128sim on loopback, a virtual X display (Xvfb) with a window manager and a tray
# (trayer). A call starts, is cut when idle, a second one drops by itself, the router closes the
# console and is logged in to again. Not part of the test run; the pictures are for a person.
# usage: real_notify_check.sh <build folder> <picture folder>
set -eu
build=$(cd "${1:?build folder}" && pwd)
shots=$(mkdir -p "${2:?picture folder}" && cd "$2" && pwd)
for p in xvfb openbox trayer xdotool imagemagick; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="${missing:-} $p"
done
[ -z "${missing:-}" ] || apt-get install -y --no-install-recommends $missing >/dev/null
work=$(mktemp -d /tmp/kestrovan-notify.XXXXXX)
mkdir -p "$work/program" "$work/config/Qel"
cp "$build/src/app/ui/kestrovan" "$work/program/"
cat >"$work/timeline" <<'LINES'
at 3 traffic on
at 3 up 1
at 6 traffic off
at 40 traffic on
at 40 up 1
at 44 hangup
at 48 close
LINES
display=:58
Xvfb $display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids=$!
trap 'kill $pids 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
DISPLAY=$display openbox >/dev/null 2>&1 &
pids="$pids $!"
DISPLAY=$display trayer --edge top --align right --widthtype pixel --width 120 --height 32 \
    --SetDockType true >/dev/null 2>&1 &
pids="$pids $!"
"$build/tools/mn128sim/mn128sim" --detach --listen 127.0.0.1:0 --dial-ms 500 --autocut 0 \
    --script "$work/timeline" >"$work/sim.out" 2>/dev/null &
pids="$pids $!"
for _ in $(seq 50); do
    port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out" | head -1)
    [ -n "$port" ] && break
    sleep 0.1
done
# The router on loopback before the program starts; 30-second units, cut after 10 idle seconds.
cat >"$work/config/Qel/Kestrovan.conf" <<CONF
[Setup]
sohoip=127.0.0.1
seca=30
secb=30
secc=30
ctanni=10
cnctno=1
atcuttm=10
atcutmode=1
atcutdly=3
sohoint=1000
soho2int=2000
dspint=1000
winmodec=1
winmodedc=1

[Extra]
notify=1
traytip=1
CONF
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" KESTROVAN_CONSOLE_PORT=$port \
    KESTROVAN_MESSAGEBOX_LOG="$work/boxes.log" "$work/program/kestrovan" >/dev/null 2>&1 &
kv=$!
pids="$pids $kv"
for t in $(seq 1 60); do
    sleep 1
    # The mouse rests on the icon (the tray's right end) for the tip during the first call.
    [ "$t" = 20 ] && DISPLAY=$display xdotool mousemove 1012 16
    DISPLAY=$display import -window root -crop 420x130+604+0 "$shots/notify-$(printf %02d "$t").png"
done
kill -TERM $kv
iconv -f CP932 -t UTF-8 "$work/program/Kestrovan.log"
echo "pictures in $shots"
