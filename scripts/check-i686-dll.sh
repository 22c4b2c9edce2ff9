#!/usr/bin/env bash
# Checks the shipped i686 DLL without running it: PE32 for i386, exactly the
# twelve undecorated exports, and imports from allowed system DLLs only.
#   scripts/check-i686-dll.sh [path/to/IxaLoader.dll]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dll=${1:-$root/build/i686/bin/IxaLoader.dll}
objdump=i686-w64-mingw32-objdump
allowed="$root/tests/dll/allowed_imports.txt"
[ -f "$dll" ] || { echo "check-i686-dll: $dll not found" >&2; exit 1; }

failures=0
fail() {
  echo "check-i686-dll: $*" >&2
  failures=$((failures + 1))
}

headers=$($objdump -f "$dll")
grep -q 'file format pei-i386' <<<"$headers" || fail "not a PE32 i386 image: $(grep 'file format' <<<"$headers")"
grep -q 'architecture: i386' <<<"$headers" || fail "architecture is not i386"

table=$($objdump -p "$dll")
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^[ \t]*\[/ { print $NF; next } on { on = 0 }' <<<"$table" | sort | tr '\n' ' ')
expected="ClearProgrammer DeselectFixture GetDMXBuffer KnockoutFixture SelectFixture SelectNone SetFixtureIntensity SetFixturePanTilt SetRunningCallback ShutdownOB StartDetect StartDetectExt "
[ "$exports" = "$expected" ] || fail "exports are '${exports% }', expected '${expected% }'"

imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$table" | sort -u)
for name in $imports; do
  grep -qix "$name" <(grep -v '^#' "$allowed") || fail "imports $name, which is not an allowed system DLL"
done

if ((failures > 0)); then
  exit 1
fi
echo "i686 DLL checked without running it: PE32 i386, the twelve undecorated exports, imports $(echo $imports)"
