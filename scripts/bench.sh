#!/usr/bin/env bash
# Builds and runs every benchmark inside the private network sandbox. Each
# prints its figures against a baseline measured in the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build=${IXA_BUILD_DIR:-$root/build}
cd "$build/bin"
run_all() {
  for bench in *_bench.exe; do
    echo "== $bench"
    "$root/scripts/wine-run.sh" "./$bench"
  done
}
export -f run_all
export root
"$root/scripts/sandbox.sh" bash -c run_all
