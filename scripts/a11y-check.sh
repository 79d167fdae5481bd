#!/usr/bin/env bash
# Checks the program over the accessibility bus (AT-SPI) in a throwaway desktop session with a
# window manager: the announcer heard by a bus listener and by Orca, then the keyboard-only walk
# from an empty home through onboarding, Settings and the Insights consent sheet.
#   a11y-check.sh [build folder]        (default: build/, a release build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ "${QUILLBY_IN_SESSION:-}" != "1" ]; then
  exec "$root/scripts/with-session.sh" "$0" "$build"
fi
out=${QUILLBY_A11Y_OUT:-$build/a11y-check}
rm -rf "$out" && mkdir -p "$out"
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=0 GTK_MODULES=
# The accessibility bus of this session, and a window manager so windows take focus.
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus_pid=$!
openbox --sm-disable --startup "touch $out/openbox-ready" >/dev/null 2>&1 &
wm_pid=$!
trap 'kill $wm_pid $bus_pid 2>/dev/null || true' EXIT
for _ in $(seq 1 300); do [ -e "$out/openbox-ready" ] && break; sleep 0.1; done
[ -e "$out/openbox-ready" ] || { echo "openbox did not start" >&2; exit 1; }
py=/usr/bin/python3
cd "$root/tests/a11y"
echo "-- announcements on the bus (listener and Orca)"
"$py" announcement_bus_check.py "$build/tests/a11y/quillby_announcement_probe" --orca "$out/orca-probe.log"
echo "-- keyboard walk"
# Orca on the walk: each control the focus reaches must be spoken with its name, each combo box
# with its value on focus and on change, each announcement heard (QUILLBY_WALK_ORCA=0: the bus only).
walk_orca=(--orca "$out/orca-walk.log")
[ "${QUILLBY_WALK_ORCA:-1}" = "0" ] && walk_orca=()
"$py" keyboard_walk.py "$build/tests/a11y/quillby_loopback" --report "$out/announcements.txt" "${walk_orca[@]}"
