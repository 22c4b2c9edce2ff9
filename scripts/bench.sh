#!/usr/bin/env bash
# Builds and runs every benchmark inside the private network sandbox. Each
# prints its figures against a baseline measured in the same run.
# IXA_ARCH picks the build: i686 where the kernel runs 32-bit programs,
# otherwise x86_64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
source "$root/scripts/arches.sh"
if [ -z "${IXA_ARCH:-}" ]; then
  if ixa_runs_i686; then IXA_ARCH=i686; else IXA_ARCH=x86_64; fi
fi
export IXA_ARCH
echo "bench: $IXA_ARCH build"
"$root/scripts/build.sh" >/dev/null
cd "$root/build/$IXA_ARCH/bin"
run_all() {
  for bench in *_bench.exe; do
    echo "== $bench"
    "$root/scripts/wine-run.sh" "./$bench"
  done
}
export -f run_all
export root
"$root/scripts/sandbox.sh" bash -c run_all
