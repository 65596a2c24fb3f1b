#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each from a build made with
# -DVORLIN_FUZZ=ON; fails on the first crash, leak, timeout or out-of-memory.
#   [FUZZ_JOBS=n] run_fuzzers.sh <build-dir> <seconds> [target ...]
# Corpora grow in <build-dir>/corpus/<name>; crashing inputs are kept in
# <build-dir>/artifacts.
set -euo pipefail
build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../../../shared/data/las
laz_samples=$here/../../../shared/data/laz
bin=$build/tests/fuzz

rm -rf "$build/seeds"
"$bin/fuzz_seeds" "$build/seeds"
mkdir -p "$build/artifacts"

# name, maximum input length, seed folders. An import costs about the same
# for every non-empty cell, so the import inputs stay short: a few dozen
# points still reach every reader and writer path.
targets=(
  "las_import 1024 $build/seeds/las"
  "xyb_import 1024 $build/seeds/xyb"
  "qzv_engine 32768 $build/seeds/qzv"
  "file_location 4096 $build/seeds/mount"
  "laz_decode 4096 $build/seeds/laz"
)
# The real LAS samples join the LAS seeds when present (cut to the length).
if [ -d "$samples" ]; then
  targets[0]="${targets[0]} $samples"
fi
if [ -d "$laz_samples" ]; then
  targets[4]="${targets[4]} $laz_samples"
fi

wanted=" ${*:-las_import xyb_import qzv_engine file_location laz_decode} "
# FUZZ_JOBS targets run at once (default 1); each is single-threaded.
jobs=${FUZZ_JOBS:-1}

run_target() {
  local name=$1 maxlen=$2 seeds=$3
  local corpus=$build/corpus/$name log=$build/fuzz_$name.log
  mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s (log $log)"
  # Leak checks stay on; -timeout is per input, generous for imports.
  if ! "$bin/fuzz_$name" -max_total_time="$seconds" -max_len="$maxlen" -timeout=30 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/${name}-" \
      "$corpus" $seeds >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $name FAILED"
    return 1
  fi
  { grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$log" | tail -n 1 || true
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  } | sed "s/^/$name: /"
}

pids=()
failed=0
for entry in "${targets[@]}"; do
  read -r name maxlen seeds <<<"$entry"
  [[ $wanted == *" $name "* ]] || continue
  run_target "$name" "$maxlen" "$seeds" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
[ $failed -eq 0 ] || { echo "fuzz: a target found a fault"; exit 1; }
echo "fuzz: all targets ran without a finding"
