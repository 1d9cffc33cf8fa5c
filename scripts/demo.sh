#!/usr/bin/env bash
# Builds the release configuration and runs the demo host: it loads the
# plug-in as the Hexaflow host does and prints the names of an "IVI" control
# in two lists: the IVI logical names of examples/store.ini, bound through
# libvelmora's file store, sorted together with the discovered instruments of
# examples/devices.txt; then the VISA resources of examples/visa.txt, bound
# through the VISA stand-in. Extra arguments go to hxhost (try --help); a
# --store or --visa of their own replaces the example's. The library-only
# example is built beside it: build/release/demo/velmora_example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
# A first build takes minutes: its progress goes to standard error, one line
# per step, and the listing alone to standard output. A failed build shows
# the end of its log.
echo "demo: building the release preset (a few minutes the first time)" >&2
mkdir -p build
log=build/demo-build.log
cmake --preset release >"$log" 2>&1 || { tail -n 40 "$log" >&2; exit 1; }
set +o pipefail
cmake --build --preset release --target hxhost velmora_example 2>&1 | tee -a "$log" |
  grep --line-buffered -E '^\[ *[0-9]+%\] (Building|Linking)' | sed -u 's/^/demo: /' >&2
built=${PIPESTATUS[0]}
set -o pipefail
[ "$built" -eq 0 ] || { tail -n 40 "$log" >&2; exit 1; }
echo "demo: built; running hxhost" >&2
exec build/release/demo/hxhost/hxhost --wait --store examples/store.ini --visa examples/visa.txt "$@"
