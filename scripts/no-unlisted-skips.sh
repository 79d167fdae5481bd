#!/usr/bin/env bash
# Runs a test command (ctest, or a GoogleTest program), then prints the tests it skipped and
# fails when one of them is not named in .ci/allowed-skips (a test name, then why it cannot run
# on a CI machine). A failure of the command itself is returned as it is.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
allowed="$root/.ci/allowed-skips"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
# ctest closes with "  12 - Name (Skipped)"; GoogleTest prints "[  SKIPPED ] Name (0 ms)".
mapfile -t skipped < <(sed -nE -e 's/^[[:space:]]*[0-9]+ - (.+) \(Skipped\)$/\1/p' \
  -e 's/^\[  SKIPPED \] ([^ ]+)( \([0-9]+ ms\))?$/\1/p' "$log" | sort -u)
unlisted=0
echo "== skipped tests: ${#skipped[@]}"
for name in "${skipped[@]}"; do
  if [ -f "$allowed" ] && awk -v name="$name" '$1 == name { found = 1 } END { exit !found }' "$allowed"; then
    echo "  $name (listed: $(awk -v name="$name" '$1 == name { $1 = ""; print substr($0, 2); exit }' "$allowed"))"
  else
    echo "  $name: not listed in .ci/allowed-skips"
    unlisted=1
  fi
done
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
if [ "$unlisted" -ne 0 ]; then
  echo "error: a test skipped that is not listed in .ci/allowed-skips: make it run here or list it with the reason" >&2
  exit 1
fi
