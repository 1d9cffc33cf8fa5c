#!/usr/bin/env bash
# Builds the content of examples/store.ini from an empty file with velmora-store
# alone, as an administrator's script would, and compares what show --json
# reads from both: every item of every kind, every key, in file order. The
# session that names a driver the store lacks is built the only way the tool
# allows: the driver is added, named, and removed again with --force.
# Usage: build_example_store_test.sh <velmora-store> <examples/store.ini>
set -euo pipefail
tool=$1 example=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
: >built.ini
set_key() { "$tool" set built.ini "$@"; }

"$tool" add built.ini Driver acmeScope
set_key Driver acmeScope Description "Driver for the acme four-channel oscilloscopes"
set_key Driver acmeScope Module libacmeScope.so
set_key Driver acmeScope Prefix acmeScope
set_key Driver acmeScope Classes "IviDriver, IviScope, IviDigitizer"
"$tool" add built.ini driver zetaFgen
set_key driver zetaFgen Description "Driver for the zeta arbitrary function generators"
set_key driver zetaFgen Module libzetaFgen.so
set_key driver zetaFgen Prefix zetaFgen
set_key driver zetaFgen Classes "IviDriver, IviFgen"

for device in Rack1Slot2 Bench3.Gen Meter7; do "$tool" add built.ini Device "$device"; done
set_key device Rack1Slot2 Description "Scope in rack 1, slot 2"
set_key device Rack1Slot2 Resource TCPIP0::10.0.0.5::INSTR
set_key device Bench3.Gen Description "Generator on the left of bench 3"
set_key device Bench3.Gen Resource GPIB0::12::INSTR
set_key device Meter7 Description "Spare meter, not wired yet"
set_key device Meter7 Resource TCPIP0::10.0.0.7::INSTR

for session in Bench3.ScopeSession Bench3.GenSession Meter7Session; do
  "$tool" add built.ini session "$session"
done
set_key session Bench3.ScopeSession Description "The bench 3 scope: four inputs and the external trigger"
set_key session Bench3.ScopeSession Driver acmeScope
set_key session Bench3.ScopeSession Device Rack1Slot2
set_key session Bench3.ScopeSession DriverSetup Trace=false
set_key session Bench3.ScopeSession Simulate false
set_key session Bench3.ScopeSession Channels "CH[1..4], TRIG"
set_key session Bench3.GenSession Driver zetaFgen
set_key session Bench3.GenSession Device Bench3.Gen
set_key session Bench3.GenSession Simulate no
set_key session Bench3.GenSession Channels "OUT[1..2], SYNC"
"$tool" add built.ini driver orionDmm
set_key session Meter7Session Driver orionDmm
"$tool" remove --force built.ini driver orionDmm
set_key session Meter7Session Device Meter7
set_key session Meter7Session Simulate true

for name in Bench3.Scope Bench3.Gen Meter7 Spare; do "$tool" add built.ini LogicalName "$name"; done
set_key LogicalName Bench3.Scope Description "Scope used by the production test"
set_key LogicalName Bench3.Scope Session Bench3.ScopeSession
set_key LogicalName Bench3.Gen Description "Stimulus for the production test"
set_key LogicalName Bench3.Gen Session Bench3.GenSession
set_key LogicalName Meter7 Session Meter7Session
set_key LogicalName Spare Description "Not assigned yet"

"$tool" show --json "$example" >example.json
"$tool" show --json built.ini >built.json
if ! diff -u example.json built.json; then
  echo "FAIL: the store built with velmora-store reads differently from $example" >&2
  exit 1
fi
# The same warning for the same dangling reference.
"$tool" check built.ini 2>&1 >/dev/null | grep -qx \
  "built.ini: warning: session Meter7Session names driver orionDmm, which the store lacks" ||
  { echo "FAIL: check does not warn of the driver the store lacks" >&2; exit 1; }
echo "ok"
