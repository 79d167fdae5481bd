#!/usr/bin/env bash
# The running program's figures at rest with one Dexcom account: resident memory, threads,
# CPU and new session-bus connections over a window after a warm-up, in a throwaway desktop
# session with a tray host. Needs a release build (scripts/build.sh release).
#   idle-figures.sh [warm-up seconds] [window seconds] [onboarding|terms|insights]   (default 60 60)
# The third argument keeps that window (each has the animated background) open throughout,
# under a window manager. QUILLBY_IDLE_BUILD names another build folder (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
warmup=${1:-60}
window=${2:-60}
open=${3:-}
if [ "${QUILLBY_IN_SESSION:-}" != "1" ]; then
  exec "$root/scripts/with-session.sh" "$0" "$warmup" "$window" "$open"
fi
bench="${QUILLBY_IDLE_BUILD:-$root/build}/bench/app"
# A tray host, so the program shows its icon and title as on a desktop.
trayer --expand true --widthtype request >/dev/null 2>&1 &
tray_pid=$!
fifo=$(mktemp -u)
mkfifo "$fifo"
"$bench/quillby_fake_dexcom" >"$fifo" &
service_pid=$!
read -r origin <"$fifo"
rm -f "$fifo"
wm_pid=
if [ -n "$open" ] && command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
fi
trap 'kill $service_pid $tray_pid $wm_pid 2>/dev/null || true' EXIT
"$bench/quillby_idle_probe" --origin "$origin" --warmup "$warmup" --window "$window" ${QUILLBY_IDLE_MAPS:+--maps} \
  ${open:+--open "$open"}
