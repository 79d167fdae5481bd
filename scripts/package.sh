#!/usr/bin/env bash
# Builds the program for /usr and makes a Debian package of it in build-package/:
#   scripts/package.sh && sudo apt install ./build-package/quillby_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
dir="$root/build-package"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_C_COMPILER=clang-19 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLBY_BUILD_TESTS=OFF -DQUILLBY_BUILD_BENCHMARKS=OFF "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB)
ls "$dir"/quillby_*.deb
