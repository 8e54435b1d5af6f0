#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks an installed tree: check_tree.sh ROOT [EXTRA_FILE...] (paths below ROOT, beyond the
# files every install has). The file list, the desktop files and the software-centre data, the
# installed programs, and every option of their --help in their man page.
set -euo pipefail
root=$1
shift
fail() { echo "FAIL: $*" >&2; exit 1; }

expected=$(
  printf '%s\n' usr/bin/kestrovan usr/bin/pelvaro usr/bin/mn128sim \
    usr/share/kestrovan/使用方法.htm \
    usr/share/applications/kestrovan.desktop usr/share/applications/pelvaro.desktop \
    usr/share/metainfo/example.qel.kestrovan.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/kestrovan.svg \
    usr/share/man/man1/kestrovan.1.gz usr/share/man/man1/pelvaro.1.gz \
    usr/share/man/man1/mn128sim.1.gz \
    usr/share/man/ja/man1/kestrovan.1.gz usr/share/man/ja/man1/pelvaro.1.gz "$@"
  for s in 16 22 24 32 48 64 128 256; do echo "usr/share/icons/hicolor/${s}x${s}/apps/kestrovan.png"; done
)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") || fail "installed files differ (- expected, + found)"

# Debian 12's validator (0.26) predates the key SingleMainWindow of the entries' format 1.5; that
# one complaint is its age, not a fault in the entry.
for entry in "$root"/usr/share/applications/*.desktop; do
  complaints=$(desktop-file-validate "$entry" 2>&1 |
    grep -v 'contains key "SingleMainWindow" in group "Desktop Entry"' || true)
  [ -z "$complaints" ] || fail "desktop-file-validate: $complaints"
done
grep -qx 'SingleMainWindow=true' "$root"/usr/share/applications/kestrovan.desktop ||
  fail "kestrovan.desktop: not a single main window"
# The metainfo, and the desktop entry it launches.
appstreamcli validate-tree --no-net "$root" >/dev/null ||
  fail "appstreamcli: $(appstreamcli validate-tree --no-net "$root")"
appstreamcli validate --pedantic --no-net "$root"/usr/share/metainfo/*.xml >/dev/null ||
  fail "appstreamcli: $(appstreamcli validate --pedantic --no-net "$root"/usr/share/metainfo/*.xml)"
! grep -q '\.example[/"<]' "$root"/usr/share/metainfo/*.xml || fail "metainfo: a placeholder URL"

for program in kestrovan pelvaro mn128sim; do
  bin=$root/usr/bin/$program
  ! readelf -d "$bin" | grep -qE 'R(UN)?PATH' || fail "$program keeps a library search path"
  version=$("$bin" --version) || fail "$program --version"
  [[ ${version,,} == "$program "*[0-9]* ]] || fail "$program --version: $version"
  grep -q 'GPLv3+' <<<"$version" || fail "$program --version names no licence: $version"
  help=$("$bin" --help) || fail "$program --help"
  options=$(grep -oE '(^|[][ |])--?[A-Za-z][A-Za-z-]*' <<<"$help" | tr -d '[]| ' | sort -u)
  for file in "$root"/usr/share/man/{,ja/}man1/$program.1.gz; do
    [ -f "$file" ] || continue
    page=$(zcat "$file" | sed 's/\\-/-/g')
    for option in $options; do
      grep -qF -- "$option" <<<"$page" || fail "${file#"$root"/} lacks $option"
    done
    # A page without its date is shown as of today; the date must be set.
    grep -qE '^\.TH [A-Z0-9]+ 1 "[0-9]{4}-[0-9]{2}-[0-9]{2}"' <<<"$page" || fail "${file#"$root"/}: no date"
  done
  # The pages for every locale: under LANG=C anything beyond ASCII turns into question marks.
  ! zcat "$root/usr/share/man/man1/$program.1.gz" | LC_ALL=C grep -qP '[^\x00-\x7f]' ||
    fail "man1/$program.1 is not plain ASCII"
done
echo "installed tree OK: $(wc -l <<<"$actual") files"
