#!/usr/bin/env bash
# Import throughput against the I/O floor, on generated LAS (format 3) scenes.
# For each point count: generates the scene, runs `vorlin import --quiet`
# RUNS times and reports the median points/s, CPU seconds and peak RSS, the
# floor (read the source once, write 20 bytes per point twice) and the ratio
# import/floor; then a stage profile of one 20M import. Markdown on stdout.
#
#   bench/run_import.sh [build-dir] [work-dir] [runs] [point counts...]
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

echo "| points | runs | import s (median) | M points/s | CPU s | peak RSS MB | floor s | import/floor |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|"
for n in "${counts[@]}"; do
  las=$work/scene_$n.las
  [ -f "$las" ] || "$cli" generate "$las" --points "$n" --format 3 --seed 1 >/dev/null
  : > "$work/times"
  for ((r = 0; r < runs; ++r)); do
    /usr/bin/time -a -o "$work/times" -f "%e %U %S %M" "$cli" import --quiet "$work/out.qzv" "$las"
    rm -f "$work/out.qzv"
  done
  : > "$work/floors"
  for ((r = 0; r < runs; ++r)); do "$floor" "$las" "$n" "$work" >> "$work/floors"; done
  wall=$(awk '{ print $1 }' "$work/times" | median)
  cpu=$(awk '{ print $2 + $3 }' "$work/times" | median)
  rss=$(awk '{ print $4 / 1024 }' "$work/times" | median)
  fl=$(median < "$work/floors")
  awk -v n="$n" -v runs="$runs" -v wall="$wall" -v cpu="$cpu" -v rss="$rss" -v fl="$fl" 'BEGIN {
    printf "| %d | %d | %.2f | %.2f | %.2f | %.0f | %.2f | %.2f |\n",
      n, runs, wall, n / wall / 1e6, cpu, rss, fl, wall / fl }'
done

echo
echo "Stage profile of one 20M import:"
echo
las=$work/scene_20000000.las
[ -f "$las" ] || "$cli" generate "$las" --points 20000000 --format 3 --seed 1 >/dev/null
"$stages" "$las" "$work/out.qzv" | sed '/checksum/d'
rm -f "$work/out.qzv"
