#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing. On the
# project's standard machine everything is already present and this does
# nothing.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev \
           pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
