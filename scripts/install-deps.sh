#!/usr/bin/env bash
# Installs the Debian or Ubuntu packages that a make target needs, where they are missing.
# Quick and silent when everything is there; says what it installs and why before it does.
#
#   scripts/install-deps.sh GROUP...     groups: build test fuzz package (see below)
#   IFC_SKIP_DEPS=1 make ...             skips this script (another system, or packages that
#                                        are installed some other way)
#
# Without root it uses sudo; on a system without apt it names the packages and stops.
set -euo pipefail

if [ "${IFC_SKIP_DEPS:-0}" = 1 ]; then
  exit 0
fi

# One line per group: the reason shown before installing, then the packages.
declare -A why=(
  [build]="to build ifc-server, ifc-client, ifc-settings and ifc-gateway"
  [test]="to build and run the tests"
  [fuzz]="to build and run the fuzz targets (clang's libFuzzer)"
  [package]="to build and check the Debian package"
)
declare -A packages=(
  # libboost-dev: the gateway's HTTP server (Boost.Beast, header only); libsqlite3-dev: the
  # gateway's state (its settings library, roll-outs and logbook).
  [build]="g++ cmake ninja-build make pkg-config libcli11-dev nlohmann-json3-dev libedit-dev
           libboost-dev libsqlite3-dev"
  # The gateway's tests and benchmarks: cpp-httplib's client, zlib, a real Prometheus and
  # promtool, and a headless Chromium driven through chromedriver by the system python's
  # selenium. The settings documents' tests check every document against its JSON Schema with
  # the system python's jsonschema.
  [test]="libgtest-dev libgmock-dev libcpp-httplib-dev zlib1g-dev systemd prometheus chromium
          chromium-driver python3-selenium python3-jsonschema"
  [fuzz]="clang clang-14 libclang-rt-14-dev"
  [package]="dpkg-dev file help2man systemd"
)

usage() {
  echo "usage: scripts/install-deps.sh GROUP... (groups: ${!packages[*]})" >&2
  exit 2
}
(($#)) || usage

missing=()
reasons=()
for group in "$@"; do
  [ -n "${packages[$group]+set}" ] || usage
  for pkg in ${packages[$group]}; do
    [[ " ${missing[*]} " == *" $pkg "* ]] && continue
    if command -v dpkg-query >/dev/null 2>&1 &&
      dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      continue
    fi
    missing+=("$pkg")
    reasons+=("  $pkg  (${why[$group]})")
  done
done
((${#missing[@]})) || exit 0

if ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: this system has no apt-get; these Debian packages (or their equivalents)" >&2
  echo "are needed:" >&2
  printf '%s\n' "${reasons[@]}" >&2
  echo "Install them by hand, then run make with IFC_SKIP_DEPS=1." >&2
  exit 1
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps: missing packages (run as root to install them, or install them by" >&2
    echo "hand and set IFC_SKIP_DEPS=1):" >&2
    printf '%s\n' "${reasons[@]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi
echo "install-deps: installing with apt-get${sudo:+ (through sudo)}:"
printf '%s\n' "${reasons[@]}"
echo "install-deps: set IFC_SKIP_DEPS=1 to skip this step."
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
