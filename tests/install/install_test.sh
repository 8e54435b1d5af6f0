#!/usr/bin/env bash
# cmake --install into a scratch DESTDIR, then the tree checked.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
extra=()
for name in LICENSE LICENSE.txt LICENSE.md COPYING; do
  [ -f "$(dirname "$0")/../../$name" ] && { extra+=("usr/share/doc/kestrovan/$name"); break; }
done
bash "$(dirname "$0")/check_tree.sh" "$root" "${extra[@]}"
