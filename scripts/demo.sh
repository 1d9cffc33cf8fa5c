#!/usr/bin/env bash
# Builds the release configuration and runs the demo host: it loads the
# plug-in as the Hexaflow host does and prints the names of an "IVI" control
# in its three sections: the IVI logical names of examples/store.ini, bound
# through libvelmora's file store, the discovered instruments of
# examples/devices.txt, and the VISA resources of examples/visa.txt, bound
# through the VISA stand-in. Extra arguments go to hxhost (try --help); a
# --store or --visa of their own replaces the example's. The library-only
# example is built beside it: build/release/demo/velmora_example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target hxhost velmora_example >/dev/null
exec build/release/demo/hxhost/hxhost --wait --store examples/store.ini --visa examples/visa.txt "$@"
