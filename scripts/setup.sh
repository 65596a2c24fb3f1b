#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing. On the
# project's standard machine everything is already present and this does
# nothing.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev \
           libcpp-httplib-dev pkg-config; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
# The viewer's browser test needs Chromium; without it that test is skipped.
if ! have chromium; then
  echo "setup: installing chromium"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq chromium; } ||
    echo "setup: chromium could not be installed; the browser test will be skipped"
fi
# The viewer's browser test drives Chromium with puppeteer-core, pinned by
# tests/browser/package-lock.json.
browser_tests="$(dirname "$0")/../tests/browser"
if [ ! -d "$browser_tests/node_modules/puppeteer-core" ] ||
   [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules/.package-lock.json" ]; then
  echo "setup: installing the browser test's npm packages"
  (cd "$browser_tests" && npm ci --no-audit --no-fund --loglevel=error)
fi
