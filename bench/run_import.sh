#!/usr/bin/env bash
# Import throughput against the I/O floor, on generated LAS (format 3) scenes.
# For each point count: generates the scene, runs `vorlin import --quiet`
# RUNS times and reports the median points/s, CPU seconds and peak RSS, the
# floor (read the source once, write 20 bytes per point twice) and the ratio
# import/floor; then a stage profile (processor time) of one 20M import.
# Markdown on stdout.
#
#   bench/run_import.sh [build-dir] [work-dir] [runs] [point counts...]
#
# READER=builtin imports through the library's own LAS reader (what a host
# gets when it passes no reader) instead of the command's default source
# reader. COLD=1 also times one import after dropping the page cache (needs
# root; the source is then read from disk).
#
# The build dir must be configured with -DVORLIN_BUILD_BENCH=ON. Needs about
# 90 bytes of free disk per point in the work dir.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/rel}
work=${2:-$(mktemp -d)}
runs=${3:-3}
shift $(( $# > 3 ? 3 : $# ))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000000 20000000 50000000)

cmake --build "$build" --target vorlin_cli vorlin_bench_floor vorlin_bench_import_stages >/dev/null
cli=$build/tools/cli/vorlin
floor=$build/bench/vorlin_bench_floor
stages=$build/bench/vorlin_bench_import_stages
mkdir -p "$work"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

readerFlag=()
[ "${READER:-}" = builtin ] && readerFlag=(--builtin-reader)
cold() {
  [ "${COLD:-0}" = 1 ] || { echo "-"; return; }
  sync && echo 3 > /proc/sys/vm/drop_caches
  /usr/bin/time -f "%e" "$cli" import --quiet "${readerFlag[@]}" "$work/out.qzv" "$1" 2>&1 >/dev/null | tail -1
  rm -f "$work/out.qzv"
}

echo "| points | runs | import s (median) | M points/s | CPU s | peak RSS MB | floor s | import/floor | cold s |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for n in "${counts[@]}"; do
  las=$work/scene_$n.las
  [ -f "$las" ] || "$cli" generate "$las" --points "$n" --format 3 --seed 1 >/dev/null
  : > "$work/times"
  for ((r = 0; r < runs; ++r)); do
    /usr/bin/time -a -o "$work/times" -f "%e %U %S %M" "$cli" import --quiet "${readerFlag[@]}" "$work/out.qzv" "$las"
    rm -f "$work/out.qzv"
  done
  : > "$work/floors"
  for ((r = 0; r < runs; ++r)); do "$floor" "$las" "$n" "$work" >> "$work/floors"; done
  wall=$(awk '{ print $1 }' "$work/times" | median)
  cpu=$(awk '{ print $2 + $3 }' "$work/times" | median)
  rss=$(awk '{ print $4 / 1024 }' "$work/times" | median)
  fl=$(median < "$work/floors")
  cs=$(cold "$las")
  awk -v n="$n" -v runs="$runs" -v wall="$wall" -v cpu="$cpu" -v rss="$rss" -v fl="$fl" -v cs="$cs" 'BEGIN {
    printf "| %d | %d | %.2f | %.2f | %.2f | %.0f | %.2f | %.2f | %s |\n",
      n, runs, wall, n / wall / 1e6, cpu, rss, fl, wall / fl, cs }'
done

echo
echo "Stage profile of one 20M import:"
echo
las=$work/scene_20000000.las
[ -f "$las" ] || "$cli" generate "$las" --points 20000000 --format 3 --seed 1 >/dev/null
"$stages" "$las" "$work/out.qzv" 1 cpu | sed '/checksum/d'
rm -f "$work/out.qzv"
