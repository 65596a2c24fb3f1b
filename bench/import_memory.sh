#!/usr/bin/env bash
# Peak memory and time of importing generated LAS scenes (1M and 20M points
# by default). Builds a small driver against an existing build tree.
#
#   bench/import_memory.sh [build-dir] [work-dir] [point counts...]
#
# The build dir must hold libvorlin_core.a and tools/libvorlin_synth.a (any
# configured build: cmake --build <dir> --target vorlin_core vorlin_synth).
# Needs about 90 bytes of free disk per point in the work dir.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/rel}
work=${2:-$(mktemp -d)}
shift $(( $# > 2 ? 2 : $# ))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000000 20000000)

cmake --build "$build" --target vorlin_core vorlin_synth >/dev/null
mkdir -p "$work"
cat > "$work/import_memory.cpp" <<'CPP'
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

#include "platform/wide_string.h"
#include "synth/synth.h"
#include "vorlin/qv_vorlin.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "make") {
    synth::SceneOptions scene;
    scene.points = strtoull(argv[3], nullptr, 10);
    return synth::WriteSceneLas(argv[2], scene) ? 0 : 1;
  }
  if (argc == 4 && std::string(argv[1]) == "import") {
    std::wstring source = vorlin::platform::FromUtf8(argv[2]);
    std::wstring output = vorlin::platform::FromUtf8(argv[3]);
    auto start = std::chrono::steady_clock::now();
    int status = Zelvane::Vorlin::QvVorlin::import(source.c_str(), output.c_str(), nullptr, 0x1F);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("status %d, %.1f s, peak resident %.1f MB\n", status, seconds,
           usage.ru_maxrss / 1024.0);
    return status;
  }
  fprintf(stderr, "usage: %s make <las> <points> | import <las> <qzv>\n", argv[0]);
  return 2;
}
CPP
c++ -std=c++17 -O2 -I"$root/include" -I"$root/src" -I"$root/tools" \
  "$work/import_memory.cpp" "$build/libvorlin_core.a" "$build/tools/libvorlin_synth.a" \
  -lpthread -o "$work/import_memory"

for n in "${counts[@]}"; do
  las="$work/scene_$n.las"
  "$work/import_memory" make "$las" "$n"
  printf '%s points (%s MB source): ' "$n" "$(( $(stat -c %s "$las") / 1048576 ))"
  "$work/import_memory" import "$las" "$work/scene_$n.qzv"
  rm -f "$las" "$work/scene_$n.qzv"
done
