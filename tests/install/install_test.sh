#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and consumes it from a tiny
# project twice: through find_package(velmora) and through pkg-config
# (consume.sh).
# With the file store, velmora-store is installed too and checks a store.
# Usage: install_test.sh <build-dir> <consumer-source-dir> <c-compiler> [<store> <example-store>]
set -euo pipefail
build=$1 consumer=$2 cc=$3 store=${4:-placeholder} example=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

# Everything a plain install writes lies under its prefix: the packages' own
# files (/etc/velmora, /usr/share/doc) are left to them.
outside=$(cmake --install "$build" --prefix "$prefix" | sed -n 's/^-- \(Installing\|Up-to-date\): //p' |
  grep -v "^$prefix/" || true)
[ -z "$outside" ] || { echo "installed outside the prefix: $outside"; exit 1; }
lib=$(find "$prefix" -name libvelmora.so -path '*/lib*' | head -n 1)
libdir=$(dirname "$lib")
for so in "$libdir/libvelmora.so.1" "$libdir/velmora/libvelmora_hx.so"; do
  [ -f "$so" ] || { echo "not installed: $so"; exit 1; }
  if readelf -d "$so" | grep -qE '\((RUNPATH|RPATH)\)'; then
    echo "$so carries a RUNPATH/RPATH"; exit 1
  fi
done
[ -L "$libdir/libvelmora.so" ] || { echo "libvelmora.so is not a version link"; exit 1; }

tool="$prefix/bin/velmora-store"
if [ "$store" = file ]; then
  [ -x "$tool" ] || { echo "not installed: $tool"; exit 1; }
  [ -f "$libdir/libvelmora-store.so.1" ] && [ -L "$libdir/libvelmora-store.so" ] ||
    { echo "libvelmora-store.so.1 and its link are not installed"; exit 1; }
  LD_LIBRARY_PATH="$libdir" "$tool" check "$example"
elif [ -e "$tool" ]; then
  echo "velmora-store is installed with the placeholder store"; exit 1
fi

"$(dirname "$0")/consume.sh" "$prefix" "$libdir" "$consumer" "$cc" "$work"
