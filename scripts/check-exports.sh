#!/usr/bin/env bash
# Checks a built shared library against its export list.
# Usage: scripts/check-exports.sh <library.so> <symbols.txt> [needed-regex]
#   symbols.txt  one exported function name per line ('#' starts a comment)
#   needed-regex every NEEDED entry must match it (default: anything)
# Fails when the library exports a symbol the list does not name, misses one
# it does name, has no soname, carries a RUNPATH/RPATH, or needs a library
# outside needed-regex.
set -euo pipefail
lib=$1 list=$2 needed_re=${3:-.}
fail=0
name=$(basename "$lib")

expected=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$list" | grep -v '^$' | sort -u)
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | grep -v '^$' | sort -u)

extra=$(comm -13 <(echo "$expected") <(echo "$actual"))
missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
if [ -n "$extra" ]; then echo "$name exports symbols it must not: $extra" | tr '\n' ' '; echo; fail=1; fi
if [ -n "$missing" ]; then echo "$name does not export: $missing" | tr '\n' ' '; echo; fail=1; fi

dyn=$(readelf -d "$lib")
if ! grep -q '(SONAME)' <<<"$dyn"; then echo "$name has no soname"; fail=1; fi
if grep -qE '\((RUNPATH|RPATH)\)' <<<"$dyn"; then echo "$name carries a RUNPATH/RPATH"; fail=1; fi
while read -r needed; do
  if ! grep -qE "$needed_re" <<<"$needed"; then echo "$name needs $needed"; fail=1; fi
done < <(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dyn")

count=$(echo "$expected" | wc -l)
[ $fail -eq 0 ] && echo "$name: exports exactly the $count listed functions; NEEDED ok"
exit $fail
