#!/usr/bin/env bash
# Fails when a C or C++ source of the tree is not as clang-format 14 would
# write it (.clang-format). With --fix, formats them instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
format=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$format" ] || { echo "check-format: clang-format 14 is not installed (scripts/setup.sh)" >&2; exit 1; }
"$format" --version | grep -q "version 14\." ||
  { echo "check-format: $("$format" --version) is not version 14, which the tree is formatted with" >&2; exit 1; }
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
if ! "$format" --dry-run --Werror "${files[@]}" 2>/tmp/check-format.$$; then
  grep -E "^[^ ].*: (error|warning):" /tmp/check-format.$$ | cut -d: -f1 | sort -u | sed 's/^/check-format: not formatted: /' >&2
  rm -f /tmp/check-format.$$
  exit 1
fi
rm -f /tmp/check-format.$$
echo "format checked: ${#files[@]} files as clang-format 14 writes them"
