#!/usr/bin/python3
"""Runs the real program as a native Wayland client under a headless weston.

    wayland_smoke.py <quillby binary>

Run inside scripts/with-session.sh (a private session bus with a keyring). Stands in for a panel
with a small StatusNotifierWatcher on the session bus, then:
  1. first run: the onboarding window opens; a second launch asks the running one to reopen and
     ends at once; SIGTERM ends the program with status 0;
  2. onboarding done and terms accepted: the program registers its tray item with the watcher;
     the tray's exported menu opens Settings and Insights; its Quit entry ends the program with
     status 0.
What the program asks of the compositor is read from libwayland's protocol log (WAYLAND_DEBUG),
so a window counts as opened when its toplevel gets its title. Every step waits for its event,
with an upper bound. Exit status 0 when everything held.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

SCALE = float(os.environ.get("QUILLBY_TEST_TIMEOUT_SCALE", "1"))
STEP_TIMEOUT = 60 * SCALE

WATCHER_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


class Failure(Exception):
    pass


class Watcher:
    """The panel's side of StatusNotifierItem: records every item registered, on its own thread."""

    def __init__(self):
        self.items = []  # (bus name, object path)
        self.condition = threading.Condition()
        self.context = GLib.MainContext()
        self.loop = GLib.MainLoop(self.context)
        ready = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(ready,), daemon=True)
        self.thread.start()
        if not ready.wait(STEP_TIMEOUT):
            raise Failure("the StatusNotifierWatcher did not start")

    def _run(self, ready):
        self.context.push_thread_default()
        address = Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None)
        self.connection = Gio.DBusConnection.new_for_address_sync(
            address,
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        info = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
        self.connection.register_object("/StatusNotifierWatcher", info, self._call, self._get, None)
        reply = self.connection.call_sync(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            GLib.Variant("(su)", ("org.kde.StatusNotifierWatcher", 4)), GLib.VariantType("(u)"),
            Gio.DBusCallFlags.NONE, -1, None)
        if reply.unpack()[0] != 1:
            raise SystemExit("org.kde.StatusNotifierWatcher is taken on this bus")
        ready.set()
        self.loop.run()

    def _call(self, connection, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            service = parameters.unpack()[0]
            item = (sender, service) if service.startswith("/") else (service, "/StatusNotifierItem")
            with self.condition:
                self.items.append(item)
                self.condition.notify_all()
            connection.emit_signal(None, path, interface, "StatusNotifierItemRegistered",
                                   GLib.Variant("(s)", (service,)))
        invocation.return_value(None)

    def _get(self, connection, sender, path, interface, name):
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        if name == "ProtocolVersion":
            return GLib.Variant("i", 0)
        with self.condition:
            return GLib.Variant("as", [service for service, _ in self.items])

    def wait_for_item(self, count):
        deadline = time.monotonic() + STEP_TIMEOUT
        with self.condition:
            while len(self.items) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure("no tray item was registered with the StatusNotifierWatcher")
                self.condition.wait(left)
            return self.items[count - 1]


class Program:
    """The program under test; its stderr (with the Wayland protocol log) is read line by line."""

    def __init__(self, binary, env, log_path):
        self.lines = []
        self.condition = threading.Condition()
        self.log = open(log_path, "a", encoding="utf-8", errors="replace")
        self.process = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.PIPE)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stderr:
            line = raw.decode("utf-8", "replace")
            if "WAYLAND_DEBUG" not in line and not re.match(r"^\[\s*\d", line):
                self.log.write(line)
            with self.condition:
                self.lines.append(line)
                self.condition.notify_all()
        with self.condition:
            self.lines.append(None)  # end of output
            self.condition.notify_all()

    def mark(self):
        with self.condition:
            return len(self.lines)

    def wait_for_line(self, pattern, what, since=0):
        """Waits for a line matching `pattern` among those from line `since` on."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + STEP_TIMEOUT
        seen = since
        with self.condition:
            while True:
                while seen < len(self.lines):
                    line = self.lines[seen]
                    seen += 1
                    if line is None:
                        raise Failure(f"the program ended before {what}")
                    if regex.search(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure(f"timed out waiting for {what}")
                self.condition.wait(left)

    def wait_for_exit(self, what):
        try:
            status = self.process.wait(STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure(f"the program did not end after {what}")
        self.reader.join(STEP_TIMEOUT)
        if status != 0:
            raise Failure(f"the program ended with status {status} after {what}")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def title_line(title):
    # xdg_toplevel@12.set_title("Settings — Quillby")
    return r'xdg_toplevel@\d+\.set_title\("' + re.escape(title)


def menu_entries(layout):
    """(id, label) of every entry of a com.canonical.dbusmenu layout, depth first."""
    item_id, properties, children = layout
    entries = [(item_id, properties.get("label", ""))]
    for child in children:
        entries.extend(menu_entries(child))
    return entries


def click_menu_entry(bus, item, label):
    name, path = item
    menu_path = bus.call_sync(name, path, "org.freedesktop.DBus.Properties", "Get",
                              GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")),
                              GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE,
                              int(STEP_TIMEOUT * 1000), None).unpack()[0]
    # The menu is built when it is about to be shown, as a panel asks before showing it.
    bus.call_sync(name, menu_path, "com.canonical.dbusmenu", "AboutToShow", GLib.Variant("(i)", (0,)),
                  None, Gio.DBusCallFlags.NONE, int(STEP_TIMEOUT * 1000), None)
    _, layout = bus.call_sync(name, menu_path, "com.canonical.dbusmenu", "GetLayout",
                              GLib.Variant("(iias)", (0, -1, ["label"])), None, Gio.DBusCallFlags.NONE,
                              int(STEP_TIMEOUT * 1000), None).unpack()
    entries = menu_entries(layout)
    matches = [item_id for item_id, text in entries if text.replace("&", "") == label]
    if not matches:
        raise Failure(f"the tray menu has no entry {label!r}: {[text for _, text in entries]}")
    bus.call_sync(name, menu_path, "com.canonical.dbusmenu", "Event",
                  GLib.Variant("(isvu)", (matches[0], "clicked", GLib.Variant("i", 0), 0)), None,
                  Gio.DBusCallFlags.NONE, int(STEP_TIMEOUT * 1000), None)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    if not shutil.which("weston"):
        raise SystemExit("weston is not installed")
    work = tempfile.mkdtemp(prefix="quillby-wayland-")
    runtime = os.path.join(work, "runtime")
    os.mkdir(runtime, 0o700)
    log_path = os.path.join(work, "program.log")
    socket = f"quillby-smoke-{os.getpid()}"
    env = dict(os.environ)
    env.pop("DISPLAY", None)  # nothing may fall back to X11
    env.update({"XDG_RUNTIME_DIR": runtime, "WAYLAND_DISPLAY": socket, "QT_QPA_PLATFORM": "wayland",
                "WAYLAND_DEBUG": "client", "HOME": os.path.join(work, "home"),
                "XDG_CONFIG_HOME": os.path.join(work, "home", ".config")})
    env.pop("XDG_CURRENT_DESKTOP", None)
    os.makedirs(env["XDG_CONFIG_HOME"], 0o700)

    watcher = Watcher()
    weston_log = open(os.path.join(work, "weston.log"), "w")
    weston = subprocess.Popen(["weston", "--backend=headless-backend.so", f"--socket={socket}", "--idle-time=0",
                               "--no-config"], env={**env, "WAYLAND_DEBUG": ""}, stdout=weston_log,
                              stderr=subprocess.STDOUT)
    programs = []
    started = time.monotonic()
    try:
        socket_path = os.path.join(runtime, socket)
        deadline = time.monotonic() + STEP_TIMEOUT
        while not os.path.exists(socket_path):
            if weston.poll() is not None or time.monotonic() > deadline:
                raise Failure("weston did not open its socket")
            time.sleep(0.05)

        # 1. First run: onboarding, reopen from a second launch, SIGTERM.
        first = Program(binary, env, log_path)
        programs.append(first)
        first.wait_for_line(title_line("Onboarding"), "the onboarding window")
        print("onboarding window opened as a Wayland toplevel")
        second = subprocess.run([binary], env={**env, "WAYLAND_DEBUG": ""}, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=STEP_TIMEOUT)
        if second.returncode != 0 or first.process.poll() is not None:
            raise Failure(f"a second launch ended with {second.returncode}: {second.stderr.decode()}")
        print("a second launch asked the running program to reopen and ended")
        first.process.send_signal(signal.SIGTERM)
        first.wait_for_exit("SIGTERM")
        print("SIGTERM ended the program with status 0")

        # 2. Onboarding done, terms accepted: the tray item and its menu.
        config = os.path.join(env["XDG_CONFIG_HOME"], "Quillby")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "Quillby.conf"), "w", encoding="utf-8") as settings:
            settings.write("[General]\nQuillbyOnboardingCompleted=true\nQuillbyAcceptedTermsVersion=2026-10-07\n")
        program = Program(binary, env, log_path)
        programs.append(program)
        item = watcher.wait_for_item(1)
        print(f"tray item registered: {item[0]} {item[1]}")
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        for label, title in (("Settings", "Settings"), ("Insights", "Insights")):
            mark = program.mark()
            click_menu_entry(bus, item, label)
            program.wait_for_line(title_line(title), f"the {title} window", since=mark)
            print(f"the tray menu's {label} entry opened the {title} window")
        click_menu_entry(bus, item, "Quit")
        program.wait_for_exit("the tray menu's Quit")
        print(f"Quit ended the program with status 0 ({time.monotonic() - started:.1f} s in all)")
        return 0
    except (Failure, GLib.Error, subprocess.TimeoutExpired) as error:
        print(f"FAILED: {error}", file=sys.stderr)
        for path in (log_path, os.path.join(work, "weston.log")):
            if os.path.exists(path):
                print(f"--- {os.path.basename(path)}", file=sys.stderr)
                with open(path, encoding="utf-8", errors="replace") as log:
                    print("".join(log.readlines()[-40:]), file=sys.stderr)
        return 1
    finally:
        for program in programs:
            program.stop()
        weston.terminate()
        try:
            weston.wait(STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            weston.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
