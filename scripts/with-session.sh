#!/usr/bin/env bash
# Runs a command inside a throwaway desktop session: Xvfb, a private D-Bus session bus,
# an unlocked throwaway keyring and a notification daemon. The command's exit status is returned.
set -euo pipefail
if [ "${QUILLBY_IN_SESSION:-}" != "1" ]; then
  tmp=$(mktemp -d)
  mkdir -m 0700 -p "$tmp/home" "$tmp/runtime"
  export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" QUILLBY_IN_SESSION=1
  status=0
  xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@" || status=$?
  rm -rf "$tmp"
  exit $status
fi

wait_for_name() {
  for _ in $(seq 1 100); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"; then
      return 0
    fi
    sleep 0.1
  done
  echo "warning: $1 did not appear on the session bus" >&2
}

eval "$(printf 'quillby-test' | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" || true
# The daemon may start without a default collection; the first write creates one unlocked.
wait_for_name org.freedesktop.secrets
/usr/lib/notification-daemon/notification-daemon >/dev/null 2>&1 &
daemon_pid=$!
wait_for_name org.freedesktop.Notifications
status=0
"$@" || status=$?
kill "$daemon_pid" 2>/dev/null || true
exit $status
