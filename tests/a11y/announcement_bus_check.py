"""The production announcer heard on the accessibility bus: a listener receives each announced
text exactly once and in order, texts announced back to back included; with --orca, Orca's
debug log shows each text in its speech output.

    announcement_bus_check.py PROBE [--orca LOG]     (inside scripts/a11y-check.sh's session)
"""

import os
import subprocess
import sys

from a11ybus import Bus, CheckFailed, Orca

TEXTS = [
    "Signing in to Dexcom",
    "Signed in to Dexcom. Continue to finish setup.",
    "Test alert sent.",
    "Test alert sent.",
    "Sign in failed: Dexcom account not found or password incorrect.",
]
SENTINEL = "Check finished."


def main():
    probe = sys.argv[1]
    orca_log = sys.argv[sys.argv.index("--orca") + 1] if "--orca" in sys.argv else None
    bus = Bus()
    orca = None
    if orca_log:
        orca = Orca(orca_log)
        orca.wait_ready(bus)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    child = subprocess.Popen([probe], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
    try:
        if child.stdout.readline().strip() != "ready":
            raise CheckFailed("the probe did not start")
        bus.application("quillby-announcement-probe")
        # All at once: a reader that asks for a name late must still get the text announced.
        child.stdin.write("".join(text + "\n" for text in TEXTS))
        child.stdin.flush()
        heard = bus.wait_for_announcements(TEXTS)
        # Anything heard twice would arrive before the sentinel.
        child.stdin.write(SENTINEL + "\n")
        child.stdin.flush()
        bus.wait(lambda: SENTINEL in bus.announcements, 20, "the closing announcement")
        heard = bus.announcements[: bus.announcements.index(SENTINEL)]
        if heard != TEXTS:
            raise CheckFailed("heard %r, expected %r" % (heard, TEXTS))
        print("listener: each announcement heard once, in order")
        if orca:
            spoken = orca.wait_spoken(bus, TEXTS + [SENTINEL])
            print("orca spoke: " + " | ".join(spoken))
    finally:
        child.stdin.close()
        child.wait(20)
        if orca:
            orca.stop()


if __name__ == "__main__":
    try:
        main()
    except CheckFailed as failure:
        print("FAILED: %s" % failure, file=sys.stderr)
        sys.exit(1)
