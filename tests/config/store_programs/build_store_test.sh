#!/usr/bin/env bash
# Builds a store from an empty file with velmora-store add and set, as an
# administrator's script would, and reads it back through show --json parsed
# by jq; then checks that refused edits exit with their status, name it and
# leave the file as it was.
# Usage: build_store_test.sh <velmora-store>
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail() { echo "FAIL: $*" >&2; exit 1; }

: >bench.ini
# Blanks at the ends, quotes, a backslash, a tab, a control byte and UTF-8:
# every kind of byte that JSON escapes or passes as it stands.
description=$' "Meter 8", left\\right,\tcal \x01 5 \xc2\xb5s '
"$tool" add bench.ini device Meter8
"$tool" set bench.ini device Meter8 Resource TCPIP0::10.0.0.8::INSTR
"$tool" set bench.ini device Meter8 Description "$description"
"$tool" add bench.ini session Meter8Session
"$tool" set bench.ini session Meter8Session Device Meter8
"$tool" set bench.ini session Meter8Session simulate true
"$tool" add bench.ini driver acmeDmm
"$tool" set bench.ini driver acmeDmm Classes "IviDriver, IviDmm"
"$tool" set bench.ini session Meter8Session Driver acmeDmm
"$tool" add bench.ini logical-name Bench8.Meter
"$tool" set bench.ini logical-name Bench8.Meter Session Meter8Session

"$tool" show --json bench.ini | jq -e --arg d "$description" '. == {
  "logical-name": [{name: "Bench8.Meter", Description: "", Session: "Meter8Session"}],
  session: [{name: "Meter8Session", Description: "", DriverSetup: "", Driver: "acmeDmm",
             Device: "Meter8", Simulate: true, Channels: []}],
  driver: [{name: "acmeDmm", Description: "", Module: "", Prefix: "", Classes: ["IviDriver", "IviDmm"]}],
  device: [{name: "Meter8", Description: $d, Resource: "TCPIP0::10.0.0.8::INSTR"}]}' >/dev/null ||
  fail "show --json does not read back what was set"
[ "$("$tool" get bench.ini device Meter8 Description)" = "$description" ] ||
  fail "get does not print the value as set"
# An empty value is a line of its own, and reads as an empty line (exit 0);
# a key the item lacks prints nothing and exits 1, as git config has it.
"$tool" set bench.ini logical-name Bench8.Meter Description ""
grep -qx 'Description =' bench.ini || fail "an empty value has no line of its own"
"$tool" get bench.ini logical-name Bench8.Meter Description >out.txt || fail "get of an empty value failed"
[ "$(od -An -c out.txt | tr -d ' ')" = '\n' ] || fail "an empty value does not print an empty line"
"$tool" unset bench.ini logical-name Bench8.Meter Description
rc=0; "$tool" get bench.ini logical-name Bench8.Meter Description >out.txt 2>&1 || rc=$?
[ "$rc" -eq 1 ] && [ ! -s out.txt ] || fail "get of a key the item lacks exited $rc and printed: $(cat out.txt)"

# refused <exit status> <status name> <command ...>: the exit status, the
# status on standard error, nothing on standard output, the file untouched.
refused() {
  local exit=$1 want=$2 rc=0
  shift 2
  cp bench.ini before.ini
  "$tool" "$@" >out.txt 2>err.txt || rc=$?
  [ "$rc" -eq "$exit" ] || fail "$* exited $rc, not $exit"
  grep -q "($want, -[0-9]*[;)]" err.txt || fail "$*: no $want in: $(cat err.txt)"
  [ ! -s out.txt ] || fail "$* printed on standard output"
  cmp -s bench.ini before.ini || fail "$* changed the file"
}
refused 1 kIviIniStoreNoSuchItem set bench.ini session Meter9Session Simulate true
refused 2 kIviIniStoreNoSuchProperty set bench.ini driver acmeDmm Resource GPIB0::8::INSTR
refused 5 kIviIniStoreReferenced remove bench.ini driver acmeDmm
# A save that fails leaves the file whole: a second name of the same file
# would be split by replacing it. The step, the path and errno are named.
ln bench.ini other-name.ini
refused 6 kIviIniStoreHardLinked set bench.ini device Meter8 Resource GPIB0::8::INSTR
grep -q "saving over $(pwd -P)/bench.ini: .*; step compare, errno 0)\$" err.txt ||
  fail "a failed save does not name its step, path and errno: $(cat err.txt)"
rm other-name.ini

"$tool" remove bench.ini logical-name Bench8.Meter
"$tool" remove bench.ini session Meter8Session
"$tool" show --json bench.ini |
  jq -e '(."logical-name" + .session | length) == 0 and (.device | length) == 1' >/dev/null ||
  fail "removed items are still listed"
"$tool" set --help | grep -q '^usage: velmora-store set \[--retry N\] FILE KIND NAME KEY VALUE$' ||
  fail "set --help does not print its usage on standard output"
echo "ok"
