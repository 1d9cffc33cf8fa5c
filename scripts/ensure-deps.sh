#!/usr/bin/env bash
# Makes sure the Debian packages that the build needs are present.
# Usage: scripts/ensure-deps.sh [extra-package ...]
# Missing packages are installed with apt-get when running as root; otherwise
# they are named and the script stops, so nothing fails later for an obscure
# reason. The Python package is tested with Debian's python3, its pytest, and
# PyVISA as a real client of the VISA stand-in.
set -euo pipefail

packages=(cmake make g++ pkgconf libgtest-dev libbenchmark-dev jq acl python3 python3-pytest python3-pyvisa "$@")
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  echo "installing missing packages: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; } ||
    { echo "error: could not install: ${missing[*]}" >&2; exit 1; }
else
  echo "error: missing Debian packages: ${missing[*]}" >&2
  echo "       install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
