#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The optimised programs as the project's CMake hardens them: hardening_test.sh PROGRAM...
set -euo pipefail
command -v hardening-check >/dev/null ||
  { echo "SKIP: no hardening-check (Debian's devscripts package)"; exit 77; }
status=0
for program in "$@"; do
  # Built with -fcf-protection, but bookworm's hardening-check finds it in no program, Debian's
  # own included (try /usr/bin/qmake6): its verdict there says nothing.
  hardening-check --nocfprotection "$program" || status=1
done
exit $status
