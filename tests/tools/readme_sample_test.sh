#!/usr/bin/env bash
# The README's sample session is what the vorlin command really prints: every
# "$ vorlin ..." line between the cli-sample markers runs in an empty folder,
# and its output (progress and timing lines aside) must match the lines that
# follow it. A line "..." in the README stands for any number of lines.
set -euo pipefail
readme="$1" bindir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '/<!-- cli-sample -->/ { on = 1; next } /<!-- \/cli-sample -->/ { on = 0 } on' "$readme" |
  sed -e 's/^    //' -e '/^```/d' > "$work/expected"
[ -s "$work/expected" ] || { echo "no cli-sample block in $readme"; exit 1; }
mkdir "$work/run"
while IFS= read -r line; do
  case "$line" in
    '$ '*)
      printf '%s\n' "$line"
      (cd "$work/run" && PATH="$bindir:$PATH" eval "${line#\$ }" 2>&1) |
        grep -v -E '^import: [0-9]+%|^  time: ' || true ;;
  esac
done < "$work/expected" > "$work/actual"
awk 'NR == FNR { want[++n] = $0; next } { got[++m] = $0 }
END {
  i = 1; j = 1
  while (i <= n) {
    if (want[i] == "...") {
      if (++i > n) { j = m + 1; break }
      while (j <= m && got[j] != want[i]) j++
      if (j > m) { printf "README line %d not printed: %s\n", i, want[i]; exit 1 }
      continue
    }
    if (j > m || got[j] != want[i]) {
      printf "README: %s\ntool:   %s\n", want[i], (j <= m ? got[j] : "(nothing more)"); exit 1
    }
    i++; j++
  }
  if (j <= m) { printf "tool printed more than the README shows: %s\n", got[j]; exit 1 }
}' "$work/expected" "$work/actual"
echo "README sample matches the tool"
