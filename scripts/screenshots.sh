#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of the main window for docs/screenshots, taken on a virtual X display with a window
# manager and a panel (Xvfb, openbox, trayer) during a call of the simulated router on loopback:
# every step of the "長" button at scale 1 and 2 (main-<height>-1x.png, main-<height>-2x.png),
# the about box (messagebox-about.png) and Pelvaro's question before it loads, with its Japanese
# buttons (messagebox-yes-no.png); at both scales the debug box (debug-<s>x.png), the message
# window held open (msg-window-<s>x.png), the settings dialog in its frame (setup-frame-<s>x.png),
# the note at the first close to the tray (note-closed-to-tray-<s>x.png) and, with the panel
# gone, the note of a desktop without a notification area (note-no-tray-<s>x.png); the viewer
# (logview-*.png, logview-daily-2x.png) and the settings tabs (setup-*.png) rendered offscreen.
# Not part of the test run.
#   KV_BUILD_DIR   build folder (default build/)
#   KV_SHOTS_DIR   where the pictures go (default docs/screenshots)
#   KV_SHOTS_SCALES  the scales to take (default "1 2")
#   QT_FONT_DPI    passed on, to see the window with larger type (e.g. 120)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/lib/simulated_router.sh"
build="${KV_BUILD_DIR:-$root/build}"
shots="${KV_SHOTS_DIR:-$root/docs/screenshots}"

bash "$root/scripts/setup.sh" screenshots
[ -x "$build/src/app/ui/kestrovan" ] || cmake --preset dev -S "$root" >/dev/null
cmake --build "$build" --target kestrovan pelvaro mn128sim logview_ui_test setup_screenshots

work="$(mktemp -d /tmp/kestrovan-shots.XXXXXX)"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own.
n=80
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 1 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break; sleep 0.1; done
trayer --edge top --align right --widthtype pixel --width 120 --height 32 \
  --SetDockType true --SetPartialStrut true >/dev/null 2>&1 & pids+=($!)
tray_pid=$!
sleep 1
xsetroot -solid '#3a6ea5' 2>/dev/null || true

mkdir -p "$shots" "$work/program"
cp "$build/src/app/ui/kestrovan" "$build/src/maint/pelvaro" "$work/program/"
start_simulated_router "$build" "$work"
pids+=("$sim_pid")

# Waits until a visible window whose title matches $1 exists; prints its id.
window_named() {
  local id=""
  for _ in $(seq 1 100); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)" && [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "no window named $1" >&2; return 1; }
  echo "$id"
}
# Window $1 (named $2) lies whole on the 1024 x 768 screen; said, and the script fails at its
# end, when it does not.
off=0
fits() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  if ((X < 0 || Y < 0 || X + WIDTH > 1024 || Y + HEIGHT > 768)); then
    echo "!! $2 is not on the screen: ${WIDTH}x${HEIGHT}+${X}+${Y}" >&2
    off=1
  fi
}
# Clicks at x, y (pixels of the client area) of window $1.
click_at() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

for scale in ${KV_SHOTS_SCALES:-1 2}; do
  config="$work/config$scale"
  mkdir -p "$config/Qel"
  write_throwaway_settings "$config/Qel/Kestrovan.conf" 30
  # The call stays up while the pictures are taken; the first press of "長" gives 1560.
  sed -i 's/^atcutmode=.*/atcutmode=0/; s/^sizehigh=.*/sizehigh=4/; s/^debuglog=.*/debuglog=0/' \
    "$config/Qel/Kestrovan.conf"
  XDG_CONFIG_HOME="$config" KESTROVAN_CONSOLE_PORT="$port" QT_QPA_PLATFORM=xcb \
    QT_SCALE_FACTOR="$scale" "$work/program/kestrovan" >"$work/kestrovan$scale.out" 2>&1 &
  kv=$!
  pids+=("$kv")
  # The router calls by itself a few seconds after each cycle starts; the title says so.
  win="$(window_named '^接続')"
  sleep 3
  # "長" is the third button of the top row, right under the menu bar.
  for height in 1560 2050 2650 3250 3850; do
    click_at "$win" $((60 * scale)) $((36 * scale))
    sleep 1.5
    fits "$win" "the main window"
    import -frame -window "$win" "$shots/main-$height-${scale}x.png"
    echo "   main-$height-${scale}x.png"
  done
  if [ "$scale" = 1 ] && [ -z "${QT_FONT_DPI:-}" ]; then
    # "他" then "バージョン": the about box with its Japanese button.
    click_at "$win" 95 10
    sleep 0.5
    xdotool key Down Down Return
    box="$(window_named '^ABOUT Kestrovan$')"
    sleep 1
    fits "$box" "the about box"
    import -frame -window "$box" "$shots/messagebox-about.png"
    echo "   messagebox-about.png"
    xdotool key Return || true
  fi
  # The usage row's buttons, under the menu bar: "debug", then "窓".
  row=$(( (22 + 160) * scale ))
  click_at "$win" $((72 * scale)) "$row"
  box="$(window_named '^Kestrovan$')"
  sleep 1
  fits "$box" "the debug box"
  import -frame -window "$box" "$shots/debug-${scale}x.png"
  echo "   debug-${scale}x.png"
  xdotool key Return || true
  sleep 0.5
  click_at "$win" $((104 * scale)) "$row"
  msg="$(window_named '^Information$')"
  sleep 3
  fits "$msg" "the message window"
  import -frame -window "$msg" "$shots/msg-window-${scale}x.png"
  echo "   msg-window-${scale}x.png"
  click_at "$win" $((104 * scale)) "$row"
  sleep 0.5
  # "設定" then "基本設定".
  click_at "$win" $((15 * scale)) $((10 * scale))
  sleep 0.5
  xdotool key Down Return
  dialog="$(window_named '^基本設定$')"
  sleep 1
  fits "$dialog" "the settings dialog"
  import -frame -window "$dialog" "$shots/setup-frame-${scale}x.png"
  echo "   setup-frame-${scale}x.png"
  xdotool key Escape || true
  sleep 1
  # The close box hides the window into the tray: said once.
  xdotool windowactivate --sync "$win" 2>/dev/null || true
  xdotool key --clearmodifiers alt+F4
  note="$(window_named '^Kestrovan$')"
  sleep 1
  fits "$note" "the note at the close"
  import -frame -window "$note" "$shots/note-closed-to-tray-${scale}x.png"
  echo "   note-closed-to-tray-${scale}x.png"
  xdotool key Return || true
  kill -TERM "$kv"
  wait "$kv" 2>/dev/null || true
done
# No panel: the program polls at once and says so in a box that waits for nobody.
kill "$tray_pid" 2>/dev/null || true
sleep 1
for scale in ${KV_SHOTS_SCALES:-1 2}; do
  config="$work/notray$scale"
  mkdir -p "$config/Qel"
  write_throwaway_settings "$config/Qel/Kestrovan.conf" 30
  XDG_CONFIG_HOME="$config" KESTROVAN_CONSOLE_PORT="$port" QT_QPA_PLATFORM=xcb \
    QT_SCALE_FACTOR="$scale" "$work/program/kestrovan" >"$work/notray$scale.out" 2>&1 &
  kv=$!
  pids+=("$kv")
  window_named '^Kestrovan$' >/dev/null
  sleep 1
  # Two windows are named so: the note is the wider.
  note="" widest=0
  for id in $(xdotool search --onlyvisible --name '^Kestrovan$'); do
    width="$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')"
    if [ "${width:-0}" -gt "$widest" ]; then widest=$width note=$id; fi
  done
  sleep 1
  fits "$note" "the note without a tray"
  import -frame -window "$note" "$shots/note-no-tray-${scale}x.png"
  echo "   note-no-tray-${scale}x.png"
  kill -TERM "$kv"
  wait "$kv" 2>/dev/null || true
done
# The viewer and the settings tabs, drawn offscreen.
KV_SCREENSHOT_DIR="$shots" "$build/tests/logview/logview_ui_test" --gtest_filter='*Screenshots' \
  >/dev/null
mkdir -p "$work/viewer2"
QT_SCALE_FACTOR=2 KV_SCREENSHOT_DIR="$work/viewer2" "$build/tests/logview/logview_ui_test" \
  --gtest_filter='*Screenshots' >/dev/null
cp "$work/viewer2/logview-daily.png" "$shots/logview-daily-2x.png"
echo "   logview-*.png, logview-daily-2x.png"
"$build/tests/settings/ui/setup_screenshots" "$shots" >/dev/null
echo "   setup-*.png"
# Pelvaro asks before "レジストリ情報の読込"; the answer is "いいえ", so nothing is changed.
XDG_CONFIG_HOME="$work/config1" QT_QPA_PLATFORM=xcb "$work/program/pelvaro" \
  >"$work/pelvaro.out" 2>&1 &
pelvaro=$!
pids+=("$pelvaro")
win="$(window_named '^レジストリツール$')"
sleep 1
click_at "$win" 140 112
box="$(window_named '^確認$')"
sleep 1
import -frame -window "$box" "$shots/messagebox-yes-no.png"
echo "   messagebox-yes-no.png"
xdotool key Escape || true
kill -TERM "$pelvaro" 2>/dev/null || true
echo "== pictures in $shots"
exit "$off"
