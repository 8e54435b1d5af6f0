#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Qt 6 for 64-bit Windows (shared libraries) from Debian's qt6-base source package, with
# Debian's mingw-w64 and Debian's own Qt tools as host tools, into a cache folder outside the
# tree: QtCore, QtGui, QtWidgets and QtNetwork with the Windows platform plugin and styles; no
# OpenGL, SQL, D-Bus, printing, XML, TLS, Direct2D, FreeType (Windows draws text itself) or
# JPEG. Does nothing when that folder is already complete. Prints the folder on its last line.
#   bash scripts/windows-qt.sh
# Run again, a stopped build resumes where it is.
# KV_QT_WINDOWS overrides the folder; KV_JOBS the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
upstream=${version%%+*}
upstream=${upstream:-6.4.2}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrovan
prefix=${KV_QT_WINDOWS:-$cache/qt-$upstream-mingw64}
work=$cache/qt-$upstream-mingw64-work
jobs=${KV_JOBS:-2}

if [ -f "$prefix/kestrovan-qt-complete" ]; then
  echo "$prefix"
  exit 0
fi

. scripts/lib/ensure_packages.sh
ensure_packages g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools dpkg-dev cmake ninja-build

mkdir -p "$work"
log=$work/build.log
exec > >(tee -a "$log") 2>&1
start=$SECONDS
echo "== $(date -u +%FT%TZ) Qt $upstream for Windows into $prefix"

# The source, through a private apt set-up: the system's sources stay untouched.
src=$work/source
if [ ! -f "$src/.unpacked" ]; then
  apt_dir=$work/apt
  mkdir -p "$apt_dir/lists/partial" "$work/download"
  cat >"$apt_dir/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
EOF
  apt_opts=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Sandbox::User=root")
  mkdir -p "$apt_dir/cache/archives/partial"
  apt-get "${apt_opts[@]}" update -qq
  # The host's own version when the archive still has it, so host tools and libraries agree.
  (cd "$work/download" &&
    { apt-get "${apt_opts[@]}" source --download-only "qt6-base=$version" 2>/dev/null ||
      apt-get "${apt_opts[@]}" source --download-only qt6-base; })
  dsc=$(ls "$work"/download/qt6-base_*.dsc | head -n 1)
  case "$(basename "$dsc")" in
    qt6-base_"$upstream"*) ;;
    *) echo "windows-qt.sh: $(basename "$dsc") is not Qt $upstream, the host tools' version" >&2
      exit 1 ;;
  esac
  rm -rf "$src"
  dpkg-source --no-check -x "$dsc" "$src" >/dev/null
  # Without OpenGL, 6.4's Windows window still reaches for it where dynamic GL is configured.
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
  # Likewise its DirectWrite font database, which QtGui builds only with Direct2D.
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
  touch "$src/.unpacked"
fi

build=$work/build
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-qt.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DBUILD_WITH_PCH=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_ssl=OFF -DFEATURE_schannel=OFF -DFEATURE_direct2d=OFF \
  -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF
nice -n 19 cmake --build "$build" -j "$jobs"
cmake --install "$build" >/dev/null
# Qt's licence texts go with the DLLs (the package carries them); the source may go.
cp -r "$src/LICENSES" "$prefix/"
touch "$prefix/kestrovan-qt-complete"
echo "== $(date -u +%FT%TZ) Qt for Windows built and installed in $((SECONDS - start)) s" \
  "($(du -sm "$prefix" | cut -f1) MB)"
echo "$prefix"
