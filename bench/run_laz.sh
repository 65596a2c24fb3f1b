#!/usr/bin/env bash
# LAS/LAZ source speed, single-threaded: for point formats 3 and 6, a scene of
# POINTS points written as LAS and as LAZ by the library; a full pass of raw
# records through the source reader over each (median of RUNS), the same LAZ
# decoded by the laz-perf WebAssembly codec when node is present (the npm
# package is installed into <build>/lazperf, outside the source tree), and an
# import of the LAS and of the LAZ file through the source reader (format 3
# also through the built-in LAS reader; the LAZ again with the reader
# decoding ahead on one background thread and on one per core, compared by
# wall time; the decode too, on one thread per core). Times are CPU
# seconds of the process (medians of RUNS, runs of the compared programs
# interleaved), because the machine may be shared; wall seconds are shown
# beside them. Markdown on stdout.
#
#   bench/run_laz.sh [build-dir] [work-dir] [runs] [points]
#
# The build dir is configured here (Release, benchmarks on). Needs about
# 1.5 GB of free disk in the work dir for 10M points.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build/bench}" && cd "${1:-$root/build/bench}" && pwd)
work=${2:-$build/work/laz}
runs=${3:-3}
points=${4:-10000000}
mkdir -p "$work"
work=$(cd "$work" && pwd)

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
# Each measured command prints "<cpu s> <points> <wall s>" and appends to
# the file named first. summary FILE prints "<median cpu> <points> <median wall>".
run() { local out=$1; shift; "$@" >> "$out"; }
summary() {
  echo "$(awk '{ print $1 }' "$1" | median) $(awk 'NR == 1 { print $2 }' "$1") $(awk '{ print $3 }' "$1" | median)"
}
row() {  # label, "<cpu> <points> <wall>", base cpu seconds or ""
  local label=$1 base=${3:-}
  read -r s n w <<<"$2"
  awk -v l="$label" -v s="$s" -v n="$n" -v w="$w" -v b="$base" 'BEGIN {
    printf "| %s | %d | %.3f | %.3f | %.2f | %s |\n", l, n, s, w, n / s / 1e6,
      (b == "") ? "" : sprintf("%.2f", b / s) }'
}

echo "| run | points | CPU s (median of $runs) | wall s | M points per CPU s | speed vs the row it is compared with |"
echo "|---|---:|---:|---:|---:|---:|"
for format in 3 6; do
  las=$work/scene$format.las
  laz=$work/scene$format.laz
  [ -s "$las" ] && [ -s "$laz" ] || "$bin" make "$format" "$points" "$las" "$laz"
  rm -f "$work"/*.times
  for ((r = 0; r < runs; ++r)); do
    run "$work/las.times" "$bin" decode "$las"
    run "$work/laz.times" "$bin" decode "$laz"
    run "$work/lazmt.times" "$bin" decode "$laz" 0
    [ $have_peer -eq 0 ] || run "$work/peer.times" node "$root/bench/lazperf_decode.js" "$peer" "$laz"
    run "$work/implas.times" "$bin" import "$las" "$work/out.qzv"
    run "$work/implaz.times" "$bin" import "$laz" "$work/out.qzv"
    run "$work/impahead1.times" "$bin" import "$laz" "$work/out.qzv" ahead1
    run "$work/impahead.times" "$bin" import "$laz" "$work/out.qzv" ahead0
    [ "$format" -gt 5 ] || run "$work/impbuiltin.times" "$bin" import "$las" "$work/out.qzv" builtin
  done
  plain=$(summary "$work/las.times")
  packed=$(summary "$work/laz.times")
  row "format $format: LAS read, source reader" "$plain"
  row "format $format: LAZ decode, source reader (vs LAS read)" "$packed" "${plain%% *}"
  if [ $have_peer -eq 1 ]; then
    version=$(node -p "require('$peer/node_modules/laz-perf/package.json').version")
    peerline=$(summary "$work/peer.times")
    row "format $format: LAZ decode, laz-perf $version WebAssembly, node $(node --version) (vs LAS read)" \
      "$peerline" "${plain%% *}"
    awk -v a="${peerline%% *}" -v b="${packed%% *}" 'BEGIN {
      printf "| format %s: source reader decode / laz-perf decode, CPU | | | | | %.2f |\n", "'"$format"'", a / b }'
    threaded=$(summary "$work/lazmt.times")
    row "format $format: LAZ decode, source reader, chunks decoded ahead on one thread per core" "$threaded"
    awk -v a="${peerline##* }" -v b="${threaded##* }" 'BEGIN {
      printf "| format %s: source reader decode on one thread per core / laz-perf decode, wall | | | | | %.2f |\n", "'"$format"'", a / b }'
  fi
  imp=$(summary "$work/implas.times")
  row "format $format: import of the LAS, source reader" "$imp"
  row "format $format: import of the LAZ, source reader (vs import of the LAS)" \
    "$(summary "$work/implaz.times")" "${imp%% *}"
  ahead1=$(summary "$work/impahead1.times")
  ahead=$(summary "$work/impahead.times")
  row "format $format: import of the LAZ, decoding ahead on one thread (vs import of the LAS, CPU)" \
    "$ahead1" "${imp%% *}"
  row "format $format: import of the LAZ, decoding ahead on one thread per core (vs import of the LAS, CPU)" \
    "$ahead" "${imp%% *}"
  awk -v a="${imp##* }" -v b="${ahead1##* }" -v c="${ahead##* }" 'BEGIN {
    printf "| format %s: import of the LAS / import of the LAZ decoding ahead, wall, one thread; one per core | | | | | %.2f; %.2f |\n", "'"$format"'", a / b, a / c }'
  if [ "$format" -le 5 ]; then
    row "format $format: import of the LAS, built-in LAS reader (vs source reader)" \
      "$(summary "$work/impbuiltin.times")" "${imp%% *}"
  fi
  rm -f "$work/out.qzv"
  echo "| format $format: file sizes | | LAS $(( $(stat -c %s "$las") / 1048576 )) MB, LAZ $(( $(stat -c %s "$laz") / 1048576 )) MB | | |"
done
