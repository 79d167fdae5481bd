#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillby.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release -DQUILLBY_BUILD_TESTS=OFF -DQUILLBY_BUILD_BENCHMARKS=OFF
if [ -x "$root/build/src/app/quillby" ]; then
  exec "$root/build/src/app/quillby" "$@"
fi
echo "Built. The tray application itself is not part of this build yet."
