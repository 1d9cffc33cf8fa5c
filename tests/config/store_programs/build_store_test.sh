#!/usr/bin/env bash
# Builds a store from an empty file with velmora-store add and set, as an
# administrator's script would, and reads it back through show --json parsed
# by jq; then checks that refused edits exit 1, name their status and leave
# the file as it was.
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
# Drivers are written by hand; sessions name them.
printf '[Driver acmeDmm]\nClasses = IviDriver, IviDmm\n' >>bench.ini
"$tool" set bench.ini session Meter8Session Driver acmeDmm
"$tool" add bench.ini logical-name Bench8.Meter
"$tool" set bench.ini logical-name Bench8.Meter Session Meter8Session

"$tool" show --json bench.ini | jq -e --arg d "$description" '. == {
  "logical-name": [{name: "Bench8.Meter", Description: "", Session: "Meter8Session"}],
  session: [{name: "Meter8Session", Description: "", DriverSetup: "", Driver: "acmeDmm",
             Device: "Meter8", Simulate: true, Channels: []}],
  driver: [{name: "acmeDmm", Description: "", Module: "", Prefix: "", Classes: ["IviDmm"]}],
  device: [{name: "Meter8", Description: $d, Resource: "TCPIP0::10.0.0.8::INSTR"}]}' >/dev/null ||
  fail "show --json does not read back what was set"
[ "$("$tool" get bench.ini device Meter8 Description)" = "$description" ] ||
  fail "get does not print the value as set"

# refused <status name> <command ...>: exit 1, the status on standard error,
# nothing on standard output, the file untouched.
refused() {
  local want=$1 rc=0
  shift
  cp bench.ini before.ini
  "$tool" "$@" >out.txt 2>err.txt || rc=$?
  [ "$rc" -eq 1 ] || fail "$* exited $rc, not 1"
  grep -q "($want, -[0-9]*)\$" err.txt || fail "$*: no $want in: $(cat err.txt)"
  [ ! -s out.txt ] || fail "$* printed on standard output"
  cmp -s bench.ini before.ini || fail "$* changed the file"
}
refused kIviIniStoreNoSuchItem set bench.ini session Meter9Session Simulate true
refused kIviIniStoreNoSuchProperty set bench.ini driver acmeDmm Prefix acmeDmm
# A save that fails leaves the file whole: a second name of the same file
# would be split by replacing it.
ln bench.ini other-name.ini
refused kIviIniStoreHardLinked set bench.ini device Meter8 Resource GPIB0::8::INSTR
rm other-name.ini

"$tool" remove bench.ini logical-name Bench8.Meter
"$tool" remove bench.ini session Meter8Session
"$tool" show --json bench.ini |
  jq -e '(."logical-name" + .session | length) == 0 and (.device | length) == 1' >/dev/null ||
  fail "removed items are still listed"
"$tool" set --help | grep -q '^usage: velmora-store set FILE KIND NAME KEY VALUE$' ||
  fail "set --help does not print its usage on standard output"
echo "ok"
