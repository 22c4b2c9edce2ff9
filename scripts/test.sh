#!/usr/bin/env bash
# Sets up the machine, builds both architectures, packs and checks the
# release package, and runs every test inside the private network sandbox:
# the x86_64 suite under 64-bit Wine on every machine, the i686 suite where
# the kernel runs 32-bit programs, each followed by a 30-second stress run.
# IXA_ARCHES ("i686", "x86_64" or "i686 x86_64") overrides the choice.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arches.sh"
started=$SECONDS

"$root/scripts/setup.sh"
ixa_choose_arches
echo "test: suites to run: $ixa_arches (kernel runs 32-bit programs: $ixa_i686_runs)"

for arch in i686 x86_64; do
  echo "test: building $arch"
  IXA_ARCH=$arch "$root/scripts/build.sh"
done
"$root/scripts/check-i686-dll.sh"
echo "test: packing and checking the release package"
"$root/scripts/package.sh"
"$root/tests/package/check_package.sh" "$root"/build/package/IxaLoader-*-win32.zip

if [[ " $ixa_arches " == *" i686 "* && $ixa_i686_runs != yes ]]; then
  echo "test: stopping: IXA_ARCHES asks for the i686 suite, but this kernel runs no 32-bit programs (32-bit emulation is off)" >&2
  exit 1
fi

ran=()
for arch in $ixa_arches; do
  echo "test: running the $arch suite"
  IXA_ARCH=$arch "$root/scripts/sandbox.sh" ctest --test-dir "$root/build/$arch" --output-on-failure
  echo "test: stress run of the $arch build"
  IXA_ARCH=$arch "$root/scripts/stress.sh" --seconds 30
  ran+=("$arch")
done

if [[ " $ixa_arches " != *" i686 "* ]]; then
  if [ "$ixa_i686_runs" = yes ]; then
    echo "test: i686 suite skipped: IXA_ARCHES=\"$IXA_ARCHES\" leaves it out; the i686 DLL was built and checked without running it"
  else
    echo "test: i686 suite skipped: this kernel runs no 32-bit programs (32-bit emulation is off); the i686 DLL was built and checked without running it"
  fi
fi
echo "test: ran the ${ran[*]} suite(s) in $((SECONDS - started)) s"
