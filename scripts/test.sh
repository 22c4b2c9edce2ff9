#!/usr/bin/env bash
# Sets up the machine, checks the layering and the formatting of the
# sources, builds both architectures, packs and checks the
# release package, and runs every test inside the private network sandbox:
# the x86_64 suite under 64-bit Wine on every machine, the i686 suite where
# the kernel runs 32-bit programs, each followed by a 30-second stress run.
# A failed set-up, build or pack stops at once; a failing suite or stress
# run does not keep the others from running.
# IXA_ARCHES ("i686", "x86_64" or "i686 x86_64") overrides the choice.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arches.sh"
started=$SECONDS

"$root/scripts/setup.sh"
export IXA_SETUP_DONE=1
"$root/scripts/check-layers.sh"
"$root/scripts/check-format.sh"
ixa_choose_arches
echo "test: suites to run: $ixa_arches (this machine runs the i686 build: $ixa_i686_runs${ixa_i686_why_not:+, $ixa_i686_why_not})"

for arch in i686 x86_64; do
  echo "test: building $arch"
  IXA_ARCH=$arch "$root/scripts/build.sh"
done
"$root/scripts/check-i686-dll.sh"
echo "test: packing and checking the release package"
"$root/scripts/package.sh"
"$root/tests/package/check_package.sh" "$root"/build/package/IxaLoader-*-win32.zip

if [[ " $ixa_arches " == *" i686 "* && $ixa_i686_runs != yes ]]; then
  echo "test: stopping: IXA_ARCHES asks for the i686 suite, but $ixa_i686_why_not" >&2
  exit 1
fi

# Each architecture's suite and stress run goes on whatever the others did;
# the summary names every run and the exit status says whether any failed.
summary=()
passed=0
failed=0
run_counted() {
  local name=$1
  shift
  if "$@"; then
    summary+=("test: $name: passed")
    passed=$((passed + 1))
  else
    summary+=("test: $name: FAILED (exit $?)")
    failed=$((failed + 1))
  fi
}

for arch in $ixa_arches; do
  echo "test: running the $arch suite"
  run_counted "$arch suite" env IXA_ARCH=$arch "$root/scripts/sandbox.sh" ctest --test-dir "$root/build/$arch" --output-on-failure
  echo "test: stress run of the $arch build"
  run_counted "$arch stress run" env IXA_ARCH=$arch "$root/scripts/stress.sh" --seconds 30
done

if [[ " $ixa_arches " != *" i686 "* ]]; then
  if [ "$ixa_i686_runs" = yes ]; then
    echo "test: i686 suite skipped: IXA_ARCHES=\"$IXA_ARCHES\" leaves it out; the i686 DLL was built and checked without running it"
  else
    echo "test: i686 suite skipped: $ixa_i686_why_not; the i686 DLL was built and checked without running it"
  fi
fi
echo "test: ran the $(echo $ixa_arches) suite(s) in $((SECONDS - started)) s"
printf '%s\n' "${summary[@]}"
echo "test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
