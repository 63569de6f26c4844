#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, where they are missing.
# Quick and silent when everything is there; `make` runs it before every build.
set -euo pipefail

packages=(cmake ninja-build g++ make libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libedit-dev clang clang-14 libclang-rt-14-dev
          dpkg-dev file systemd)
# ifc-gateway: what its build needs (the HTTP server library; JSON and CLI11 are above).
gateway_build_packages=(libcpp-httplib-dev)
# ifc-gateway: what its tests need: a real Prometheus and promtool, and a headless Chromium
# driven through chromedriver by the system python's selenium.
gateway_test_packages=(prometheus chromium chromium-driver python3-selenium)
packages+=("${gateway_build_packages[@]}" "${gateway_test_packages[@]}")

missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
((${#missing[@]})) || exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || {
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  }
  sudo=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
