#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cpack -G DEB, unpacked into a scratch root: the tree checked, the package's fields read back.
set -euo pipefail
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "SKIP: no $tool (scripts/setup.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/kestrovan_*.deb)
dpkg -x "$deb" "$work/root"
extra=(usr/share/doc/kestrovan/changelog.Debian.gz usr/share/doc/kestrovan/copyright
  usr/share/doc/kestrovan/COPYING)
bash "$(dirname "$0")/check_tree.sh" "$work/root" "${extra[@]}"
info=$(dpkg-deb -f "$deb" Package Version Section Maintainer Depends Recommends)
for want in "Package: kestrovan" "Version: $KV_VERSION-1" "Section: net" \
  "Maintainer: Seed c4841d46 maintainers <maintainers@users.noreply.c-seed-c4841d46.example>" \
  libqt6widgets6 qt6-qpa-plugins "fonts-noto-cjk | fonts-ipafont-gothic" xdg-utils \
  "Recommends: qt6-translations-l10n"; do
  grep -qF -- "$want" <<<"$info" || { echo "FAIL: control lacks '$want':"; echo "$info"; exit 1; }
done
grep -q '^License: GPL-3.0+$' "$work/root/usr/share/doc/kestrovan/copyright" ||
  { echo "FAIL: the package's copyright file grants no licence"; exit 1; }
# Before the release it leads to: a later 0.66 must upgrade it.
dpkg --compare-versions "$KV_VERSION-1" lt 0.66-1 || { echo "FAIL: $KV_VERSION sorts after 0.66"; exit 1; }
echo "package OK: $(basename "$deb")"
