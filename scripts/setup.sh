#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing, and the
# browser test's pinned npm packages. On a machine that has everything it
# does nothing. The Makefile runs it once per build folder (see its setup
# stamp); `make setup` runs it again.
set -euo pipefail
cd "$(dirname "$0")/.."
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

required=(cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          libpng-dev zlib1g-dev libcpp-httplib-dev pkg-config
          pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib
          python3-dask python3-distributed)
# Without these only the browser test is skipped.
optional=(chromium)

need=() want=()
for pkg in "${required[@]}"; do have "$pkg" || need+=("$pkg"); done
for pkg in "${optional[@]}"; do have "$pkg" || want+=("$pkg"); done

if [ $((${#need[@]} + ${#want[@]})) -gt 0 ]; then
  echo "setup: missing packages: ${need[*]} ${want[*]}"
  if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
  elif command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
    echo "setup: installing them with sudo apt-get (you may be asked for your password)"
  else
    echo "setup: run as root: apt-get update && apt-get install -y ${need[*]} ${want[*]}" >&2
    exit 1
  fi
  echo "setup: apt-get update && apt-get install -y ${need[*]} ${want[*]}"
  "${SUDO[@]}" apt-get update -qq
  if [ ${#need[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq "${need[@]}"
  fi
  if [ ${#want[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq "${want[@]}" ||
      echo "setup: ${want[*]} could not be installed; the browser test will be skipped"
  fi
else
  echo "setup: every Debian package is installed"
fi

# The viewer's browser test drives Chromium with puppeteer-core, pinned by
# tests/browser/package-lock.json.
browser_tests=tests/browser
if command -v npm >/dev/null 2>&1 &&
   { [ ! -d "$browser_tests/node_modules/puppeteer-core" ] ||
     [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules/.package-lock.json" ]; }; then
  echo "setup: npm ci in $browser_tests (the browser test's packages)"
  (cd "$browser_tests" && npm ci --no-audit --no-fund --loglevel=error) ||
    echo "setup: the browser test's npm packages could not be installed; that test will be skipped"
fi
