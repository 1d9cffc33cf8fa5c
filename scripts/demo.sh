#!/usr/bin/env bash
# Builds the release configuration and runs the demo host: it loads the
# plug-in as the Hexaflow host does and prints the names of an "IVI" control:
# the logical names of examples/store.ini, bound through libvelmora's file
# store, and the example devices in examples/devices.txt. Extra arguments go
# to hxhost (try --help); a --store of their own replaces the example store. The library-only example is built beside it:
# build/release/demo/velmora_example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target hxhost velmora_example >/dev/null
exec build/release/demo/hxhost/hxhost --wait --store examples/store.ini "$@"
