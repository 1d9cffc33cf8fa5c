#!/usr/bin/env bash
# Builds and runs the consumer project against an installed velmora, twice:
# through find_package(velmora) and through pkg-config. Used on a
# `cmake --install` tree and on the Debian packages unpacked into a folder.
# Usage: consume.sh <prefix> <libdir> <consumer-source-dir> <c-compiler> <work-dir>
set -euo pipefail
prefix=$1 libdir=$2 consumer=$3 cc=$4 work=$5

echo "--- find_package(velmora)"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer"

echo "--- pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
plugin=$(pkg-config --variable=plugin velmora_hx)
[ -f "$plugin" ] || { echo "pkg-config names a plug-in that does not exist: $plugin"; exit 1; }
for path in "$plugin" "$(pkg-config --variable=libdir velmora)" "$(pkg-config --variable=includedir velmora)"; do
  case "$path" in *//*) echo "pkg-config path with a doubled slash: $path"; exit 1 ;; esac
done
# The store file's library, with the file store.
store=()
if pkg-config --exists velmora-store; then
  # shellcheck disable=SC2207
  store=("$consumer/store.c" -DHAVE_VELMORA_STORE $(pkg-config --cflags --libs velmora-store))
fi
# shellcheck disable=SC2046
"$cc" -o "$work/consumer-pc" "$consumer/main.c" "$consumer/plugin.c" $(pkg-config --cflags velmora velmora_hx) \
  -DPLUGIN_PATH="\"$plugin\"" $(pkg-config --libs velmora) "${store[@]}" -ldl
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc"
