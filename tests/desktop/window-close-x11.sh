#!/usr/bin/env bash
# Closes the first windows of the real program through a real window manager, as a person does
# with Alt+F4 or the title bar's close button: openbox sends WM_DELETE_WINDOW. Closing the
# onboarding window, and the terms window, must each end the program with status 0.
#
#   window-close-x11.sh <quillby binary>
#
# Needs an X display (run it inside scripts/with-session.sh). Every step waits for its event
# (openbox's start-up command, the window's appearance, the program's end) with an upper bound.
set -euo pipefail
binary=$(realpath "$1")
scale=${QUILLBY_TEST_TIMEOUT_SCALE:-1}
limit=$((60 * scale))
work=$(mktemp -d)
wm_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  tail -20 "$work/program.log" >&2 2>/dev/null || true
  exit 1
}

# openbox runs its start-up command once it manages the screen.
openbox --sm-disable --startup "touch $work/wm-ready" >"$work/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 1 $((limit * 20))); do
  [ -e "$work/wm-ready" ] && break
  kill -0 "$wm_pid" 2>/dev/null || fail "openbox did not start: $(cat "$work/openbox.log")"
  sleep 0.05
done
[ -e "$work/wm-ready" ] || fail "openbox did not get ready"

# Starts the program with the given stored settings, waits for a window whose title starts with
# $2, closes it with Alt+F4 and expects the program to end with status 0.
close_and_expect_exit() {
  local settings=$1 title=$2
  rm -rf "$work/home"
  mkdir -p "$work/home/.config/Quillby"
  printf '%b' "$settings" >"$work/home/.config/Quillby/Quillby.conf"
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=xcb "$binary" >>"$work/program.log" 2>&1 &
  program_pid=$!
  local window
  window=$(timeout "$limit" xdotool search --sync --limit 1 --name "^$title") || fail "no window \"$title\" appeared"
  timeout "$limit" xdotool windowactivate --sync "$window" || fail "the window manager did not activate \"$title\""
  xdotool key --clearmodifiers alt+F4
  timeout "$limit" tail --pid="$program_pid" -f /dev/null || fail "closing \"$title\" left the program running"
  local status=0
  wait "$program_pid" || status=$?
  program_pid=""
  [ "$status" = 0 ] || fail "closing \"$title\" ended the program with status $status"
  echo "closing \"$title\" through the window manager ended the program with status 0"
}

close_and_expect_exit '' 'Onboarding'
close_and_expect_exit '[General]\nQuillbyOnboardingCompleted=true\n' 'Terms of use'
