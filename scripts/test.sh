#!/usr/bin/env bash
# Installs what is missing, runs each libFuzzer target over a short, fixed number of inputs, then
# builds and runs every test twice: a normal build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build, each inside a throwaway desktop session.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
echo "== layering"
"$root/scripts/check-layering.sh"
echo "== fuzz targets"
"$root/scripts/fuzz.sh" --check
for variant in release asan; do
  dir="$root/build"; [ "$variant" = asan ] && dir="$root/build-asan"
  echo "== $variant build"
  "$root/scripts/build.sh" "$variant"
  echo "== $variant tests"
  export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
  "$root/scripts/no-unlisted-skips.sh" "$root/scripts/with-session.sh" \
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 600
  echo "== $variant history tests together in one program, pinned to one CPU, then to two"
  for cpus in 0 0,1; do
    "$root/scripts/no-unlisted-skips.sh" "$root/scripts/with-session.sh" \
      taskset -c "$cpus" timeout -k 10 900 "$dir/tests/history/history_tests"
  done
  if [ "$variant" = release ]; then
    echo "== coroutine tasks (none started and dropped)"
    "$root/scripts/check-async.sh" "$dir"
    echo "== accessibility bus (announcements heard, keyboard walk)"
    timeout 480 "$root/scripts/a11y-check.sh" "$dir"
  fi
done
