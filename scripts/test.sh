#!/usr/bin/env bash
# Builds the debug configuration in both flavours of libvelmora's store
# back end (the placeholder default, then the file store) and runs every
# test (one process per case).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --workflow --preset test
cmake --workflow --preset test-file
