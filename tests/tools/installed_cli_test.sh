#!/bin/sh
# The installed vorlin starts from any folder with an empty environment: it
# finds its library through its own run path.
set -eu
cmake="$1" build="$2" work="$3"
rm -rf "$work"
mkdir -p "$work/run"
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
cd /
env -i "$work/prefix/bin/vorlin" --version
cd "$work/run"
env -i ../prefix/bin/vorlin generate s.las --points 2000 >/dev/null
env -i ../prefix/bin/vorlin import --quiet s.qzv s.las
env -i ../prefix/bin/vorlin info s.qzv | grep -q "points:          2,000"
rm -rf "$work"
echo "installed vorlin runs with an empty environment"
