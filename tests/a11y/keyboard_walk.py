"""Drives the program over the accessibility bus by keyboard only, from an empty home: the
onboarding (Dexcom at a loopback service, the terms sheet), Settings (every tab: the unit, a
threshold, quiet hours, a test alert, launch at login) and the Insights consent sheet. Every
announcement heard on the bus is recorded; with --orca, each must also be in Orca's speech.

    keyboard_walk.py PROGRAM [--orca LOG] [--report FILE]  (inside scripts/a11y-check.sh's session)
"""

import os
import subprocess
import sys

from a11ybus import Bus, CheckFailed, Orca, describe, find, key, named, type_text, _safe
from gi.repository import Atspi

APP = "Quillby"
AUTOSTART = os.path.join(os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.environ["HOME"], ".config"),
                         "autostart", "quillby.desktop")


class Walk:
    def __init__(self, bus, app, orca=None):
        self.bus = bus
        self.app = app
        self.orca = orca
        self.spoken_from = 0  # Orca's speech lines before this index are accounted for
        self.controls_heard = 0  # controls Orca spoke on focus
        self.values_heard = 0  # combo box values Orca spoke on focus or on change
        self.steps = []  # [step, index of its first announcement, announcements expected]
        self.faults = []  # controls named otherwise than their label
        self.combo_changes = 0  # value changes announced by combo boxes
        for kind in ("object:selection-changed", "object:property-change:accessible-name",
                      "object:property-change:accessible-value"):
            bus._listen(kind, self._on_combo_change)

    def _on_combo_change(self, event):
        if _safe(event.source.get_role) == Atspi.Role.COMBO_BOX:
            self.combo_changes += 1

    def step(self, title, action, expect=(), keeps_window=True, orca_hears=True):
        """Runs one user step; `expect` are the announcements it must produce, in order (and
        Orca must speak them, unless `orca_hears` is false). Unless the step closes its window,
        the focus must be on a control when it is over."""
        print("step: " + title, flush=True)
        start = len(self.bus.announcements)
        action()
        self.bus.wait(lambda: len(self.bus.announcements) >= start + len(expect), 30,
                      "announcements %r after %s (heard %r)"
                      % (list(expect), title, self.bus.announcements[start:]))
        self.steps.append([title, start, list(expect), orca_hears])
        # Orca speaks each announcement before the walk goes on.
        if orca_hears:
            self.expect_spoken([text[:-3].rstrip() if text.endswith("...") else text for text in expect],
                               "the announcements of " + title, 30)
        if keeps_window:
            self.expect_focus_kept(title)

    def expect_focus_kept(self, what):
        """The keyboard focus is on a shown control (none is lost after a step)."""
        def on_control():
            focus = combo_of(self.bus.focus)
            if focus is None:
                return False
            _safe(focus.clear_cache)
            states = _safe(focus.get_state_set)
            return (states is not None and states.contains(Atspi.StateType.FOCUSED)
                    and states.contains(Atspi.StateType.SHOWING))
        try:
            self.bus.wait(on_control, 15, "the focus on a control")
        except CheckFailed:
            raise CheckFailed("the focus is lost after %s (last on %s)" % (what, describe(self.bus.focus)))

    def heard(self):
        """(step, announcements heard from its start to the next step's start) for each step;
        each must be exactly what the step expects, so nothing is announced twice or late."""
        result = []
        for i, (title, start, expect, _) in enumerate(self.steps):
            end = self.steps[i + 1][1] if i + 1 < len(self.steps) else len(self.bus.announcements)
            heard = self.bus.announcements[start:end]
            if len(heard) != len(expect) or any(not match(h, e) for h, e in zip(heard, expect)):
                raise CheckFailed("%s: heard %r, expected %r" % (title, heard, expect))
            result.append((title, heard))
        return result

    def tab_to(self, predicate, what, keys=("Tab",), limit=40):
        """Moves the keyboard focus with `keys` until it is on what predicate accepts."""
        for _ in range(limit):
            self.bus.pump()
            if self.bus.focus is not None and predicate(self.bus.focus):
                return self.bus.focus
            self.move_focus(keys)
        raise CheckFailed("the keyboard never reached %s (focus on %s)" % (what, describe(self.bus.focus)))

    def move_focus(self, keys=("Tab",)):
        """Presses `keys`; with Orca, the control the focus lands on must be spoken."""
        before = self.bus.focus_events
        if os.environ.get("QUILLBY_WALK_TRACE"):
            print("    focus: " + describe(self.bus.focus), flush=True)
        key(*keys)
        try:
            self.bus.wait(lambda: self.bus.focus_events > before, 5, "the focus to move")
        except CheckFailed:
            return  # focus did not move (one control only)
        if self.orca:
            self.settle_focus()
            self.expect_focus_spoken()

    def settle_focus(self):
        """Waits until no focus event has come for a moment (a step may move it twice)."""
        while True:
            count = self.bus.focus_events
            try:
                self.bus.wait(lambda: self.bus.focus_events > count, 0.15, "another focus event")
            except CheckFailed:
                return

    def expect_spoken(self, texts, what, seconds=15):
        """Waits until Orca has spoken each of `texts`, in order, after what it spoke before
        (each in a line of its speech output)."""
        if not self.orca:
            return
        found = []

        def spoken():
            lines = self.orca.spoken()
            at = self.spoken_from
            for text in texts:
                # A tuple is a choice: any of its texts.
                choices = text if isinstance(text, tuple) else (text,)
                while at < len(lines) and not any(says(lines[at], choice) for choice in choices):
                    at += 1
                if at == len(lines):
                    return False
                at += 1
            found.append(at)
            return True
        try:
            self.bus.wait(spoken, seconds, "Orca to speak %r for %s" % (list(texts), what))
        except CheckFailed as failure:
            raise CheckFailed("%s; it spoke %r" % (failure, self.orca.spoken()[self.spoken_from:][-20:]))
        self.spoken_from = found[0]

    def expect_focus_spoken(self):
        """With Orca: the focused control is spoken with its name, and a combo box with its value."""
        if not self.orca:
            return
        focus = self.bus.focus
        role = _safe(focus.get_role)
        name = _safe(focus.get_name, "")
        if role in (Atspi.Role.LIST, Atspi.Role.FILLER, Atspi.Role.PANEL):
            return  # a container passing the focus on to its current item
        if not name:
            raise CheckFailed("the focused %s has no name" % describe(focus))
        # Orca speaks a control by its label where one names it (its accessible name may add
        # the service: "Region" for "Dexcom region").
        texts = [tuple([name] + [label for label in labels_of(focus) if label])]
        if role == Atspi.Role.COMBO_BOX:
            value = combo_value(focus)
            if not value:
                raise CheckFailed("the focused combo box %r shows no value" % name)
            texts.append(value)
            self.values_heard += 1
        self.expect_spoken(texts, "the focus on %s" % describe(focus))
        self.controls_heard += 1

    def note_name(self, accessible, expected):
        """Records a control that a screen reader names otherwise than its label says."""
        name = _safe(accessible.get_name)
        if name != expected:
            self.faults.append("%s labelled %r is named %r" % (_safe(accessible.get_role_name), expected, name))
            print("  NAMING FAULT: " + self.faults[-1], flush=True)

    def window(self, name, seconds=30):
        """The application's top-level window named `name` once it shows."""
        found = []

        def look():
            for i in range(_safe(self.app.get_child_count, 0)):
                child = _safe(lambda: self.app.get_child_at_index(i))
                states = _safe(child.get_state_set) if child is not None else None
                if (child is not None and _safe(child.get_name) == name and states is not None
                        and states.contains(Atspi.StateType.SHOWING)):
                    found.append(child)
                    return True
            return False

        self.bus.wait(look, seconds, "the window %r" % name)
        return found[0]

    def dialog(self, name, seconds=30):
        """The showing dialog named `name` (a sheet on one of the windows)."""
        found = []

        def look():
            hit = find(self.app, named(Atspi.Role.DIALOG, name))
            if hit is not None:
                found.append(hit)
            return bool(found)

        self.bus.wait(look, seconds, "the dialog %r" % name)
        return found[0]

    def focus_in(self, root, seconds=15):
        """Waits until the keyboard focus is inside root."""
        def inside():
            node = self.bus.focus
            for _ in range(60):
                if node is None:
                    return False
                if node == root:
                    return True
                node = _safe(node.get_parent)
            return False
        self.bus.wait(inside, seconds, "the focus inside %s" % describe(root))

    def tab_around(self, root, limit=20):
        """Tabs once around the controls of root (a sheet): each stop is a shown, focused
        control inside it (with Orca, spoken), until the focus is back where it started."""
        start = self.bus.focus
        for _ in range(limit):
            self.move_focus()
            self.expect_focus_kept("Tab in %s" % describe(root))
            self.focus_in(root, 5)
            if self.bus.focus == start:
                return
        raise CheckFailed("Tab never came back to %s in %s" % (describe(start), describe(root)))

    def press(self, role, name, keys=("space",)):
        self.tab_to(named(role, name), "%s %r" % (role.value_nick, name))
        key(*keys)
        if self.orca:
            self.orca.wait_idle(self.bus)


def says(line, text):
    """Whether a line of Orca's speech starts with `text` as a whole (then ends, or goes on
    after a full stop or a space: "Low threshold combo box.", "73 mg/dL.")."""
    return line.startswith(text) and (len(line) == len(text) or line[len(text)] in ". ")


def match(heard, expected):
    """An expected text ending in "..." stands for any text that starts with the rest."""
    return heard.startswith(expected[:-3]) if expected.endswith("...") else heard == expected


def labels_of(accessible):
    names = []
    relations = _safe(accessible.get_relation_set, []) or []
    for relation in relations:
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            for i in range(relation.get_n_targets()):
                names.append(_safe(relation.get_target(i).get_name, ""))
    return names


def picker(label):
    """A combo box named `label`, or labelled by a label with that text."""
    def predicate(accessible):
        if _safe(accessible.get_role) != Atspi.Role.COMBO_BOX:
            return False
        return _safe(accessible.get_name) == label or label in labels_of(accessible)
    return predicate


def selected_row(combo):
    menu = _safe(lambda: combo.get_child_at_index(0))
    if menu is None:
        return None
    for i in range(_safe(menu.get_child_count, 0)):
        item = _safe(lambda: menu.get_child_at_index(i))
        if item is not None:
            _safe(item.clear_cache)
        states = _safe(item.get_state_set) if item is not None else None
        if states is not None and states.contains(Atspi.StateType.SELECTED):
            return _safe(item.get_name)
    return None


def combo_of(focus):
    """A combo box whose row took the screen reader's focus to speak a new value stands for
    the box (which kept the keyboard focus)."""
    if focus is not None and _safe(focus.get_role) == Atspi.Role.LIST_ITEM:
        box = _safe(lambda: focus.get_parent().get_parent())
        if box is not None and _safe(box.get_role) == Atspi.Role.COMBO_BOX:
            return box
    return focus


def combo_value(combo):
    """The value a combo box shows: its text, else the selected row of the list it opens."""
    text = _safe(combo.get_text_iface)
    if text is not None:
        value = _safe(lambda: text.get_text(0, -1), "")
        if value:
            return value
    return selected_row(combo)


def checked(accessible):
    states = _safe(accessible.get_state_set)
    return states is not None and states.contains(Atspi.StateType.CHECKED)


def main():
    program = sys.argv[1]
    orca_log = sys.argv[sys.argv.index("--orca") + 1] if "--orca" in sys.argv else None
    report = sys.argv[sys.argv.index("--report") + 1] if "--report" in sys.argv else None
    bus = Bus()
    orca = Orca(orca_log) if orca_log else None
    if orca:
        orca.wait_ready(bus)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    child = subprocess.Popen([program], stdout=subprocess.PIPE, env=env, text=True)
    try:
        child.stdout.readline()
        app = bus.application(APP)
        walk = Walk(bus, app, orca)
        run(walk)
        heard = walk.heard()
        if orca:
            spoken = [text for (_, texts), step in zip(heard, walk.steps) if step[3] for text in texts]
            orca.wait_spoken(bus, spoken)
            print("orca spoke every announcement, %d focused controls by name and %d combo box values"
                  % (walk.controls_heard, walk.values_heard))
        lines = []
        for title, texts in heard:
            for text in texts:
                lines.append("%s\t%s" % (title, text))
        print("\n".join(["announcements heard:"] + ["  " + line for line in lines]))
        notes = ["naming fault: " + fault for fault in walk.faults]
        if notes:
            print("\n".join(notes))
        if report:
            with open(report, "w") as out:
                out.write("\n".join(lines + notes) + "\n")
    finally:
        child.terminate()
        try:
            child.wait(20)
        except subprocess.TimeoutExpired:
            child.kill()
        if orca:
            orca.stop()


def run(walk):
    R = Atspi.Role
    onboarding = walk.window("Onboarding")
    walk.focus_in(onboarding)
    walk.step("welcome: Continue", lambda: walk.press(R.PUSH_BUTTON, "Continue"))

    def confirm_setup():
        box = walk.tab_to(named(R.CHECK_BOX, "I've completed the steps above"), "the set-up check box")
        key("space")
        walk.bus.wait(lambda: checked(box), 10, "the set-up check box to be checked")
        # Space toggles the box; Return, with the focus still on it, presses the default button.
        key("Return")
        walk.bus.wait(lambda: find(onboarding, named(R.TEXT, "Dexcom username")) is not None, 15,
                      "Return on the checked box to go on to the sign-in step")
    walk.step("set-up: confirm and Continue", confirm_setup)

    def credentials(password):
        walk.tab_to(named(R.TEXT, "Dexcom username"), "the user-name field")
        key("ctrl+a")
        type_text("ada")
        walk.tab_to(named(R.PASSWORD_TEXT, "Dexcom password"), "the password field")
        key("ctrl+a")
        type_text(password)

    def wrong_password():
        credentials("wrong")
        walk.press(R.PUSH_BUTTON, "Sign in to Dexcom")
        terms = walk.dialog("Terms of use")
        walk.focus_in(terms)
        walk.tab_around(terms)
        walk.press(R.PUSH_BUTTON, "Agree")
    walk.step("sign-in: wrong password, Sign in, agree to the terms", wrong_password,
              expect=["Signing in to Dexcom", "Sign in failed: ..."])

    def sign_in():
        credentials("secret")
        walk.press(R.PUSH_BUTTON, "Sign in to Dexcom")
    walk.step("sign-in: right password, Sign in", sign_in,
              expect=["Signing in to Dexcom", "Signed in to Dexcom. Continue to finish setup."])

    walk.step("sign-in: Continue", lambda: walk.press(R.PUSH_BUTTON, "Continue"), keeps_window=False)

    # No tray host in this session: the status window carries the reading and the entries.
    status = walk.window(APP)
    walk.focus_in(status)
    walk.step("status window: Settings", lambda: walk.press(R.PUSH_BUTTON, "Settings"))
    settings = walk.window("Settings")
    walk.focus_in(settings)

    def in_sidebar(node):
        """The sidebar list or one of its rows (not a row of a combo box's list)."""
        if _safe(node.get_role) == R.LIST_ITEM:
            node = _safe(node.get_parent)
        return node is not None and _safe(node.get_role) == R.LIST and _safe(node.get_name) == "Settings navigation"

    def open_tab(title):
        walk.tab_to(in_sidebar, "the Settings sidebar")
        row = named(R.LIST_ITEM, title + " settings")
        if row(walk.bus.focus):
            return
        # Home selects the first row (General), or keeps it when it is the current one.
        before = walk.bus.focus_events
        key("Home")
        try:
            walk.bus.wait(lambda: walk.bus.focus_events > before, 3, "the first sidebar row")
        except CheckFailed:
            pass
        if title != "General":
            walk.tab_to(row, "the %s row" % title, keys=("Down",), limit=8)


    def walk_pane(title):
        """Tab from the sidebar through every control of the pane and back to the sidebar."""
        open_tab(title)
        visited = []
        for _ in range(40):
            walk.move_focus()
            if in_sidebar(walk.bus.focus):
                break
            visited.append(describe(walk.bus.focus))
        else:
            raise CheckFailed("Tab never came back to the sidebar from the %s pane" % title)
        if not visited:
            raise CheckFailed("the %s pane has no control Tab reaches" % title)
        print("  %s pane: %s" % (title, ", ".join(visited)), flush=True)

    def toggle(name):
        box = walk.tab_to(named(R.CHECK_BOX, name), "the check box %r" % name)
        was = checked(box)
        key("space")
        walk.bus.wait(lambda: checked(box) != was, 10, "the check box %r to change" % name)

    def change(name):
        combo = walk.tab_to(picker(name), "the picker %r" % name)
        walk.note_name(combo, name)
        # The value of a picker named by its label is the selected row of the list it opens.
        before = selected_row(combo)
        if before is None:
            raise CheckFailed("the picker %r shows no value" % name)
        announced = walk.combo_changes
        key("Down")
        walk.bus.wait(lambda: selected_row(combo) not in (None, before), 10, "the picker %r to change" % name)
        walk.bus.wait(lambda: walk.combo_changes > announced, 10, "the picker %r to announce its new value" % name)
        after = selected_row(combo)
        walk.expect_spoken([after], "the new value of %r" % name)
        walk.values_heard += 1
        print("  %s: %s -> %s" % (name, before, after), flush=True)

    def general():
        walk_pane("General")
        open_tab("General")
        toggle("Launch at login")
        walk.bus.wait(lambda: os.path.exists(AUTOSTART), 15, "the autostart entry")
    walk.step("Settings, General: launch at login on", general)

    def glucose():
        walk_pane("Glucose")
        open_tab("Glucose")
        change("Measurement unit")
        change("Low glucose threshold")
    walk.step("Settings, Glucose: unit and low threshold", glucose)

    def alerts():
        walk_pane("Alerts")
        open_tab("Alerts")
        toggle("Quiet hours")
        walk.press(R.PUSH_BUTTON, "Send test alert")
    walk.step("Settings, Alerts: quiet hours on, send a test alert", alerts, expect=["Test alert sent."])

    def insights():
        walk_pane("Insights")
        open_tab("Insights")
        walk.tab_to(named(R.CHECK_BOX, "Save glucose history on this computer"), "the history check box")
        key("space")
        sheet = walk.dialog("Save glucose history")
        walk.focus_in(sheet)
        walk.press(R.PUSH_BUTTON, "Enable saving")
        box = find(settings, named(R.CHECK_BOX, "Save glucose history on this computer"))
        walk.bus.wait(lambda: box is not None and checked(box), 30, "history saving to be on")
    walk.step("Settings, Insights: consent sheet, enable saving", insights)

    walk.step("Settings, About & support", lambda: walk_pane("About & support"))

    def account():
        walk_pane("Account")
        open_tab("Account")
        walk.press(R.PUSH_BUTTON, "Sign out of Dexcom")
        walk.tab_to(named(R.TEXT, "Dexcom username"), "the sign-in form after signing out")
    walk.step("Settings, Account: sign out (announces nothing)", account)

    def sign_in_again():
        credentials("secret")
        key("Return")
    # Signing in again changes the state of many controls of the other panes at once; Orca 43
    # drops the announcements in that flood of events, so only the bus is checked here.
    walk.step("Settings, Account: sign in again, Return in the password field", sign_in_again,
              expect=["Signing in to Dexcom", "Signed in to Dexcom"], orca_hears=False)


if __name__ == "__main__":
    try:
        main()
    except CheckFailed as failure:
        print("FAILED: %s" % failure, file=sys.stderr)
        sys.exit(1)
