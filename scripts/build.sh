#!/usr/bin/env bash
# Configures and builds one variant: build.sh [release|asan|app|fuzz] [extra cmake args...]
# release and asan build everything (tests and benchmarks included); app builds only the program;
# fuzz builds the libFuzzer targets (tests/fuzz) into build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
variant=${1:-release}
shift || true
case "$variant" in
  release) dir="$root/build"; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLBY_BUILD_TESTS=ON -DQUILLBY_BUILD_BENCHMARKS=ON) ;;
  app) dir="$root/build-app"; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLBY_BUILD_TESTS=OFF -DQUILLBY_BUILD_BENCHMARKS=OFF) ;;
  asan) dir="$root/build-asan"; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUILLBY_SANITIZE=ON -DQUILLBY_BUILD_TESTS=ON -DQUILLBY_BUILD_BENCHMARKS=OFF) ;;
  fuzz) dir="$root/build-fuzz"; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLBY_FUZZ=ON -DQUILLBY_BUILD_TESTS=OFF -DQUILLBY_BUILD_BENCHMARKS=OFF) ;;
  *) echo "usage: build.sh [release|asan|app|fuzz]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_C_COMPILER=clang-19 "${flags[@]}" "$@" >/dev/null
targets=()
[ "$variant" = fuzz ] && targets=(--target quillby_fuzz_targets)
cmake --build "$dir" -j "${QUILLBY_JOBS:-$(nproc)}" "${targets[@]}"
