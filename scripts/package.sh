#!/usr/bin/env bash
# Builds velmora's Debian packages from the release-file preset (the file
# store, installed under /usr with its store in /etc/velmora):
#   libvelmora1, libvelmora-hx1, libvelmora-dev, velmora-tools, python3-velmora
# and the -dbgsym packages (.ddeb) of the binaries, in build/release-file/packages/.
# Install them with:  sudo apt install ./build/release-file/packages/*.deb
# An existing build/release-file is reused; only what changed is rebuilt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh dpkg-dev

out=build/release-file/packages
rm -f "$out"/*.deb "$out"/*.ddeb
cmake --preset release-file >/dev/null
cmake --build --preset release-file --target package >build/package.log 2>&1 ||
  { tail -n 40 build/package.log >&2; exit 1; }
ls "$out"/*.deb "$out"/*.ddeb
