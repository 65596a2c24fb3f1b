#!/usr/bin/env bash
# LAS/LAZ source speed, single-threaded: for point formats 3 and 6, a scene of
# POINTS points written as LAS and as LAZ by the library; a full pass of raw
# records through the source reader over each (median of RUNS), the same LAZ
# decoded by the laz-perf WebAssembly codec when node is present (the npm
# package is installed into <build>/lazperf, outside the source tree), and an
# import of the LAS and of the LAZ file through the source reader (format 3
# also through the built-in LAS reader). Markdown on stdout.
#
#   bench/run_laz.sh [build-dir] [work-dir] [runs] [points]
#
# The build dir is configured here (Release, benchmarks on). Needs about
# 1.5 GB of free disk in the work dir for 10M points.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
work=${2:-$build/work/laz}
runs=${3:-3}
points=${4:-10000000}
mkdir -p "$work"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORLIN_BUILD_BENCH=ON \
  -DVORLIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target vorlin_bench_laz >/dev/null
bin=$build/bench/vorlin_bench_laz

peer=$build/lazperf
have_peer=0
if command -v node >/dev/null && command -v npm >/dev/null; then
  if [ -d "$peer/node_modules/laz-perf" ] ||
     npm install --prefix "$peer" --no-audit --no-fund laz-perf@0.0.7 >/dev/null 2>&1; then
    have_peer=1
  fi
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Runs "$@" RUNS times; each prints "<seconds> <points>"; prints the median
# seconds and the point count.
timed() {
  local out=$work/times count
  : > "$out"
  for ((r = 0; r < runs; ++r)); do "$@" >> "$out"; done
  count=$(awk 'NR == 1 { print $2 }' "$out")
  echo "$(awk '{ print $1 }' "$out" | median) $count"
}
row() {  # label, "<seconds> <points>", base seconds or ""
  local label=$1 s=${2% *} n=${2#* } base=${3:-}
  awk -v l="$label" -v s="$s" -v n="$n" -v b="$base" 'BEGIN {
    printf "| %s | %d | %.3f | %.2f | %s |\n", l, n, s, n / s / 1e6, (b == "") ? "" : sprintf("%.2f", b / s) }'
}

echo "| run | points | seconds (median of $runs) | M points/s | speed vs first row of the format |"
echo "|---|---:|---:|---:|---:|"
for format in 3 6; do
  las=$work/scene$format.las
  laz=$work/scene$format.laz
  [ -s "$las" ] && [ -s "$laz" ] || "$bin" make "$format" "$points" "$las" "$laz"
  plain=$(timed "$bin" decode "$las")
  row "format $format: LAS read, source reader" "$plain"
  packed=$(timed "$bin" decode "$laz")
  row "format $format: LAZ decode, source reader" "$packed" "${plain% *}"
  if [ $have_peer -eq 1 ]; then
    row "format $format: LAZ decode, laz-perf $(node -p "require('$peer/node_modules/laz-perf/package.json').version") (node $(node --version))" \
      "$(timed node "$root/bench/lazperf_decode.js" "$peer" "$laz")" "${plain% *}"
  fi
  imp=$(timed "$bin" import "$las" "$work/out.qzv")
  row "format $format: import of the LAS, source reader" "$imp"
  row "format $format: import of the LAZ, source reader" "$(timed "$bin" import "$laz" "$work/out.qzv")" "${imp% *}"
  if [ "$format" -le 5 ]; then
    row "format $format: import of the LAS, built-in LAS reader" \
      "$(timed "$bin" import "$las" "$work/out.qzv" builtin)" "${imp% *}"
  fi
  rm -f "$work/out.qzv"
  echo "| format $format: file sizes | | LAS $(( $(stat -c %s "$las") / 1048576 )) MB, LAZ $(( $(stat -c %s "$laz") / 1048576 )) MB | | |"
done
