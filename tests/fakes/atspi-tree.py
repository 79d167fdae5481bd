#!/usr/bin/python3
"""Prints, as JSON, the accessibility tree that the application with the given process id
exports on the accessibility bus, as a screen reader reads it: one entry per object in
depth-first order with its depth, role name, name and description.

    atspi-tree.py PID [SECONDS]

Waits up to SECONDS (default 60) for the application to register; exits 2 if it never does."""

import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def application(pid):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except gi.repository.GLib.Error:
            continue
    return None


def walk(node, depth, out):
    out.append({
        "depth": depth,
        "role": node.get_role_name(),
        "name": node.get_name() or "",
        "description": node.get_description() or "",
    })
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            walk(child, depth + 1, out)


def main():
    pid = int(sys.argv[1])
    deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 60.0)
    app = application(pid)
    while app is None and time.monotonic() < deadline:
        time.sleep(0.1)  # registration is asynchronous; bounded by the deadline
        app = application(pid)
    if app is None:
        print("application %d not on the accessibility bus" % pid, file=sys.stderr)
        return 2
    nodes = []
    walk(app, 0, nodes)
    print(json.dumps(nodes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
