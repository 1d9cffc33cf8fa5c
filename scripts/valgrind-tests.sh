#!/usr/bin/env bash
# Runs every test case of the given GoogleTest programs under valgrind, each
# case in its own process (the plug-in keeps process-wide state), two at a
# time. Fails when valgrind reports an error or a definite leak, or a case
# fails under it.
# Usage: scripts/valgrind-tests.sh <test-program> ...
set -uo pipefail
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

run_case() {  # run_case <program> <case>
  local log
  log=$(mktemp "$logs/case.XXXXXX")
  if ! valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      "$1" --gtest_filter="$2" --gtest_brief=1 >"$log" 2>&1; then
    echo "under valgrind: $(basename "$1") $2"
    tail -n 30 "$log"
    return 1
  fi
}
export -f run_case
export logs

status=0
for program in "$@"; do
  [ -x "$program" ] || { echo "missing $program"; status=1; continue; }
  cases=$("$program" --gtest_list_tests | awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}')
  count=$(wc -l <<<"$cases")
  if ! xargs -P2 -I{} bash -c 'run_case "$0" "$1"' "$program" {} <<<"$cases"; then
    status=1
  fi
  echo "$(basename "$program"): $count cases under valgrind"
done
exit $status
