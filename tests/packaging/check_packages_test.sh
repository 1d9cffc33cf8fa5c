#!/usr/bin/env bash
# Shows that scripts/check-packages.sh refuses packages with each fault it is
# there to catch: every case spoils one package of a good set in one way and
# expects the check to fail naming that fault; the untouched set passes.
# Usage: check_packages_test.sh <packages-dir> <build-dir>
set -euo pipefail
packages=$(cd "$1" && pwd) build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
check=$here/scripts/check-packages.sh
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The faults: each function changes the unpacked package tree given to it.
add_build_path() { echo "built in $here" >"$1/usr/share/doc/velmora-tools/note"; }
add_runpath() {
  echo 'int main(void) { return 0; }' >"$work/main.c"
  cc -s -Wl,-rpath,/opt/velmora "$work/main.c" -o "$1/usr/bin/velmora-store"
}
add_standin() { cp "$1/usr/lib/$multiarch/velmora/libvelmora_hx.so" "$1/usr/lib/$multiarch/velmora/libqxmodinst.so"; }
unstripped_library() { cp "$build/config/libvelmora.so.1.0.0" "$1/usr/lib/$multiarch/"; }
other_store_path() {
  LC_ALL=C sed -i 's|/etc/velmora/store.ini|/opt/velmora/store.ini|' "$1/usr/lib/$multiarch/libvelmora.so.1.0.0"
}
store_in_etc() { touch "$1/etc/velmora/store.ini"; }
no_debug_package() { rm -rf "$1"; }
loose_tool_dependency() { sed -i 's/libvelmora-store1 (= [^)]*)/libvelmora-store1 (>= 1.0.0)/' "$1/DEBIAN/control"; }
no_symbols_file() { rm "$1/DEBIAN/symbols"; }
# A library as a plain build makes one: no stack protector, fortify, relro or
# immediate binding.
unhardened_library() {
  echo 'int velmora_store_close(void) { return 0; }' >"$work/lib.c"
  cc -shared -fPIC -O0 -fno-stack-protector -U_FORTIFY_SOURCE -Wl,-z,norelro -Wl,-z,lazy \
    -Wl,-soname,libvelmora-store.so.1 -s "$work/lib.c" -o "$1/usr/lib/$multiarch/libvelmora-store.so.1.0.0"
}
byte_code_shipped() {
  mkdir "$1/usr/lib/python3/dist-packages/velmora/__pycache__"
  touch "$1/usr/lib/python3/dist-packages/velmora/__pycache__/_store.cpython-311.pyc"
}
python_for_one_architecture() { sed -i 's/^Architecture: all$/Architecture: amd64/' "$1/DEBIAN/control"; }

# case | package | fault | what the check must say
cases='
build path in a file   | velmora-tools         | add_build_path     | holds the build path
RUNPATH in a binary    | velmora-tools         | add_runpath        | carries an RPATH/RUNPATH
a stand-in shipped     | libvelmora-hx1        | add_standin        | ships stand-ins
binary not stripped    | libvelmora1           | unstripped_library | is not stripped
another store path     | libvelmora1           | other_store_path   | does not name /etc/velmora/store.ini
a store in /etc        | libvelmora1           | store_in_etc       | does not own an empty /etc/velmora
debug package missing  | libvelmora1-dbgsym    | no_debug_package   | has no debug file in libvelmora1-dbgsym
tools on any version   | velmora-tools         | loose_tool_dependency | does not depend on exactly this version of libvelmora-store1
no symbols file        | libvelmora-store1     | no_symbols_file    | libvelmora-store1 has no symbols file
library not hardened   | libvelmora-store1     | unhardened_library | libvelmora-store.so.1 is not hardened
byte code shipped      | python3-velmora       | byte_code_shipped  | ships byte-compiled files
python for one arch    | python3-velmora       | python_for_one_architecture | is not Architecture: all'

failed=0
if ! "$check" contents "$packages" "$here" >"$work/out" 2>&1; then
  cat "$work/out"; echo "FAIL: the untouched packages are refused"; failed=1
fi
while IFS='|' read -r name package fault message; do
  [ -n "$name" ] || continue
  name=$(echo $name) package=$(echo $package) fault=$(echo $fault) message=$(echo $message)
  rm -rf "$work/set" && cp -r "$packages" "$work/set" && rm -rf "$work/set/_CPack_Packages"
  file=$(ls "$work/set/${package}"_*)
  dpkg-deb --raw-extract "$file" "$work/tree" && rm "$file"
  "$fault" "$work/tree"
  [ -d "$work/tree" ] && dpkg-deb --root-owner-group --build "$work/tree" "$file" >/dev/null
  rm -rf "$work/tree"
  if "$check" contents "$work/set" "$here" >"$work/out" 2>&1; then
    echo "FAIL: $name: the check passes"; failed=1
  elif ! grep -qF -- "$message" "$work/out"; then
    cat "$work/out"; echo "FAIL: $name: the check does not say '$message'"; failed=1
  else
    echo "ok: $name"
  fi
done <<<"$cases"
exit $failed
