#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every C++ file of the tree as .clang-format says. "--check" only reports (the test run uses
# it and fails on an unformatted file); without it the files are rewritten in place.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests tools bench -name '*.cpp' -o -name '*.h' | sort)
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "formatting: ${#files[@]} files as .clang-format says"
else
  clang-format -i "${files[@]}"
fi
