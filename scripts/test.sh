#!/usr/bin/env bash
# Builds the debug configuration and runs every test (one process per case).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --workflow --preset test
