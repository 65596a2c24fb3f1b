#!/usr/bin/env bash
# By hand, not in CI: the largest imports. A billion points from a generating
# reader (no source file), then a cluster whose one cell holds nearly all of
# its points; each is opened and queried once (bench/scale_import.cpp). The
# spill and the output go to the work dir; both need about 20 bytes per point
# (40 GB for the billion): check `df -h` first. The outputs are deleted.
#
#   bench/run_scale.sh [work-dir] [spread points] [cluster points]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
work=${1:-$build/scale}
spread=${2:-1000000000}
cluster=${3:-100000000}
mkdir -p "$work"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORLIN_BUILD_BENCH=ON \
  -DVORLIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target vorlin_bench_scale_import >/dev/null
need=$(( (spread > cluster ? spread : cluster) * 42 / 1000000000 ))
echo "free: $(df -BG --output=avail "$work" | tail -1) (about ${need} GB needed)"
for run in "spread $spread" "cluster $cluster"; do
  set -- $run
  # Temporary files in the work dir too, so that /tmp need not hold them.
  TMPDIR=$work /usr/bin/time -f "wall %e s, peak %M KB" \
    "$build/bench/vorlin_bench_scale_import" "$1" "$2" "$work/$1.qzv"
  rm -f "$work/$1.qzv"
done
