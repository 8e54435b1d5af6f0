#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Kestrovan, Pelvaro and mn128sim for 64-bit Windows with the Qt for Windows of
# scripts/windows-qt.sh (built first when missing), puts them with what they need into one
# folder, and makes of it the per-user installer and the zip:
#   out/windows/Kestrovan/                         the folder (the zip's layout)
#   out/windows/kestrovan-<version>-setup.exe      the installer (NSIS)
#   out/windows/kestrovan-<version>-windows-x64.zip
# KV_WINDOWS_TESTS=1 also builds the test programs (build-windows-qt), for the check.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
start=$SECONDS

. scripts/lib/ensure_packages.sh
ensure_packages nsis zip

qt=$(bash scripts/windows-qt.sh | tail -n 1)
build=build-windows-qt
jobs=${KV_JOBS:-2}
tests=OFF
[ "${KV_WINDOWS_TESTS:-0}" = 1 ] && tests=ON
"$qt/bin/qt-cmake" -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/cmake/mingw-w64-qt.cmake" \
  -DKV_BUILD_TESTS=$tests -DKV_GTEST_SOURCE=/usr/src/googletest >/dev/null
# The test programs after the package when the caller wants the programs first.
if [ $tests = ON ] && [ "${KV_WINDOWS_PROGRAMS_FIRST:-0}" != 1 ]; then
  nice cmake --build "$build" -j "$jobs"
else
  nice cmake --build "$build" -j "$jobs" --target kestrovan pelvaro mn128sim
fi

version=$(sed -n 's/^set(KV_PACKAGE_VERSION "${PROJECT_VERSION}\(.*\)")$/\1/p' CMakeLists.txt)
version=$(sed -n 's/^project(Kestrovan VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)${version/\~/-}
out=out/windows
stage=$out/Kestrovan
rm -rf "$stage"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/translations" "$stage/licences"
cp "$build/src/app/ui/kestrovan.exe" "$build/src/maint/pelvaro.exe" \
  "$build/tools/mn128sim/mn128sim.exe" docs/使用方法.htm "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
cp /usr/share/qt6/translations/qtbase_ja.qm "$stage/translations/"
# The DLLs the programs and plugins import, and theirs, from Qt's and the compiler's folders
# (the system's own are on every Windows).
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
todo=("$stage"/*.exe "$stage"/platforms/*.dll "$stage"/styles/*.dll)
while [ ${#todo[@]} -gt 0 ]; do
  file=${todo[0]}
  todo=("${todo[@]:1}")
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: //p'); do
    [ -e "$stage/$dll" ] && continue
    for dir in "$qt/bin" "$gcc_dir" /usr/x86_64-w64-mingw32/lib; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$stage/"
        todo+=("$stage/$dll")
        break
      fi
    done
  done
done
x86_64-w64-mingw32-strip "$stage"/*.exe
# Qt looks for its plugins and translations beside the program, not where it was built.
printf '[Paths]\r\nPrefix = .\r\nPlugins = .\r\nTranslations = translations\r\n' >"$stage/qt.conf"
# Notepad-friendly texts: the program's licence, Qt's, the compiler runtime's, and where Qt's
# source comes from (the LGPL's offer).
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf COPYING "$stage/COPYING.txt"
crlf "$qt/LICENSES/LGPL-3.0-only.txt" "$stage/licences/Qt-LGPL-3.0.txt"
crlf "$qt/LICENSES/GPL-3.0-only.txt" "$stage/licences/Qt-GPL-3.0.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
crlf /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64.txt"
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
crlf - "$stage/licences/README.txt" <<EOF
Kestrovan, Pelvaro and mn128sim are free software under the GNU General Public License,
version 3 or later (COPYING.txt). Their source: the Kestrovan project's repository.

Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms\\qwindows.dll and
styles\\qwindowsvistastyle.dll are Qt $qt_version, (C) The Qt Company Ltd and other
contributors, used under the GNU Lesser General Public License, version 3 (Qt-LGPL-3.0.txt,
Qt-GPL-3.0.txt). They are built unchanged from Debian's source package qt6-base $qt_version
(deb.debian.org, "apt-get source qt6-base"), except two conditions in the Windows platform
plugin (qwindowswindow.cpp, qwindowsintegration.cpp) that let it build without OpenGL and
Direct2D; the project's scripts/windows-qt.sh makes them. You may replace them with your own build of the
same Qt version.

libstdc++-6.dll and libgcc_s_seh-1.dll are GCC's runtime (GPL 3 with the GCC Runtime Library
Exception), libwinpthread-1.dll is mingw-w64's (gcc-runtime.txt, mingw-w64.txt).
EOF
cp packaging/windows/kestrovan.ico "$out/"

# The installer's file lists, from what is in the folder.
files=$out/files.nsh unfiles=$out/unfiles.nsh
: >"$files"
: >"$unfiles"
(cd "$stage" && find . -type d | sort) | while read -r d; do
  d=${d#./}
  [ "$d" = . ] && continue
  echo "CreateDirectory \"\$INSTDIR\\${d//\//\\}\"" >>"$files"
done
(cd "$stage" && find . -type f | sort) | while read -r f; do
  f=${f#./}
  win=${f//\//\\}
  echo "File \"/oname=$win\" \"$here/$stage/$f\"" >>"$files"
  echo "Delete \"\$INSTDIR\\$win\"" >>"$unfiles"
done
(cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
  d=${d#./}
  echo "RMDir \"\$INSTDIR\\${d//\//\\}\"" >>"$unfiles"
done
setup=$out/kestrovan-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DICON="$here/$out/kestrovan.ico" \
  -DSTAGE="$here/$stage" -DFILES="$here/$files" -DUNFILES="$here/$unfiles" \
  -DOUTFILE="$here/$setup" packaging/windows/kestrovan.nsi
zipfile=$out/kestrovan-$version-windows-x64.zip
rm -f "$zipfile"
(cd "$out" && LC_ALL=C.UTF-8 zip -qr -X "$(basename "$zipfile")" Kestrovan)
echo "Windows package: $setup ($(du -k "$setup" | cut -f1) KB), $zipfile" \
  "($(du -k "$zipfile" | cut -f1) KB); took $((SECONDS - start)) s"
