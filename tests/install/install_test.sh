#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and consumes it from a tiny
# project twice: through find_package(velmora) and through pkg-config.
# With the file store, velmora-store is installed too and checks a store.
# Usage: install_test.sh <build-dir> <consumer-source-dir> <c-compiler> [<store> <example-store>]
set -euo pipefail
build=$1 consumer=$2 cc=$3 store=${4:-placeholder} example=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$(find "$prefix" -name libvelmora.so -path '*/lib*' | head -n 1)
libdir=$(dirname "$lib")
for so in "$libdir/libvelmora.so.1" "$libdir/libvelmora_hx.so"; do
  [ -f "$so" ] || { echo "not installed: $so"; exit 1; }
  if readelf -d "$so" | grep -qE '\((RUNPATH|RPATH)\)'; then
    echo "$so carries a RUNPATH/RPATH"; exit 1
  fi
done
[ -L "$libdir/libvelmora.so" ] || { echo "libvelmora.so is not a version link"; exit 1; }

tool="$prefix/bin/velmora-store"
if [ "$store" = file ]; then
  [ -x "$tool" ] || { echo "not installed: $tool"; exit 1; }
  LD_LIBRARY_PATH="$libdir" "$tool" check "$example"
elif [ -e "$tool" ]; then
  echo "velmora-store is installed with the placeholder store"; exit 1
fi

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
# shellcheck disable=SC2046
"$cc" -o "$work/consumer-pc" "$consumer/main.c" "$consumer/plugin.c" $(pkg-config --cflags velmora velmora_hx) \
  -DPLUGIN_PATH="\"$plugin\"" $(pkg-config --libs velmora) -ldl
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc"
