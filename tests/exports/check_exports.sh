#!/usr/bin/env bash
# The shared library exports the public API and nothing else.
set -euo pipefail
lib="$1"
bad=$(nm -D --defined-only -C "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }' |
  grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' |
  grep -v -E '(^|[ :])Zelvane::Vorlin::' |
  grep -v -E '^(typeinfo for |typeinfo name for |vtable for |VTT for )?Codec(File)?Reader(::|$)' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"
  echo "$bad"
  exit 1
fi
count=$(nm -D --defined-only "$lib" | wc -l)
echo "exports ok ($count symbols)"
