#!/usr/bin/env bash
# Builds the benchmarks (Release, build/bench), runs the import benchmarks
# when bench/run_import.sh is present, the dense-cell imports, then the
# query benchmarks on a
# generated 20M-point scene and on a 20M-point file with a 100^3 grid, and
# prints a Markdown summary of the medians of 5 repetitions.
#
#   bench/run_all.sh [work-dir]     (default build/bench/work)
#
# Needs about 90 bytes of free disk per point in the work dir for the query
# files (about 2 GB), and more for the import benchmarks (run_import.sh).
# Files already in the work dir are reused. POINTS overrides the point count.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
work=${1:-$build/work}
points=${POINTS:-20000000}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$work"
work=$(cd "$work" && pwd)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORLIN_BUILD_BENCH=ON \
  -DVORLIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target vorlin_cli vorlin_bench_query vorlin_make_qzv \
  vorlin_bench_dense_cells

if [ -f "$root/bench/run_import.sh" ]; then
  echo "== import benchmarks"
  bash "$root/bench/run_import.sh" "$build" "$work/import"
fi

echo "== dense cells: a 50M-point terrestrial scan and a 20M-point single-cell cluster"
for cloud in "scan 50000000" "cluster 20000000"; do
  # shellcheck disable=SC2086
  "$build/bench/vorlin_bench_dense_cells" $cloud "$work/dense.qzv"
done
rm -f "$work/dense.qzv"

cli=$build/tools/cli/vorlin
scene=$work/scene-$points.qzv
fine=$work/grid100-$points.qzv
if [ ! -s "$scene" ]; then
  echo "== generating and importing $points points"
  "$cli" generate "$work/scene-$points.las" --points "$points" --format 3 --seed 1
  "$cli" import --quiet "$scene" "$work/scene-$points.las"
  rm -f "$work/scene-$points.las"
fi
[ -s "$fine" ] || "$build/bench/vorlin_make_qzv" "$fine" --points "$points" --cells-per-axis 100

reps=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
echo "== query benchmarks on $scene"
"$build/bench/vorlin_bench_query" --file="$scene" "${reps[@]}" \
  --benchmark_out="$work/query.json" --benchmark_out_format=json
echo "== open benchmarks on $fine (1,000,000 cells)"
"$build/bench/vorlin_bench_query" --file="$fine" "${reps[@]}" --benchmark_filter='BM_Open' \
  --benchmark_out="$work/open_fine.json" --benchmark_out_format=json

# Within one process the iterations after the first reuse the heap that the
# previous engine freed; a viewer opening its first file pages in fresh
# memory. So time single cold opens too, one process each.
echo "== cold opens to the first points on $fine, 5 processes each"
for budget in 0 67108864; do
  for i in 1 2 3 4 5; do
    "$build/bench/vorlin_bench_query" --file="$fine" --benchmark_min_time=0 \
      --benchmark_filter="BM_OpenToFirstPoints/$budget/" \
      --benchmark_out="$work/cold_${budget}_$i.json" --benchmark_out_format=json >/dev/null
  done
done

python3 - "$work/query.json" "$work/open_fine.json" "$work" <<'PY'
import glob, json, statistics, sys

def medians(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    return {name(r): r for r in runs if r.get("aggregate_name") == "median"}

def name(r):
    return r["run_name"].replace("/manual_time", "").replace("/real_time", "")

scene, fine = medians(sys.argv[1]), medians(sys.argv[2])

def ms(r, field="real_time"):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    return r[field] * scale

def rate(r):
    return r.get("items_per_second", 0.0)

print("\n## Query benchmarks (medians of 5)\n")
print("| Benchmark | File | Wall (ms) | CPU (ms) | Records/s | Note |")
print("|---|---|---:|---:|---:|---|")
def row(runs, name, label, note=""):
    r = runs.get(name)
    if r is None:
        print(f"| {name} | {label} | n/a | | | missing |")
        return
    per_s = f"{rate(r):,.0f}" if rate(r) else ""
    cpu = r["cpu_ms"] if "cpu_ms" in r else ms(r, "cpu_time")
    print(f"| {name} | {label} | {ms(r):.2f} | {cpu:.2f} | {per_s} | {note} |")

mem, pread = scene.get("BM_MemcpySameBytes"), scene.get("BM_PreadSameBytes")
pre, disk = scene.get("BM_GetPointsPreloaded"), scene.get("BM_GetPointsFromFile")
ratio_mem = f"{rate(pre) / rate(mem):.2f} x memcpy" if pre and mem else ""
ratio_pread = f"{rate(disk) / rate(pread):.2f} x pread" if disk and pread else ""
ratio_pieces = scene.get("BM_PreadInCellPieces")
if disk and ratio_pieces:
    ratio_pread += f", {rate(disk) / rate(ratio_pieces):.2f} x pread in cell pieces"
row(scene, "BM_OpenHeaderAndTables", "scene")
row(scene, "BM_OpenToFirstPoints/0", "scene", "budget 0, 10k records")
row(scene, "BM_OpenToFirstPoints/67108864", "scene", "budget 64 MiB, 10k records")
row(scene, "BM_CreateQueryFrustum", "scene")
row(scene, "BM_GetPointsPreloaded", "scene", ratio_mem)
row(scene, "BM_GetPointsFromFile", "scene", ratio_pread)
first = scene.get("BM_GetPointsFirstFromFile")
row(scene, "BM_GetPointsFirstFromFile", "scene",
    f"{rate(first) / rate(pread):.2f} x pread; first fetch of a fresh engine"
    if first and pread and rate(first) else "first fetch of a fresh engine")
row(scene, "BM_MemcpySameBytes", "scene", "20 MB")
row(scene, "BM_PreadSameBytes", "scene", "20 MB, page cache, one read")
pieces = scene.get("BM_PreadInCellPieces")
row(scene, "BM_PreadInCellPieces", "scene",
    f"20 MB in {pieces['pieces']:.0f} reads" if pieces and "pieces" in pieces else "")
cur = scene.get("BM_Cursor10x100k")
row(scene, "BM_Cursor10x100k", "scene",
    f"{cur['ms_per_batch']:.2f} ms per batch" if cur and "ms_per_batch" in cur else "")
row(scene, "BM_PointSet1MIn64k", "scene")
row(fine, "BM_OpenHeaderAndTables", "100^3 grid")
row(fine, "BM_OpenToFirstPoints/0", "100^3 grid", "budget 0, 10k records")
row(fine, "BM_OpenToFirstPoints/67108864", "100^3 grid", "budget 64 MiB, 10k records")

for budget in ("0", "67108864"):
    wall, cpu = [], []
    for path in glob.glob(f"{sys.argv[3]}/cold_{budget}_*.json"):
        with open(path) as f:
            r = json.load(f)["benchmarks"][0]
        wall.append(ms(r))
        cpu.append(r.get("cpu_ms", 0.0))
    if wall:
        print(f"| BM_OpenToFirstPoints/{budget} cold | 100^3 grid | {statistics.median(wall):.2f} "
              f"| {statistics.median(cpu):.2f} | | median of {len(wall)} fresh processes |")
print("\nCPU (ms) is the benchmark thread's CPU time where the benchmark reports it "
      "(cpu_ms), else the process CPU time per iteration.")
PY
