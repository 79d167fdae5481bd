#!/usr/bin/env bash
# Checks that no coroutine task is started and dropped: each one is awaited, kept, or handed to
# runDetached. Runs clang-tidy (.clang-tidy at the top) over src/ with a build folder's compile
# commands: check-async.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
tidy=$(command -v clang-tidy-19 || command -v clang-tidy)
cd "$root"
find src -name '*.cpp' -print0 |
  xargs -0 -P "${QUILLBY_JOBS:-$(nproc)}" -n 4 "$tidy" -p "$build" --quiet 2>/dev/null |
  grep -E '(warning|error):' | sort -u > "$build/check-async.txt" || true
if [ -s "$build/check-async.txt" ]; then
  cat "$build/check-async.txt" >&2
  echo "async: $(wc -l < "$build/check-async.txt") task(s) started and dropped; await them or use runDetached" >&2
  exit 1
fi
echo "async: every task is awaited, kept or run detached"
