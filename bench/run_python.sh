#!/usr/bin/env bash
# Python fetch speed: builds the package in Release (build/bench), makes a
# 5M-point scene with the command-line tool, imports it from Python and runs
# bench/python_points.py on it (q.points(1_000_000) against the library's
# getPoints of the same query, same process).
#
#   bench/run_python.sh [work-dir]     (default build/bench/work)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
work=${1:-$build/work}
points=${POINTS:-5000000}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$work"
work=$(cd "$work" && pwd)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORLIN_BUILD_BENCH=ON \
  -DVORLIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target vorlin_cli vorlin_python
python=$(sed -n "s/^_Python3_EXECUTABLE:INTERNAL=//p" "$build/CMakeCache.txt")
export PYTHONPATH=$build/python

scene=$work/py-scene-$points.qzv
if [ ! -s "$scene" ]; then
  "$build/tools/cli/vorlin" generate "$work/py-scene-$points.las" --points "$points" --format 3 --seed 1
  "$python" -c "import sys, vorlin; vorlin.import_file(sys.argv[1], sys.argv[2])" \
    "$work/py-scene-$points.las" "$scene"
  rm -f "$work/py-scene-$points.las"
fi
"$python" "$root/bench/python_points.py" "$scene"
