#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the tray icon in a real notification area: a virtual X display (Xvfb) with a small
# panel that hosts tray icons (trayer), the icon clicked with xdotool. Not part of the test run;
# usage: real_tray_check.sh <build folder> [picture folder]
set -e
build=${1:?build folder}
shots=${2:-}
for p in xvfb trayer xdotool; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get install -y --no-install-recommends $missing >/dev/null
fi
display=:57
Xvfb $display -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $tray $xvfb 2>/dev/null' EXIT
sleep 1
# First without a panel: the test starts one itself midway.
DISPLAY=$display QT_QPA_PLATFORM=xcb KV_REAL_TRAY=late \
    "$build/tests/app/tray/tray_frm_mnu_test" --gtest_filter='*TurningUpLater*'
DISPLAY=$display trayer --edge top --align right --widthtype pixel --width 120 --height 32 \
    --SetDockType true >/dev/null 2>&1 &
tray=$!
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb KV_REAL_TRAY=1 KV_SCREENSHOT_DIR="$shots" \
    "$build/tests/app/tray/tray_frm_mnu_test" --gtest_filter='FrmMnuTest.RealNotificationArea'
