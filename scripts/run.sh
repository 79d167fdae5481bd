#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillby.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" app
exec "$root/build-app/src/app/quillby" "$@"
