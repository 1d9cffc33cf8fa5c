#!/usr/bin/env bash
# Builds the release configuration and runs the demo host: it loads the
# plug-in as the Hexaflow host does and prints the names of an "IVI" control
# for the example devices in examples/devices.txt. Extra arguments go to
# hxhost (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target hxhost >/dev/null
exec build/release/demo/hxhost/hxhost --wait "$@"
