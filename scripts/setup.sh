#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing. On the
# project's standard machine everything is already present and this does
# nothing. The Makefile runs it once per build folder (see its setup stamp);
# `make setup` runs it again.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -eq 0 ]; then
  echo "setup: every build dependency is installed"
  exit 0
fi
echo "setup: missing packages: ${need[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
  echo "setup: installing them with sudo apt-get (you may be asked for your password)"
else
  echo "setup: run as root: apt-get update && apt-get install -y ${need[*]}" >&2
  exit 1
fi
echo "setup: apt-get update && apt-get install -y ${need[*]}"
"${SUDO[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq "${need[@]}"
