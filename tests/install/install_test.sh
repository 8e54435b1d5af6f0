#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cmake --install into a scratch DESTDIR, then the tree checked.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
bash "$(dirname "$0")/check_tree.sh" "$root" usr/share/doc/kestrovan/COPYING
cmp "$root/usr/share/doc/kestrovan/COPYING" /usr/share/common-licenses/GPL-3 ||
  { echo "FAIL: COPYING is not the GPL's text as Debian ships it"; exit 1; }
