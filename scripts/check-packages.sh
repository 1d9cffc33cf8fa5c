#!/usr/bin/env bash
# Checks velmora's Debian packages as a Debian user would receive them.
# Usage: scripts/check-packages.sh [contents|lint|consume|all] <packages-dir> [<source-dir>]
#   contents  each package holds exactly its files (no stand-ins, test
#             programs or build paths), binaries stripped with their debug
#             information in the -dbgsym package, no RPATH/RUNPATH, sonames,
#             the store path /etc/velmora/store.ini, the shlibs and symbols
#             files, the Depends, Suggests and descriptions, and Debian's
#             hardening (hardening-check) of the libraries and velmora-store
#   lint      lintian --pedantic (no tag at all: one that must stay is
#             overridden in packaging/debian/<package>.lintian-overrides with
#             its reason) and mandoc -T lint on the manual pages
#   consume   unpacks the packages into a scratch root and builds and runs the
#             install test's consumer against it, through find_package and
#             through pkg-config, velmora-store on the example store, and the
#             Python package with Debian's /usr/bin/python3
#   all       the three in turn (the default)
# The source directory (default: this checkout) is the build path that must
# not appear in any packaged file.
set -euo pipefail
# Outputs are searched as `grep -q PATTERN <(command)`, never through a pipe:
# grep leaves at the first match, the command then dies of SIGPIPE, and
# pipefail would turn the match into a failure.
step=all
case "${1:-}" in contents|lint|consume|all) step=$1; shift ;; esac
[ $# -ge 1 ] || { sed -n '3,17p' "$0" >&2; exit 2; }
dir=$(cd "$1" && pwd)
src=$(cd "${2:-$(dirname "$0")/..}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
"$here/scripts/ensure-deps.sh" dpkg-dev lintian mandoc devscripts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

main_packages=(libvelmora1 libvelmora-store1 libvelmora-hx1 libvelmora-dev velmora-tools python3-velmora)
# The packages with binaries, which each have a -dbgsym package.
binary_packages=(libvelmora1 libvelmora-store1 libvelmora-hx1 velmora-tools)
# The shared libraries with a symbols file: package, soname, export list.
symbols_packages=("libvelmora1 libvelmora.so.1 config/libvelmora.symbols"
  "libvelmora-store1 libvelmora-store.so.1 config/libvelmora-store.symbols")

# expected_files <package>: the files and links of the package, @V@ standing
# for its version and @M@ for the multiarch library folder.
expected_files() {
  local doc="/usr/share/doc/$1/changelog.gz /usr/share/doc/$1/copyright"
  case $1 in
    libvelmora1) echo "/usr/lib/@M@/libvelmora.so.1 /usr/lib/@M@/libvelmora.so.@V@" ;;
    libvelmora-store1) echo "/usr/lib/@M@/libvelmora-store.so.1 /usr/lib/@M@/libvelmora-store.so.@V@" ;;
    libvelmora-hx1) echo "/usr/lib/@M@/velmora/libvelmora_hx.so /usr/share/lintian/overrides/libvelmora-hx1" ;;
    libvelmora-dev)
      echo "/usr/include/velmora/velmora.h /usr/include/velmora/velmora_hx.h" \
        "/usr/include/velmora/velmora_store.h /usr/lib/@M@/libvelmora-store.so" \
        "/usr/lib/@M@/libvelmora.so /usr/lib/@M@/pkgconfig/velmora.pc" \
        "/usr/lib/@M@/pkgconfig/velmora-store.pc /usr/share/man/man3/libvelmora-store.3.gz" \
        "/usr/lib/@M@/pkgconfig/velmora_hx.pc /usr/share/man/man3/libvelmora.3.gz" \
        "/usr/lib/@M@/cmake/velmora/velmoraConfig.cmake" \
        "/usr/lib/@M@/cmake/velmora/velmoraConfigVersion.cmake" \
        "/usr/lib/@M@/cmake/velmora/velmoraTargets.cmake" \
        "/usr/lib/@M@/cmake/velmora/velmoraTargets-relwithdebinfo.cmake" ;;
    velmora-tools) echo "/usr/bin/velmora-store /usr/share/man/man1/velmora-store.1.gz" ;;
    python3-velmora)
      local m
      for m in __init__ _errors _library _statuses _store _version visa; do
        echo "/usr/lib/python3/dist-packages/velmora/$m.py"
      done ;;
  esac
  echo "$doc"
}

package_file() {  # package_file <package>: its .deb or .ddeb in the folder
  local f
  for f in "$dir/$1"_*.deb "$dir/$1"_*.ddeb; do [ -f "$f" ] && { echo "$f"; return; }; done
  return 1
}

# Files and links of a package, directories left out, as absolute paths.
listing() {
  dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\.||' | sort
}

is_elf() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]; }

check_contents() {
  local p f deb version root=$work/contents
  local present
  present=$(cd "$dir" && ls -- *.deb *.ddeb 2>/dev/null | sed 's/_.*//' | sort | tr '\n' ' ')
  local wanted
  wanted=$(printf '%s\n' "${main_packages[@]}" "${binary_packages[@]/%/-dbgsym}" | sort | tr '\n' ' ')
  [ "$present" = "$wanted" ] || fail "packages are [$present], expected [$wanted]"

  for p in "${main_packages[@]}"; do
    deb=$(package_file "$p") || { fail "no package $p"; continue; }
    version=$(dpkg-deb -f "$deb" Version)
    mkdir -p "$root/$p" && dpkg-deb -x "$deb" "$root/$p"
    diff <(expected_files "$p" | tr ' ' '\n' | grep . | sed -e "s|@M@|$multiarch|" -e "s|@V@|$version|" | sort) \
      <(listing "$deb") >"$work/diff" || fail "$p holds other files than expected (< expected, > packaged):
$(grep '^[<>]' "$work/diff")"
    if listing "$deb" | grep -Ei 'standin|hxhost|qxmodinst|_test|bench|fuzz|example'; then
      fail "$p ships stand-ins, test, benchmark or example programs (above)"
    fi
    [ -n "$(dpkg-deb -f "$deb" Description | sed -n 2p)" ] || fail "$p has no long description"
  done

  # Build paths, in the files and in what the compressed ones hold.
  while IFS= read -r f; do
    if grep -qaF "$src" "$f" || { [ "${f%.gz}" != "$f" ] && grep -qaF "$src" <(zcat "$f"); }; then
      fail "${f#"$root"/} holds the build path $src"
    fi
  done < <(find "$root" -type f)

  # Binaries: no RPATH/RUNPATH, stripped, their debug file in the -dbgsym.
  local dbg=$work/dbgsym id
  for p in "${binary_packages[@]}"; do
    mkdir -p "$dbg/$p"
    deb=$(package_file "$p-dbgsym") && dpkg-deb -x "$deb" "$dbg/$p"
    while IFS= read -r f; do
      is_elf "$f" || continue
      grep -qE '\((RPATH|RUNPATH)\)' <(readelf -d "$f") && fail "$p: ${f#"$root/$p"} carries an RPATH/RUNPATH"
      grep -qE ' \.(symtab|debug_info) ' <(readelf -S --wide "$f") && fail "$p: ${f#"$root/$p"} is not stripped"
      id=$(readelf -n "$f" | sed -n 's/.*Build ID: //p')
      [ -n "$id" ] && [ -f "$dbg/$p/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" ] ||
        fail "$p: ${f#"$root/$p"} has no debug file in $p-dbgsym"
    done < <(find "$root/$p" -type f)
  done
  [ -z "$(find "$dbg" -type f ! -name '*.debug')" ] || fail "a -dbgsym package holds more than debug files"

  # libvelmora1: the soname, the default store path and an empty
  # /etc/velmora of its own.
  local lib lib1
  lib1=$(package_file libvelmora1) || return 0
  version=$(dpkg-deb -f "$lib1" Version)
  lib=$root/libvelmora1/usr/lib/$multiarch/libvelmora.so.$version
  if [ -f "$lib" ]; then
    grep -q 'Library soname: \[libvelmora.so.1\]' <(readelf -d "$lib") || fail "libvelmora's soname is not libvelmora.so.1"
    grep -qx /etc/velmora/store.ini <(strings -a "$lib") || fail "libvelmora does not name /etc/velmora/store.ini"
  fi
  [ -d "$root/libvelmora1/etc/velmora" ] && [ -z "$(ls -A "$root/libvelmora1/etc/velmora")" ] ||
    fail "libvelmora1 does not own an empty /etc/velmora"
  for p in "${binary_packages[@]}"; do
    deb=$(package_file "$p") || continue
    grep -q 'libc6 (>= ' <(dpkg-deb -f "$deb" Depends) || fail "$p: Depends names no libc6 version"
  done
  deb=$(package_file libvelmora-dev) &&
    [ "$(dpkg-deb -f "$deb" Depends)" = "libvelmora1 (= $version), libvelmora-store1 (= $version), libvelmora-hx1 (= $version)" ] ||
    fail "libvelmora-dev does not depend on exactly this version of the libraries"
  # The tool and the library it links are always upgraded together.
  deb=$(package_file velmora-tools) &&
    grep -qE "(^|, )libvelmora-store1 \(= $version\)(,|$)" <(dpkg-deb -f "$deb" Depends) ||
    fail "velmora-tools does not depend on exactly this version of libvelmora-store1"
  deb=$(package_file libvelmora-hx1) &&
    [ "$(dpkg-deb -f "$deb" Suggests)" = libvelmora1 ] || fail "libvelmora-hx1 does not suggest libvelmora1"

  # Each shared library: its shlibs file, and a symbols file naming exactly
  # what it exports.
  local entry package soname list
  for entry in "${symbols_packages[@]}"; do
    read -r package soname list <<<"$entry"
    deb=$(package_file "$package") || continue
    lib=$root/$package/usr/lib/$multiarch/$soname
    grep -qx "${soname%.so.*} 1 $package (>= $version)" <(dpkg-deb -I "$deb" shlibs 2>/dev/null) ||
      fail "$package's shlibs file does not name it"
    if ! dpkg-deb -I "$deb" symbols >"$work/symbols" 2>/dev/null; then
      fail "$package has no symbols file"
    elif [ "$(head -n 1 "$work/symbols")" != "$soname $package #MINVER#" ] ||
      ! diff <(sed -n 's/^ \([^@]*\)@Base .*/\1/p' "$work/symbols" | sort) \
        <(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | grep . | sort) >/dev/null; then
      fail "$package's symbols file does not list exactly what $soname exports"
    fi
  done
  check_hardening "$root"
  check_python_package "$root" "$version"
}

# Debian's hardening: hardening-check on the libraries and velmora-store, the
# plug-in held to all but immediate binding (it calls the host's functions,
# which only the host has, and is loaded lazily by programs that check it
# without one). Control-flow protection is checked apart: the code is built
# with -fcf-protection (its functions start with endbr64), but bookworm's
# glibc start files (Scrt1.o, crti.o, crtn.o) carry no IBT/SHSTK property, so
# the linker drops the note hardening-check looks for from every binary
# linked on bookworm.
check_hardening() {
  local root=$1 f skip
  for f in "$root/libvelmora1/usr/lib/$multiarch/libvelmora.so.1" \
    "$root/libvelmora-store1/usr/lib/$multiarch/libvelmora-store.so.1" \
    "$root/velmora-tools/usr/bin/velmora-store" \
    "$root/libvelmora-hx1/usr/lib/$multiarch/velmora/libvelmora_hx.so"; do
    [ -e "$f" ] || continue
    skip=--nocfprotection
    case $f in */libvelmora_hx.so) skip="$skip --nobindnow" ;; esac
    # shellcheck disable=SC2086
    hardening-check --quiet $skip "$f" >"$work/hardening" 2>&1 ||
      fail "${f#"$root"/} is not hardened: $(tr '\n' ' ' <"$work/hardening")"
    grep -q endbr64 <(objdump -d --no-show-raw-insn "$f") ||
      fail "${f#"$root"/} is not built with -fcf-protection"
  done
  f=$root/libvelmora-hx1/usr/lib/$multiarch/velmora/libvelmora_hx.so
  if [ -e "$f" ] && grep -qE '\((BIND_NOW|FLAGS_1)\).*(BIND_NOW|NOW)' <(readelf -d "$f"); then
    fail "the plug-in is bound at load: programs without the host cannot load it"
  fi
  return 0
}

# python3-velmora: sources only, for every architecture, depending on the
# library it loads through ctypes (which dpkg-shlibdeps cannot see).
check_python_package() {
  local root=$1 version=$2 deb
  deb=$(package_file python3-velmora) || return 0
  grep -qE '__pycache__|\.pyc$' <(listing "$deb") && fail "python3-velmora ships byte-compiled files"
  [ "$(dpkg-deb -f "$deb" Architecture)" = all ] || fail "python3-velmora is not Architecture: all"
  [ "$(dpkg-deb -f "$deb" Depends)" = "python3, libvelmora-store1 (= $version)" ] ||
    fail "python3-velmora does not depend on python3 and exactly this version of libvelmora-store1"
  [ "$(dpkg-deb -f "$deb" Suggests)" = python3-pyvisa ] || fail "python3-velmora does not suggest python3-pyvisa"
  grep -qx "__version__ = \"$version\"" "$root/python3-velmora/usr/lib/python3/dist-packages/velmora/_version.py" ||
    fail "python3-velmora's version is not the package's"
  return 0
}

check_lint() {
  local out=$work/lintian.txt
  # Pedantic: every tag lintian has, down to the pedantic ones, fails the
  # check unless an override gives its reason.
  if ! lintian --pedantic --fail-on error,warning,info,pedantic "$dir"/*.deb "$dir"/*.ddeb \
    >"$out" 2>&1; then
    cat "$out"; fail "lintian reports tags"
  else
    echo "lintian --pedantic: no tag but those overridden with their reason"
  fi
  local root=$work/lint p page
  for p in libvelmora-dev velmora-tools; do
    mkdir -p "$root" && dpkg-deb -x "$(package_file "$p")" "$root"
  done
  for page in "$root"/usr/share/man/man*/*; do
    mandoc -T lint -W warning "$page" || fail "mandoc finds faults in ${page#"$root"}"
  done
}

check_consume() {
  local root=$work/root p
  mkdir -p "$root"
  for p in "${main_packages[@]}"; do dpkg-deb -x "$(package_file "$p")" "$root"; done
  local libdir=$root/usr/lib/$multiarch
  LD_LIBRARY_PATH="$libdir" "$root/usr/bin/velmora-store" check "$here/examples/store.ini" ||
    fail "the packaged velmora-store does not accept the example store"
  "$here/tests/install/consume.sh" "$root/usr" "$libdir" "$here/tests/install/consumer" \
    "${CC:-cc}" "$work" || fail "the consumer does not build or run against the packages"
  # The Python package as Debian's python3 imports it, loading the packaged
  # library by its soname; -B writes no byte code into the scratch root.
  local resource
  resource=$(cd "$here" && env -u VELMORA_STORE_LIBRARY -u VELMORA_STORE PYTHONPATH="$root/usr/lib/python3/dist-packages" \
    LD_LIBRARY_PATH="$libdir" /usr/bin/python3 -B -c \
    "import velmora; print(velmora.Store('examples/store.ini').resolve('Bench3.Scope').resource)") &&
    [ "$resource" = "TCPIP0::10.0.0.5::INSTR" ] ||
    fail "the packaged Python package does not resolve Bench3.Scope of the example store"
}

case $step in
  contents) check_contents ;;
  lint) check_lint ;;
  consume) check_consume ;;
  all) check_contents; check_lint; check_consume ;;
esac
[ $failures -eq 0 ] && echo "packages in $dir: $step checks passed"
[ $failures -eq 0 ]
