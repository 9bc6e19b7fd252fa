#!/usr/bin/python3
"""Walks the real wizard's install scenario from its splash to its last page
the way a blind user with a screen reader does: nothing but AT-SPI. No key
and no pointer reaches the compositor; buttons and rows are pressed by their
"click" action, text fields are filled through EditableText.

On every page it checks what such a user needs: the page's title (or, for
the language list, its texts) is exposed, every control that takes the
focus has a name, and every control that can be pressed offers the action
that presses it. Over the install it listens to the announcements
("object:announcement") and checks that the percentage and the step arrive,
politely, in order, and that the finish is announced after them.

The page order and the controls pressed are the install walk's table in
wizard_walk.py; only how a control is pressed differs.

Run inside a private session bus (dbus-run-session) with XDG_RUNTIME_DIR and
WAYLAND_DISPLAY set; the wizard's command line follows "--". Exit 0 on
success, 1 on a failure ("FAIL: ..."), 77 when something this needs is
missing (the reason is printed).
"""
import argparse
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wizard_walk import INSTALL, Shows, Walker, extents, inside, walk  # noqa: E402
from atspi_support import Failure, grab, pyatspi, set_enabled, wait_for  # noqa: E402

PHASES = ["progress.phase_partition", "progress.phase_format", "progress.phase_copy",
          "progress.phase_bootloader", "progress.phase_finalize"]
PERCENT = re.compile(r"^(\d+)%$")
# AT-SPI's politeness of a live region that waits for the user to pause.
POLITE = 1

# Controls a screen reader moves to and presses.
PRESSABLE = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
             pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_LIST_ITEM}
NAMED = PRESSABLE | {pyatspi.ROLE_SLIDER, pyatspi.ROLE_ENTRY}


class ScreenReaderWalker(Walker):
    """The install walk's walker with every press and every typed text going
    through AT-SPI, and a screen reader user's checks on every page."""

    def __init__(self, texts, shots):
        super().__init__(texts, shots)
        self.announcements = []  # (text, politeness) in arrival order
        self.pages = []

    def heard(self, event):
        self.announcements.append((event.any_data, event.detail1))

    # --- pressing ----------------------------------------------------------

    def press(self, wanted):
        # A control without a message is shown disabled: wait until the last
        # press took effect and this one can be pressed.
        node = None

        def ready():
            nonlocal node
            node = self.control(wanted)
            node.clearCache()
            return node.getState().contains(pyatspi.STATE_ENABLED)
        if not wait_for(ready, 15):
            self.control(wanted)  # says what is missing, when something is
            raise Failure("%r never became pressable" % (wanted,))
        if wanted[0] == "type":
            self.type_into(node, wanted)
            return
        do_action(node, "click", wanted)

    def type_into(self, node, wanted):
        text = wanted[2]
        try:
            editable = node.queryEditableText()
        except NotImplementedError:
            raise Failure("text field %d cannot be edited through AT-SPI" % wanted[1])
        if not editable.setTextContents(text):
            raise Failure("text field %d refused %r" % (wanted[1], text))
        if node.name == "password":
            # A password field never shows its text; the account page's
            # Continue tells whether it took it.
            return

        def shown():
            node.clearCache()
            t = node.queryText()
            return t.getText(0, t.characterCount)
        if not wait_for(lambda: shown() == text, 10):
            raise Failure("field %d shows %r after setting %r" % (wanted[1], shown(), text))

    # --- what a screen reader user needs on each page ----------------------

    def arrive(self, page, timeout=30, back_to=None):
        got = super().arrive(page, timeout, back_to)
        self.check_page(got)
        if got == "finish.install_title":
            self.check_announcements()
        self.pages.append(got if isinstance(got, str) else got.name)
        return got

    def check_page(self, page):
        nodes = self.nodes()
        labels = [n for n in nodes if n.getRole() == pyatspi.ROLE_LABEL]
        wanted = page.texts if isinstance(page, Shows) else [self.text(page)]
        for text in wanted:
            shown = [l for l in labels if l.name == text]
            if not shown or not any(l.getState().contains(pyatspi.STATE_SHOWING) for l in shown):
                raise Failure("%r: %r is not exposed as a label that shows" % (page_title(page), text))
        for n in nodes:
            role = n.getRole()
            states = n.getState()
            if role in NAMED and states.contains(pyatspi.STATE_FOCUSABLE) and not accessible_name(n, labels):
                raise Failure("%r: a focusable %s at %r has no name; labels: %r"
                              % (page_title(page), n.getRoleName(), extents(n),
                                 [(l.name, extents(l)) for l in labels]))
            if role in PRESSABLE and states.contains(pyatspi.STATE_ENABLED) and "click" not in action_names(n):
                raise Failure("%r: the %s %r offers no click action (%r)"
                              % (page_title(page), n.getRoleName(), n.name, action_names(n)))

    # --- the announcements of the install ----------------------------------

    def progress_kind(self, text):
        if PERCENT.match(text or ""):
            return "percent"
        if text in [self.text(k) for k in PHASES]:
            return "phase"
        return None

    def check_announcements(self):
        finish = self.text("finish.install_title")
        if not wait_for(lambda: any(t == finish for t, _ in self.announcements), 10):
            raise Failure("the finish was never announced; heard %r" % self.announcements)
        heard = self.announcements
        for text, politeness in heard:
            if politeness != POLITE:
                raise Failure("%r announced with politeness %r, not polite" % (text, politeness))
        # Nothing but the progress and the finish is live on this walk.
        strays = [t for t, _ in heard if t != finish and self.progress_kind(t) is None]
        if strays:
            raise Failure("announcements outside the install's progress: %r" % strays)
        last_progress = max((i for i, (t, _) in enumerate(heard) if self.progress_kind(t)), default=-1)
        finish_at = [i for i, (t, _) in enumerate(heard) if t == finish]
        if last_progress < 0:
            raise Failure("the progress page announced nothing; heard %r" % heard)
        if len(finish_at) != 1 or finish_at[0] < last_progress:
            raise Failure("the finish must be announced once, after the progress: %r" % heard)
        percents = [int(PERCENT.match(t).group(1)) for t, _ in heard if self.progress_kind(t) == "percent"]
        if any(b <= a for a, b in zip(percents, percents[1:])):
            raise Failure("percentages announced out of order: %r" % percents)
        # The simulated install runs from 1 % to 96 % in steps of at most 5.
        if not percents or percents[0] > 10 or percents[-1] < 90 or len(percents) < 5:
            raise Failure("the percentages announced do not follow the install: %r" % percents)
        phases = [PHASES.index(k) for t, _ in heard for k in PHASES
                  if self.progress_kind(t) == "phase" and self.text(k) == t]
        if phases != sorted(set(phases)) or phases[:1] != [0] or phases[-1:] != [len(PHASES) - 1]:
            raise Failure("steps announced out of order or missing: %r" % [PHASES[p] for p in phases])
        print("announced: %s" % ", ".join(t for t, _ in heard), flush=True)


def page_title(page):
    return page.name if isinstance(page, Shows) else page


def action_names(node):
    try:
        a = node.queryAction()
    except NotImplementedError:
        return []
    return [a.getName(i) for i in range(a.nActions)]


def do_action(node, name, wanted):
    names = action_names(node)
    if name not in names:
        raise Failure("%r offers no %s action (it has %r)" % (wanted, name, names))
    if not node.queryAction().doAction(names.index(name)):
        raise Failure("%r refused its %s action" % (wanted, name))


def accessible_name(node, labels):
    """What a screen reader says for a control: its own name, else for a
    pressable area that draws its texts inside itself (as rows do) the
    labels drawn inside its rectangle, else the label it infers from the
    page, as Orca does for an unnamed form control: the text on the same
    line before it, else the text right above it. Text fields and switches
    carry no name of their own (a password field only "password", which
    cannot tell two of them apart), so they are named that way."""
    box = extents(node)
    if node.getRole() in (pyatspi.ROLE_ENTRY, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX):
        inferred = inferred_label(box, labels)
        return inferred and " ".join(x for x in (inferred, node.name) if x)
    if node.name:
        return node.name
    return " ".join(l.name for l in labels if l.name and inside(extents(l), box))


def inferred_label(box, labels):
    """The label ending closest before `box` on its line, else the one
    ending closest above it (overlapping it across, no further away than it
    is high); None without one."""
    x, y, w, h = box
    before = above = None
    for l in labels:
        if not l.name:
            continue
        lx, ly, lw, lh = extents(l)
        gap_x, gap_y = x - (lx + lw), y - (ly + lh)
        if ly < y + h and y < ly + lh and gap_x >= 0 and (before is None or gap_x < before[0]):
            before = (gap_x, l.name)
        if 0 <= gap_y <= h and lx < x + w and x < lx + lw and (above is None or gap_y < above[0]):
            above = (gap_y, l.name)
    return (before or above or (None, None))[1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--texts", required=True, help="the English catalogue (locales/en.json)")
    ap.add_argument("--shots", required=True)
    ap.add_argument("wizard", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.wizard[1:] if args.wizard[:1] == ["--"] else args.wizard
    with open(args.texts, encoding="utf-8") as f:
        texts = json.load(f)
    os.makedirs(args.shots, exist_ok=True)

    w = ScreenReaderWalker(texts, args.shots)
    pyatspi.Registry.registerEventListener(w.heard, "object:announcement")
    wizard = None
    try:
        empty = grab(os.path.join(args.shots, "00-empty.png"))
        if empty is None:
            print("SKIP: grim cannot take screenshots of the compositor", flush=True)
            return 77
        set_enabled()
        wizard = subprocess.Popen(command)
        walk_args = argparse.Namespace(scenario="install", shots=args.shots, until=None, disk=None, real=False,
                                       progress_limit=30)
        code = walk(wizard, w, INSTALL, walk_args, empty)
        if code == 0 and "finish.install_title" not in w.pages:
            raise Failure("the walk ended without the finish page: %r" % w.pages)
        return code
    except Failure as f:
        print("FAIL: %s" % f, flush=True)
        return 1
    finally:
        pyatspi.Registry.deregisterEventListener(w.heard, "object:announcement")
        if wizard is not None and wizard.poll() is None:
            wizard.kill()
            wizard.wait()


if __name__ == "__main__":
    sys.exit(main())
