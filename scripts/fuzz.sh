#!/usr/bin/env bash
# Builds the libFuzzer targets (build-fuzz/) and runs them.
#
#   scripts/fuzz.sh [--runs N | --seconds S] [--jobs J] [target...]
#
# Targets: dexcom_replies librelinkup_replies history_day_file history_day_file_readers history_manifest
# stored_configuration autostart_entry update_feed version_order quiet_hours_time (all when none is named). Each run starts from the seed corpus in
# tests/fuzz/<target>/corpus and grows a working corpus in build-fuzz/corpus/<target>; crashes go
# to build-fuzz/artifacts/<target>/. The default is 10 million inputs per target. --check runs
# each target over a short, fixed number of inputs without keeping a working corpus (what
# scripts/test.sh does in CI).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
all=(dexcom_replies librelinkup_replies history_day_file history_day_file_readers history_manifest stored_configuration autostart_entry
     update_feed version_order quiet_hours_time)
limit=(-runs=10000000)
jobs=1
check=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) limit=(-runs="$2"); shift 2 ;;
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --check) check=1; limit=(-runs="${QUILLBY_FUZZ_CHECK_RUNS:-20000}" -seed=1); shift ;;
    -h|--help) sed -n 2,11p "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

"$root/scripts/build.sh" fuzz

# A transfer error or a rejected record is normal here; the targets print nothing of their own.
# AddressSanitizer's defaults (a 256 MB quarantine, 4 KB of fill and a deep stack kept for every
# allocation) make the network targets ten times slower through page faults alone; a small
# quarantine still catches a use after free within the same input. Rerun a crash with the
# defaults for the full report.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1:max_malloc_fill_size=0:malloc_context_size=8:quarantine_size_mb=16}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_LOGGING_RULES="*=false"
status=0
for target in "${targets[@]}"; do
  binary="$root/build-fuzz/tests/fuzz/fuzz_$target"
  seeds="$root/tests/fuzz/$target/corpus"
  artifacts="$root/build-fuzz/artifacts/$target"
  mkdir -p "$artifacts"
  if [ "$check" = 1 ]; then
    work=$(mktemp -d)
  else
    work="$root/build-fuzz/corpus/$target"
    mkdir -p "$work"
  fi
  echo "== fuzz $target (${limit[*]})"
  log="$root/build-fuzz/fuzz-$target.log"
  args=("${limit[@]}" -max_len=65536 -timeout=120 -rss_limit_mb=4096 -print_final_stats=1
        -artifact_prefix="$artifacts/" "$work" "$seeds")
  if [ "$jobs" -gt 1 ]; then
    args=(-fork="$jobs" -ignore_crashes=0 "${args[@]}")
  fi
  if "$binary" "${args[@]}" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|new_units_added)|^#[0-9]+ *DONE' "$log" | tail -3 || true
    echo "   corpus: $(find "$work" -type f | wc -l) found here, $(find "$seeds" -type f | wc -l) seeds"
  else
    echo "   FAILED: see $log and $artifacts/"
    tail -40 "$log"
    status=1
  fi
  [ "$check" = 1 ] && rm -rf "$work"
done
exit $status
