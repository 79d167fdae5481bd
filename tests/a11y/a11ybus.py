"""What the accessibility-bus checks share: a listener on the AT-SPI bus that records every
announcement (an object of the notification role that starts showing) and where the keyboard
focus is, waits that end on bus events within generous bounds, keys sent through the X server,
and an Orca run whose debug log shows what it would speak. Run with Debian's /usr/bin/python3."""

import os
import re
import subprocess
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

# Bounds grow on slow or loaded machines, as the C++ tests' bounds do.
SCALE = float(os.environ.get("QUILLBY_TEST_TIMEOUT_SCALE", "1"))


class CheckFailed(Exception):
    pass


def _safe(call, default=None):
    try:
        return call()
    except GLib.Error:
        return default


class Bus:
    def __init__(self):
        Atspi.init()
        self.announcements = []
        self.focus = None  # the focused accessible
        self.focus_events = 0
        self._listeners = []
        self._listen("object:state-changed:showing", self._on_showing)
        self._listen("object:state-changed:focused", self._on_focused)

    def _listen(self, kind, callback):
        listener = Atspi.EventListener.new(callback)
        listener.register(kind)
        self._listeners.append(listener)

    def _on_showing(self, event):
        if not event.detail1:
            return
        source = event.source
        if _safe(source.get_role) != Atspi.Role.NOTIFICATION:
            return
        name = _safe(source.get_name, "")
        self.announcements.append(name)
        print("  heard: %s" % name, flush=True)

    def _on_focused(self, event):
        if event.detail1:
            self.focus = event.source
            self.focus_events += 1

    def pump(self):
        context = GLib.MainContext.default()
        while context.pending():
            context.iteration(False)

    def wait(self, predicate, seconds, what):
        """Runs the bus until predicate() holds; fails after `seconds` (scaled)."""
        deadline = time.monotonic() + seconds * SCALE
        while True:
            self.pump()
            if predicate():
                return
            if time.monotonic() > deadline:
                raise CheckFailed("timed out waiting for " + what)
            time.sleep(0.02)

    def application(self, name, seconds=30):
        """The application registered on the bus under `name`, once it is there."""
        found = []

        def look():
            desktop = Atspi.get_desktop(0)
            for i in range(_safe(desktop.get_child_count, 0)):
                app = _safe(lambda: desktop.get_child_at_index(i))
                if app is not None and _safe(app.get_name) == name:
                    found.append(app)
                    return True
            return False

        self.wait(look, seconds, "application %s on the bus" % name)
        return found[0]

    def wait_for_announcements(self, texts, seconds=20):
        start = len(self.announcements)
        self.wait(lambda: len(self.announcements) >= start + len(texts), seconds,
                  "announcements %r (heard %r)" % (texts, self.announcements[start:]))
        return self.announcements[start:]


def describe(accessible):
    if accessible is None:
        return "<nothing>"
    return "%s %r" % (_safe(accessible.get_role_name, "?"), _safe(accessible.get_name, "?"))


def find(root, predicate, depth=0):
    """The first showing descendant of root (root included) for which predicate holds."""
    if root is None or depth > 40:
        return None
    if predicate(root):
        return root
    for i in range(_safe(root.get_child_count, 0)):
        child = _safe(lambda: root.get_child_at_index(i))
        if child is None:
            continue
        states = _safe(child.get_state_set)
        if states is not None and not states.contains(Atspi.StateType.SHOWING):
            continue
        hit = find(child, predicate, depth + 1)
        if hit is not None:
            return hit
    return None


def named(role, name):
    def predicate(accessible):
        return _safe(accessible.get_role) == role and _safe(accessible.get_name) == name
    return predicate


def key(*keys):
    """Presses keys (xdotool names: Tab, Return, space, ctrl+w) on the focused window."""
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "30", text], check=True)


class Orca:
    """Orca with its debug log, speaking through speech-dispatcher's dummy output module."""

    def __init__(self, log_path):
        self.log_path = log_path
        home = os.environ["HOME"]
        config = os.path.join(home, ".config", "speech-dispatcher")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "speechd.conf"), "w") as conf:
            conf.write('AddModule "dummy" "sd_dummy" ""\nDefaultModule dummy\nAudioOutputMethod "libao"\n')
        # Orca itself (orca --replace --debug-file=LOG), with its log written line by line so a
        # check can wait for what it spoke.
        launcher = (
            "import builtins, runpy, sys\n"
            "log = sys.argv[1]\n"
            "real_open = builtins.open\n"
            "def open_log(file, mode='r', *args, **kwargs):\n"
            "    if file == log and 'w' in mode:\n"
            "        return real_open(file, mode, 1)\n"
            "    return real_open(file, mode, *args, **kwargs)\n"
            "builtins.open = open_log\n"
            "sys.argv = ['orca', '--replace', '--debug-file=' + log]\n"
            "runpy.run_path('/usr/bin/orca', run_name='__main__')\n")
        self.process = subprocess.Popen(["/usr/bin/python3", "-c", launcher, log_path],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def log(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_ready(self, bus, seconds=60):
        """Orca listens once it has registered its window events with the bus's registry (its
        debug log is written in blocks, so it cannot tell)."""
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                    GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
        a11y = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)

        def registered():
            reply = a11y.call_sync("org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                                   "org.a11y.atspi.Registry", "GetRegisteredEvents", None, None,
                                   Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
            return any(event.lower().startswith("window:activate") for _, event in reply)

        bus.wait(registered, seconds, "Orca to listen on the bus")
        a11y.close_sync(None)

    def spoken(self):
        # One line each: SPEECH OUTPUT: 'text'{voice}; the text may hold quotes of its own.
        return re.findall(r"SPEECH OUTPUT: '(.*)' ?\{", self.log())

    def wait_spoken(self, bus, texts, seconds=60):
        """Waits until Orca has spoken each text as often as it is listed (one line of its
        speech output each; Orca ends a text without final punctuation with a full stop)."""
        def said(line):
            return line[:-1] if line.endswith(".") and line[:-1] in texts else line

        def all_spoken():
            spoken = [said(line) for line in self.spoken()]
            return all(spoken.count(text) >= texts.count(text) for text in texts)
        try:
            bus.wait(all_spoken, seconds, "Orca to speak %r" % list(texts))
        except CheckFailed as failure:
            raise CheckFailed("%s; it spoke %r" % (failure, self.spoken()))
        return self.spoken()

    def wait_idle(self, bus, quiet=0.8, seconds=20):
        """Waits until Orca's log has not grown for `quiet` seconds: it has worked through the
        events of what just happened, as a listener waits to hear the result before going on."""
        last = [-1, time.monotonic()]

        def idle():
            try:
                size = os.path.getsize(self.log_path)
            except OSError:
                size = 0
            now = time.monotonic()
            if size != last[0]:
                last[0], last[1] = size, now
            return now - last[1] >= quiet
        try:
            bus.wait(idle, seconds, "Orca to be idle")
        except CheckFailed:
            pass  # still busy: the checks that follow say what it missed

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
