#!/bin/sh
# Runs the tray tests on the session's X display with an XEmbed tray host (trayer); the test
# waits for the host to take the tray selection. Exit 77 (skipped) without a display or trayer.
test_program=$1
[ -n "$DISPLAY" ] || { echo "no X display"; exit 77; }
command -v trayer >/dev/null 2>&1 || { echo "trayer is not installed"; exit 77; }
trayer --edge top --height 24 >/dev/null 2>&1 &
tray_pid=$!
QT_QPA_PLATFORM=xcb "$test_program" --gtest_filter='StatusBarTray.*'
status=$?
kill "$tray_pid" 2>/dev/null
wait "$tray_pid" 2>/dev/null
exit $status
