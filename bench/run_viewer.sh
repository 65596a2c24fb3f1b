#!/usr/bin/env bash
# Viewer timings on a generated 20M-point scene: starts `vorlin view` from the
# Release build and runs bench/viewer_bench.mjs against it.
#
#   bench/run_viewer.sh [work-dir]     (default build/bench/work; reuses the
#                                       scene file of bench/run_all.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
work=${1:-$build/work}
points=${POINTS:-20000000}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$work"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORLIN_BUILD_BENCH=ON \
  -DVORLIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target vorlin_cli
cli=$build/tools/cli/vorlin
scene=$work/scene-$points.qzv
if [ ! -s "$scene" ]; then
  "$cli" generate "$work/scene-$points.las" --points "$points" --format 3 --seed 1
  "$cli" import --quiet "$scene" "$work/scene-$points.las"
  rm -f "$work/scene-$points.las"
fi
log=$(mktemp)
"$cli" view "$scene" --port 0 >"$log" &
server=$!
trap 'kill -INT $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 100); do grep -q http "$log" && break; sleep 0.1; done
url=$(grep -o 'http://[^ ]*' "$log")
node "$root/bench/viewer_bench.mjs" "$url" "${POSITIONS:-60}"
