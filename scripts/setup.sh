#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, on a fresh Debian machine, what one command needs, and nothing more. Idempotent.
#   bash scripts/setup.sh [demo|test|bench|fuzz|screenshots|package|windows ...]   (default: test)
set -euo pipefail

# Building the three programs.
build=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev)
# Running Kestrovan: Japanese fonts, Qt's Japanese texts, time zones, the help page's opener.
runtime=(fonts-noto-cjk fonts-ipafont-gothic qt6-translations-l10n tzdata xdg-utils)
# The demo runs the program on a display of its own and photographs its window.
demo=(xvfb xauth x11-utils imagemagick)
# The tests: GoogleTest, the format check, and a real X display with a window manager and a
# panel for the window-position test, a session bus for the notification test, a headless
# Wayland compositor with Qt's Wayland plugin; the install checks validate the desktop files and
# build and unpack the Debian package.
test=(libgtest-dev clang-format xvfb xauth openbox trayer xdotool x11-utils dbus weston
  qt6-wayland desktop-file-utils appstream dpkg-dev file)
# Fuzzing: clang with its sanitizer and libFuzzer runtimes, the distribution's default version.
fuzz=(clang libclang-rt-dev)
screenshots=(xvfb xauth openbox trayer xdotool x11-utils imagemagick)
# The release build that carries the benchmarks builds the tests too; the long run has a display.
bench=(libgtest-dev xvfb xauth)
# The Debian package built the Debian way (dpkg-buildpackage -us -uc -b) and checked.
package=(debhelper dpkg-dev fakeroot lintian devscripts desktop-file-utils appstream)
# The Windows programs cross-built with mingw-w64 (Qt for Windows from Debian's source), their
# installer, and the checks under Wine on a display of their own.
windows=(g++-mingw-w64-x86-64-posix wine64 googletest dpkg-dev nsis zip xvfb xauth)

wanted=("${build[@]}" "${runtime[@]}")
[ $# -eq 0 ] && set -- test
for need in "$@"; do
  case "$need" in
    demo) wanted+=("${demo[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    fuzz) wanted+=("${fuzz[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    screenshots) wanted+=("${screenshots[@]}") ;;
    package) wanted+=("${package[@]}") ;;
    windows) wanted+=("${windows[@]}") ;;
    *) echo "setup.sh: unknown need '$need'" \
        "(demo, test, bench, fuzz, screenshots, package, windows)" >&2
      exit 2 ;;
  esac
done

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
