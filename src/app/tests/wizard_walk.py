#!/usr/bin/python3
"""Walks the real wizard from its splash to its last page, as a user with a
keyboard would, under a compositor the caller started.

The page on screen is read through the accessibility tree (AT-SPI): each
page is known by its title, or by texts it shows when it has none. Controls
are pressed with keys sent by `wtype`: Tab first, and where Tab reaches no
control (the wizard's buttons are not in the tab order) the screen reader's
way of moving focus, then Return. Text fields get the focus the screen
reader's way and their text as keys. With `--pointer` the disk target is
clicked at the middle of its bounds instead. Every page is saved as a
screenshot (grim) and must differ from the one before.

Run inside a private session bus (dbus-run-session) with XDG_RUNTIME_DIR and
WAYLAND_DISPLAY set; the wizard's command line follows "--". Exit 0 on
success, 1 on a failure ("FAIL: ..."), 77 when something this needs is
missing (the reason is printed).
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import time

# The screen reader's side that the toolkit's own client uses too.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "zem", "tests", "a11y"))
from atspi_support import Failure, find_app, grab, pyatspi, set_enabled, skip, wait_for  # noqa: E402

APP_ID = "net.tavix.Installer"


class NothingToPick(Exception):
    pass


# --- the walk, as data ------------------------------------------------------
#
# A step is the page expected on screen and the controls to press there, in
# order, to move on. A page is the catalogue key of its title, or `Shows`
# for a page without a title: known by texts it shows. A control is
# ("button", text key) for a control showing that text, ("button-text",
# text) for one showing a text outside the catalogue, ("row", n) for the
# n-th choice row (a pressable area with a label that is not the back
# control), or ("type", n, text) for text typed into the n-th text field; a
# third member of a button or row names the key that presses it (Return
# unless told), or POINTER for a click at its middle. ("row-showing", text)
# is the one choice row that shows exactly that text, ("switch-on", text
# key) the switch titled that text, turned on unless it is, and ("shows",
# text) no press at all but a check that some text on screen, other than a
# row's own label, contains that text (a dialog naming the chosen disk). A
# step without controls waits for the page to move on by itself.


class Shows:
    def __init__(self, name, texts):
        self.name = name
        self.texts = texts


POINTER = "pointer"

# Every language is listed under its own name: the page has no title.
LANGUAGE = Shows("language", ["English", "Español", "Français", "Deutsch"])

# A valid account: the account page moves on only with one. The device
# name is filled in already.
USER = "walker"
PASSWORD = "walk1234"
ACCOUNT = [("type", 0, USER), ("type", 2, PASSWORD), ("type", 3, PASSWORD), ("button", "common.continue")]

INSTALL = [
    (LANGUAGE, [("button-text", "English")]),
    ("welcome.title", [("button", "welcome.cta")]),
    # The first disk the plan check takes: the machine may list disks too
    # small for its own system (loop devices of other tests). Going on asks
    # for a confirmation first.
    ("disk.title", [("each-row",), ("button", "common.continue"), ("button", "disk.dialog_accept")]),
    ("account.title", ACCOUNT),
    ("progress.title", []),  # the simulated install moves on by itself
    ("finish.install_title", [("button", "finish.install_cta")]),
]

CONFIGURE = [
    (LANGUAGE, [("button-text", "English")]),
    ("welcome.title", [("button", "welcome.cta")]),
    ("account.title", ACCOUNT),
    # Back once, with the space bar, and forward again: the fields kept
    # what was typed.
    ("wireless.title", [("button", "common.back", "space")]),
    ("account.title", [("button", "common.continue")]),
    # No network here: Continue waits for one, cellular data goes on.
    ("wireless.title", [("button", "wireless.use_cellular")]),
    ("navigation.title", [("button", "navigation.gestures_title"), ("button", "common.continue")]),
    ("storage.title", [("button", "storage.local")]),  # a choice moves on by itself
    ("permissions.title", [("button", "common.continue")]),
    ("security.title", [("button", "security.pin_title"), ("button", "security.cta")]),
    ("finish.title", [("button", "finish.cta")]),
    ("tutorial_gestures.intro_title", [("button", "tutorial_gestures.intro_cta")]),
    ("tutorial_gestures.step_1_title", [("button", "common.next")]),
    ("tutorial_gestures.step_2_title", [("button", "common.next")]),
    ("tutorial_gestures.step_3_title", [("button", "common.done")]),
    ("tutorial_trovex.intro_title", [("button", "tutorial_trovex.intro_cta")]),
    ("tutorial_trovex.step_1_title", [("button", "common.next")]),
    ("tutorial_trovex.step_2_title", [("button", "common.next")]),
    ("tutorial_trovex.step_3_title", [("button", "common.done")]),
    # In test mode the end of the scenario shows the finish page and stays.
    ("finish.title", None),
]

# Not in test mode: the wizard ends by itself after the last tutorial, once
# the language is applied and the account staged for the next boot.
ENDS = "the wizard ends"

# Outside test mode, on an installed system, with a choice on every page
# that has one: another language, a host name of its own, the buttons
# navigation, the outside account with its form, two permissions switched
# on, the fingerprint with both of its pages. What was entered is checked
# afterwards on the system, so the caller passes the same values.
HOST = "walkbox"


def configure_real(language, user, host, password, encrypt=False, account=True):
    # The account page's one switch asks for the root to be encrypted.
    switch = [("switch", 0)] if encrypt else []
    # Without the image's user there is no account to ask for.
    account_step = [("account.title", [("type", 0, user), ("replace", 1, host), ("type", 2, password),
                                       ("type", 3, password)] + switch + [("button", "common.continue")])]
    return [
        # The language is tapped, as on a touch screen.
        (LANGUAGE, [("button-text", language, POINTER)]),
        ("welcome.title", [("button", "welcome.cta")]),
    ] + (account_step if account else []) + [
        ("wireless.title", [("button", "wireless.use_cellular")]),
        ("navigation.title", [("button", "navigation.buttons_title"), ("button", "common.continue")]),
        ("storage.title", [("button", "storage.proton")]),
        ("proton.title", [("type", 0, "Ada Walker"), ("type", 1, "ada@example.com"), ("type", 2, "proton-pw1"),
                          ("button", "proton.submit")]),
        ("permissions.title", [("switch", 0), ("switch", 2), ("button", "common.continue")]),
        ("security.title", [("button", "security.fingerprint_title")]),  # the fingerprint moves on by itself
        ("security.fingerprint_register_title", [("button", "common.continue")]),
        ("security.fingerprint_done_title", [("button", "security.fingerprint_finish")]),
        ("finish.title", [("button", "finish.cta")]),
        ("tutorial_gestures.intro_title", [("button", "tutorial_gestures.intro_cta")]),
        ("tutorial_gestures.step_1_title", [("button", "common.next")]),
        ("tutorial_gestures.step_2_title", [("button", "common.next")]),
        ("tutorial_gestures.step_3_title", [("button", "common.done")]),
        ("tutorial_trovex.intro_title", [("button", "tutorial_trovex.intro_cta")]),
        ("tutorial_trovex.step_1_title", [("button", "common.next")]),
        ("tutorial_trovex.step_2_title", [("button", "common.next")]),
        ("tutorial_trovex.step_3_title", [("button", "common.done")]),
        (ENDS, None),
    ]


def page_name(page):
    return page.name if isinstance(page, Shows) else page


# A page's file name: its title key without "title" ("disk.title" is
# "disk", "tutorial_gestures.step_1_title" is "tutorial_gestures-step_1").
def page_id(name):
    section, _, item = name.partition(".")
    item = item[:-len("title")] if item.endswith("title") else item
    item = item.rstrip("_-")
    return section + ("-" + item if item else "")


class Walker:
    def __init__(self, texts, shots, pointer=None, by_pointer=False, check=None, page_shots=None):
        self.texts = texts
        self.shots = shots
        self.pointer = pointer
        # Every control pressed with the pointer and every field focused by
        # a click, as a user at the screen would: the screen reader's side
        # only reads what is shown and where.
        self.by_pointer = by_pointer
        self.check = check
        self.page_shots = page_shots
        self.page = "splash"
        self.checked = set()
        self.saved = set()
        self.app = None
        self.last_shot = None
        self.count = 0

    def text(self, key):
        return self.texts.get(key, key)

    def nodes(self):
        out = []

        def walk(node):
            node.clearCache()
            for i in range(node.childCount):
                c = node.getChildAtIndex(i)
                if c is None:
                    continue
                out.append(c)
                walk(c)
        walk(self.app)
        return out

    def labels(self):
        return [n.name for n in self.nodes() if n.getRole() == pyatspi.ROLE_LABEL]

    def on_page(self, page):
        labels = self.labels()
        if isinstance(page, Shows):
            return all(t in labels for t in page.texts)
        return self.text(page) in labels

    def describe(self, page):
        return page.texts if isinstance(page, Shows) else self.text(page)

    def fields(self):
        return [n for n in self.nodes() if n.getRole() == pyatspi.ROLE_ENTRY]

    def focused(self):
        for n in self.nodes():
            if n.getState().contains(pyatspi.STATE_FOCUSED):
                return n
        return None

    # The control a step names, on the page now shown. A pressable area's
    # texts are the labels drawn inside its rectangle (the tree may list them
    # beside it rather than below it).
    def control(self, wanted):
        kind, what = wanted[:2]
        nodes = self.nodes()
        buttons = [n for n in nodes if n.getRole() == pyatspi.ROLE_PUSH_BUTTON]
        labels = [n for n in nodes if n.getRole() == pyatspi.ROLE_LABEL]

        def texts(button):
            return [l.name for l in labels if inside(extents(l), extents(button))]
        if kind == "switch":
            switches = [n for n in nodes if n.getRole() == pyatspi.ROLE_TOGGLE_BUTTON]
            if what >= len(switches):
                raise Failure("no switch %d among %r" % (what, [(x.getRoleName(), x.name) for x in nodes]))
            return switches[what]
        if kind in ("type", "replace"):
            fields = [n for n in nodes if n.getRole() == pyatspi.ROLE_ENTRY]
            if what >= len(fields):
                raise Failure("no text field %d among %r" % (what, [(x.getRoleName(), x.name) for x in nodes]))
            return fields[what]
        if kind == "switch-on":
            want = self.text(what)
            switches = [n for n in nodes if n.getRole() in (pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX)]
            for n in switches:
                if n.name == want:
                    return n
            # An unnamed switch is the one on the row of its title.
            title = [l for l in labels if l.name == want]
            if title:
                _, ty, _, th = extents(title[0])
                for n in switches:
                    _, y, _, h = extents(n)
                    if y < ty + th and ty < y + h:
                        return n
            raise Failure("no switch %r among %r" % (want, [(x.getRoleName(), x.name) for x in nodes]))
        if kind == "row-showing":
            rows = [n for n in buttons if not n.name and what in texts(n)]
            if len(rows) != 1:
                raise Failure("%d rows show %r (labels: %r)" % (len(rows), what, [l.name for l in labels]))
            return rows[0]
        if kind in ("button", "button-text"):
            want = self.text(what) if kind == "button" else what
            for n in buttons:
                if n.name == want or (not n.name and want in texts(n)):
                    return n
            raise Failure("no control %r among %r" % (want, [(x.getRoleName(), x.name) for x in nodes]))
        back = self.text("common.back")
        rows = [n for n in buttons if not n.name and texts(n) and back not in texts(n)]
        if what is None:
            return rows
        if not rows and self.on_page("disk.title"):
            raise NothingToPick("this machine lists no disk to install on")
        if what >= len(rows):
            raise Failure("no choice row %d among %r" % (what, [(x.getRoleName(), x.name) for x in nodes]))
        return rows[what]

    def row_count(self):
        rows = []
        wait_for(lambda: rows.append(len(self.control(("row", None)))) or rows[-1] > 0, 10)
        if not rows or rows[-1] == 0:
            raise NothingToPick("this machine lists no disk to install on")
        return rows[-1]

    # Pressing a control with the keyboard: focus it, then Return. This is
    # the one place that says how a control is pressed, so a pointer or a
    # touch can take its place.
    def press(self, wanted):
        # A control without a message is shown disabled: a press before the
        # last one has taken effect (a row chosen before Continue) would be
        # lost, so wait until it can be pressed.
        if wanted[0] == "shows":
            text = wanted[1]
            if not wait_for(lambda: any(text in l and l != text for l in self.labels()), 15):
                raise Failure("nothing on screen names %r; labels: %r" % (text, self.labels()))
            return
        node = None

        def ready():
            nonlocal node
            node = self.control(wanted)
            node.clearCache()
            return node.getState().contains(pyatspi.STATE_ENABLED)
        if not wait_for(ready, 15):
            self.control(wanted)  # says what is missing, when something is
            raise Failure("%r never became pressable" % (wanted,))
        self.check_texts()
        if wanted[0] in ("type", "replace"):
            self.type_into(node, wanted)
            return
        if wanted[0] == "switch":
            self.flip(node, wanted)
            return
        if wanted[0] == "switch-on":
            if self.is_checked(node):
                return
            self.click(node, wanted)
            if not wait_for(lambda: self.is_checked(self.control(wanted)), 10):
                raise Failure("%r did not turn on" % (wanted,))
            return
        if (len(wanted) > 2 and wanted[2] == POINTER and self.pointer is not None) or self.by_pointer:
            self.click(node, wanted)
            return
        if not self.focus_by_tab(node):
            # Not in the tab order: move the focus the way a screen reader does.
            node.queryComponent().grabFocus()
            if not wait_for(lambda: self.is_focused(node), 10):
                raise Failure("focus did not reach %r" % (wanted,))
        key(wanted[2] if len(wanted) > 2 else "Return")

    # Typing into a field: the focus moves there the screen reader's way and
    # the text comes as keys. A field that shows its text must show what was
    # typed; a password field shows nothing to check.
    def type_into(self, node, wanted):
        text = wanted[2]

        def shown():
            node.clearCache()
            t = node.queryText()
            return t.getText(0, t.characterCount)
        password = node.name == "password"
        if not password and shown() == text:
            return
        if not self.is_focused(node):
            if self.by_pointer:
                self.click(node, wanted)
            else:
                node.queryComponent().grabFocus()
            if not wait_for(lambda: self.is_focused(node), 10):
                raise Failure("focus did not reach %r" % (wanted,))
        if wanted[0] == "replace":
            # What the field holds goes first, a key per character from its end.
            old = shown()
            if old:
                key("End")
                r = subprocess.run(["wtype"] + ["-k", "BackSpace"] * len(old), capture_output=True, text=True)
                if r.returncode != 0:
                    raise Failure("wtype BackSpace: %s" % r.stderr.strip())
                if not wait_for(lambda: shown() == "", 10):
                    raise Failure("field %d still shows %r after deleting it" % (wanted[1], shown()))
        r = subprocess.run(["wtype", text], capture_output=True, text=True)
        if r.returncode != 0:
            raise Failure("wtype %s: %s" % (text, r.stderr.strip()))
        if not password and not wait_for(lambda: shown() == text, 10):
            raise Failure("field %d shows %r after typing %r" % (wanted[1], shown(), text))

    def is_checked(self, node):
        node.clearCache()
        return node.getState().contains(pyatspi.STATE_CHECKED)

    # A click at the middle of a control, once that middle is on screen and
    # no other control lies over it (a row scrolled under the page's
    # buttons): until then the page is scrolled towards it with the wheel.
    # A click never lands on anything but the control named.
    def click(self, node, wanted):
        if self.pointer is None:
            raise Failure("pressing %r needs the pointer (--pointer)" % (wanted,))
        for _ in range(40):
            node = self.control(wanted) if wanted[0] not in ("type", "replace") else node
            x, y, w, h = extents(node)
            cx, cy = x + w // 2, y + h // 2
            _, _, ww, wh = extents(self.window())
            # The tree lists nodes in drawing order: only a control listed
            # after this one lies over it (the page's buttons over its
            # scrolled rows; nothing of the page over a dialog's buttons).
            nodes = self.nodes()
            at = next((k for k, n in enumerate(nodes) if same(n, node)), None)
            if at is None:
                raise Failure("%r left the tree" % (wanted,))
            blocked = cy < 0 or cy >= wh or cx < 0 or cx >= ww or any(
                covers(extents(n), (cx, cy)) and not inside(extents(n), (x, y, w, h))
                and not inside((x, y, w, h), extents(n))
                for n in nodes[at + 1:] if n.getRole() in CONTROLS)
            if not blocked:
                self.pointer.send("click %d %d" % (cx, cy))
                # Back to its corner, so that the screenshots show no hover.
                self.pointer.send("move 0 0")
                return
            self.pointer.send("wheel %d %d %d" % (ww // 2, wh // 2, 1 if cy >= wh // 2 else -1))
            self.pointer.send("move 0 0")
            before = (x, y, w, h)

            def moved():
                node.clearCache()
                return extents(self.control(wanted) if wanted[0] not in ("type", "replace") else node) != before
            wait_for(moved, 3)
        raise Failure("%r never came into view at %r; in front of it: %r" % (wanted, extents(node), [
            (n.getRoleName(), n.name, extents(n)) for n in self.nodes()
            if n.getRole() in CONTROLS and covers(extents(n), (cx, cy)) and not same(n, node)]))

    def window(self):
        for i in range(self.app.childCount):
            c = self.app.getChildAtIndex(i)
            if c is not None:
                return c
        raise Failure("the wizard shows no window")

    # A switch is pressed like a button and must show its new state; a press
    # that did not land is pressed again, one that did never twice.
    def flip(self, node, wanted):
        def checked():
            node.clearCache()
            return node.getState().contains(pyatspi.STATE_CHECKED)
        before = checked()
        for _ in range(3):
            if not self.focus_by_tab(node):
                node.queryComponent().grabFocus()
                if not wait_for(lambda: self.is_focused(node), 10):
                    raise Failure("focus did not reach %r" % (wanted,))
            key("Return")
            if wait_for(lambda: checked() != before, 5):
                return
        raise Failure("%r stayed %s" % (wanted, "on" if before else "off"))

    def is_focused(self, node):
        node.clearCache()
        return node.getState().contains(pyatspi.STATE_FOCUSED)

    def focus_by_tab(self, node):
        if self.is_focused(node):
            return True
        before = self.focused()
        key("Tab")
        # Nothing in the tab order leaves the focus where it was.
        if not wait_for(lambda: self.focused() not in (None, before), 1.5):
            return False
        reachable = len([n for n in self.nodes() if n.getState().contains(pyatspi.STATE_FOCUSABLE)])
        for _ in range(reachable):
            if self.is_focused(node):
                return True
            now = self.focused()
            key("Tab")
            wait_for(lambda: self.focused() != now, 3)
        return self.is_focused(node)

    def shot(self, name):
        self.count += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.count, name))
        # A page that is still settling (a fade, a spinner) is saved as it is
        # once two screenshots in a row agree, or after a few seconds.
        data = [None]

        def settled():
            a = grab(path)
            b = grab(path)
            data[0] = b
            return a is not None and a == b
        wait_for(settled, 5)
        if data[0] is None:
            raise Failure("no screenshot of %s" % name)
        print("page %s: %s" % (name, path), flush=True)
        if self.page_shots is not None and self.page not in self.saved:
            # A stable name per page; a page seen again (a disk the plan check
            # refused, with its reason over it) keeps its first look.
            self.saved.add(self.page)
            target = os.path.join(self.page_shots, "%s.png" % self.page)
            with open(target + ".part", "wb") as f:
                f.write(data[0])
            os.replace(target + ".part", target)
        return data[0]

    # The texts on screen now, as the page `self.page` shows them.
    def check_texts(self):
        if self.check is None or self.app is None:
            return
        nodes = self.nodes()
        # A screen already checked (a page come back to) is not read again:
        # every node costs the bus several round trips.
        seen = (self.page, tuple(n.name for n in nodes))
        if seen in self.checked:
            return
        self.checked.add(seen)
        width = extents(self.app.getChildAtIndex(0))[2] if self.app.childCount else 0
        self.check.check(self.page, nodes, width)

    # Waits for the page `page`, or for `back_to` when that page may come
    # back instead (a plan check refusing the chosen disk); which one showed.
    def arrive(self, page, timeout=30, back_to=None):
        def shown():
            return self.on_page(page) or (back_to is not None and self.on_page(back_to))
        if not wait_for(shown, timeout):
            raise Failure("page %r (%r) never showed; labels: %r"
                          % (page_name(page), self.describe(page), self.labels()))
        got = page if self.on_page(page) else back_to
        name = page_name(got)
        self.page = page_id(name)
        img = self.shot(name.replace(".", "-", 1))
        self.check_texts()
        if img == self.last_shot:
            raise Failure("the screen did not change on reaching %r" % got)
        self.last_shot = img
        return got


def extents(node):
    return tuple(node.queryComponent().getExtents(pyatspi.WINDOW_COORDS))


# --- the texts on screen, checked (--check-texts) -----------------------------
#
# Every node that drew text says where through its "text-bounds" attribute.
# That box must lie inside the node's control (the smallest pressable area
# holding it; a text outside any control inside its own rectangle) and
# inside the screen's width: a text running past either is cut off or
# overflows. A text shown must not be a catalogue key (a lookup that found
# nothing), nor, in another language, the English text of a key that
# language translates.

# Roles that carry text but press nothing: their control is around them.
PASSIVE = ("label", "image", "separator", "progress bar", "frame", "dialog", "filler", "panel")
# Pixels: the bus gives a control's rectangle as whole pixels, position and
# size each cut (up to 2 lost at the far edge), while the text's box keeps its
# fraction; at a fractional row position a line box can also end a fraction of
# a pixel past its row. Neither can be seen; a text that runs out does so by
# whole glyphs.
SLACK = 3.0


def text_bounds(node):
    try:
        attributes = node.getAttributes()
    except Exception:  # noqa: BLE001 - a node without attributes drew no text
        return None
    for a in attributes:
        name, _, value = a.partition(":")
        if name == "text-bounds":
            x, y, w, h = (float(v) for v in value.split(","))
            return (x, y, w, h)
    return None


def contains(outer, inner, slack=SLACK):
    ox, oy, ow, oh = outer
    ix, iy, iw, ih = inner
    return ix >= ox - slack and iy >= oy - slack and ix + iw <= ox + ow + slack and iy + ih <= oy + oh + slack


def fmt(r):
    return "(%g, %g, %g, %g)" % tuple(round(v, 1) for v in r)


class TextCheck:
    def __init__(self, language, texts, english):
        self.language = language
        self.keys = set(texts)
        own = set(texts.values())
        # English texts this language replaces by its own (a text both share,
        # "OK", is no sign of a missing translation).
        self.english = {} if language == "en" else {
            e: k for k, e in english.items()
            if texts.get(k) != e and e not in own and "%{" not in e and not k.startswith("_meta.")}
        self.faults = []
        self.seen = set()

    def fault(self, page, node, text, what):
        line = "%s, page %s, %s %r: %s" % (self.language, page, node.getRoleName(), text, what)
        if line not in self.seen:
            self.seen.add(line)
            self.faults.append(line)

    def check(self, page, nodes, screen_width):
        shown = []
        for n in nodes:
            try:
                role = n.getRoleName()
                rect = extents(n)
                if role == "entry":
                    t = n.queryText()
                    text = t.getText(0, t.characterCount)
                else:
                    text = n.name
                shown.append((n, role, rect, text, text_bounds(n)))
            except Exception:  # noqa: BLE001 - a node gone with the last frame
                continue
        controls = [(n, rect) for n, role, rect, _, _ in shown
                    if role not in PASSIVE and rect[2] > 0 and rect[3] > 0]
        for n, role, rect, text, bounds in shown:
            if text and role != "entry" and n.name != "password":
                if text in self.keys:
                    self.fault(page, n, text, "a catalogue key, shown untranslated")
                elif text in self.english:
                    self.fault(page, n, text, "the English text of %s, which this language translates"
                               % self.english[text])
            if bounds is None or not text:
                continue
            control = rect
            if role in PASSIVE:
                # Its control holds the whole of its rectangle: a dialog's
                # text lies over the page's rows without being theirs.
                around = [r for c, r in controls if contains(r, rect)]
                if around:
                    control = min(around, key=lambda r: r[2] * r[3])
            if not contains(control, bounds):
                self.fault(page, n, text, "text %s runs out of its control %s" % (fmt(bounds), fmt(control)))
            elif bounds[0] < -SLACK or bounds[0] + bounds[2] > screen_width + SLACK:
                self.fault(page, n, text, "text %s runs off the screen (width %g)" % (fmt(bounds), screen_width))


def inside(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return aw > 0 and ah > 0 and bx <= ax and by <= ay and ax + aw <= bx + bw and ay + ah <= by + bh


CONTROLS = (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_TOGGLE_BUTTON,
            pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_SLIDER)


def covers(box, point):
    x, y, w, h = box
    px, py = point
    return x <= px < x + w and y <= py < y + h


def same(a, b):
    return extents(a) == extents(b) and a.getRole() == b.getRole() and a.name == b.name


def key(name):
    r = subprocess.run(["wtype", "-k", name], capture_output=True, text=True)
    if r.returncode != 0:
        raise Failure("wtype -k %s: %s" % (name, r.stderr.strip()))


# One virtual pointer for the whole walk: a device made per click would
# appear anew each time, and a click could reach the wizard before it holds
# a pointer for it. Each line is answered once the compositor has it.
class Pointer:
    def __init__(self, program):
        self.proc = subprocess.Popen([program, "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, bufsize=1)

    def send(self, line):
        try:
            self.proc.stdin.write(line + "\n")
            self.proc.stdin.flush()
            answer = self.proc.stdout.readline().strip()
        except OSError as e:
            raise Failure("the pointer is gone: %s" % e)
        if answer != "ok":
            raise Failure("pointer %r: %r (status %r)" % (line, answer, self.proc.poll()))

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scenario", choices=("install", "configure", "configure-real"), required=True)
    # The real configure walk's entries (the caller checks them on the system).
    ap.add_argument("--language", default="English", help="the language picked, by the name it is listed under")
    ap.add_argument("--user", default=USER)
    ap.add_argument("--host", default=HOST)
    ap.add_argument("--password", default=PASSWORD)
    ap.add_argument("--encrypt", action="store_true",
                    help="switch encryption on: in the real configure walk, and on the install's account page")
    ap.add_argument("--no-account", action="store_true", help="the real configure walk shows no account page")
    ap.add_argument("--texts", required=True, help="the English catalogue (locales/en.json)")
    ap.add_argument("--shots", required=True)
    ap.add_argument("--until", help="stop once this page (title key) is reached")
    ap.add_argument("--pointer", help="zem-test-pointer, to press some controls with a pointer")
    ap.add_argument("--by-pointer", action="store_true",
                    help="press every control and focus every field with the pointer (needs --pointer)")
    ap.add_argument("--disk", help="install on the disk whose row shows exactly this text, and on no other")
    ap.add_argument("--real", action="store_true",
                    help="the wizard runs without --test: the restart on the last page ends it with status 0")
    ap.add_argument("--progress-limit", type=float, default=30,
                    help="seconds the page after one that moves on by itself may take (a real install)")
    ap.add_argument("--language-code", help="the catalogue code of the language chosen on the language page "
                    "by its own name (its texts are --texts); English unless told")
    ap.add_argument("--check-texts", action="store_true",
                    help="fail on text running out of its control or the screen, and on keys shown untranslated")
    ap.add_argument("--page-shots", help="also save each page as <dir>/<page>.png")
    ap.add_argument("wizard", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.wizard[1:] if args.wizard[:1] == ["--"] else args.wizard
    with open(args.texts, encoding="utf-8") as f:
        texts = json.load(f)
    if args.scenario == "configure-real":
        steps = configure_real(args.language, args.user, args.host, args.password, args.encrypt,
                               not args.no_account)
    else:
        steps = INSTALL if args.scenario == "install" else CONFIGURE
    if args.language_code:
        # Chosen by its own name, as a user finds it in the list.
        own_name = [("button-text", texts["_meta.endonym"])]
        steps = [(p, own_name if p is LANGUAGE else c) for p, c in steps]
    steps = adapt(steps, args)
    check = None
    if args.check_texts:
        with open(os.path.join(os.path.dirname(args.texts), "en.json"), encoding="utf-8") as f:
            check = TextCheck(args.language_code or "en", texts, json.load(f))
    os.makedirs(args.shots, exist_ok=True)
    if args.page_shots:
        os.makedirs(args.page_shots, exist_ok=True)

    # A keyboard that stays for the whole walk: each wtype below adds its own
    # for a moment, and the wizard must already hold the seat's keyboard when
    # the first key arrives.
    holder = subprocess.Popen(["wtype", "-s", "600000", "-k", "Shift_L"])
    pointer = None
    wizard = None
    try:
        if args.pointer:
            # Parked in a corner, away from anything a hover would change.
            pointer = Pointer(args.pointer)
            pointer.send("move 0 0")
        # The screen before the wizard, its cursor included.
        empty = grab(os.path.join(args.shots, "00-empty.png"))
        if empty is None:
            print("SKIP: grim cannot take screenshots of the compositor", flush=True)
            return 77
        set_enabled()
        wizard = subprocess.Popen(command)
        w = Walker(texts, args.shots, pointer, args.by_pointer, check, args.page_shots)
        code = walk(wizard, w, steps, args, empty)
        if code == 0 and check is not None and check.faults:
            raise Failure("texts cut off, overflowing or untranslated:\n  " + "\n  ".join(check.faults))
        return code
    except Failure as f:
        print("FAIL: %s" % f, flush=True)
        return 1
    finally:
        if wizard is not None and wizard.poll() is None:
            wizard.kill()
            wizard.wait()
        if pointer is not None:
            pointer.close()
        holder.kill()
        holder.wait()


# The walk's table with the options' changes: the named disk and nothing
# else, the confirmation checked to name it; encryption switched on.
def adapt(steps, args):
    out = []
    for page, controls in steps:
        if controls and args.disk is not None and controls[0][0] == "each-row":
            controls = [("row-showing", args.disk, POINTER)] + controls[1:-1] + [("shows", args.disk), controls[-1]]
        if args.encrypt and args.scenario == "install" and page == "account.title" and controls:
            controls = controls[:-1] + [("switch-on", "account.encrypt_title")] + controls[-1:]
        out.append((page, controls))
    return out


def walk(wizard, w, steps, args, empty):
    try:
        if not wait_for(lambda: wizard.poll() is None and grab(os.path.join(args.shots, "00-empty.png"))
                        not in (None, empty), 20):
            raise Failure("the wizard's window never showed (status %r)" % wizard.poll())

        # The splash: the brand colour alone, no title; it leaves by itself.
        w.last_shot = w.shot("splash")

        def appeared():
            w.app = find_app(APP_ID)
            return w.app is not None and w.app.childCount > 0
        if not wait_for(appeared, 20):
            raise Failure("the wizard never appeared on the accessibility bus")

        # The disk step tries the listed disks in turn: one the plan check
        # refuses brings the disk page back, with its reason in a dialog,
        # once the account page is left.
        disk_step = next((i for i, (_, c) in enumerate(steps) if c and c[0][0] == "each-row"), None)
        named = next((i for i, (_, c) in enumerate(steps) if c and c[0][0] == "row-showing"), None)
        row = 0
        i = 0
        came_back = False
        while i < len(steps):
            page, controls = steps[i]
            if page == ENDS:
                return wait_end(wizard, w)
            back_to = steps[disk_step][0] if disk_step is not None and i > disk_step else None
            if named is not None and i > named:
                # The one disk named: coming back to the disk page is a failure.
                back_to = steps[named][0]
            limit = 120 if controls == [] else 30
            if i > 0 and steps[i - 1][1] == []:
                limit = max(limit, args.progress_limit)
            if not came_back and w.arrive(page, limit, back_to) != page:
                if args.disk is not None:
                    raise Failure("back on the disk page instead of %r; labels: %r" % (page_name(page), w.labels()))
                row += 1
                if row >= w.row_count():
                    raise NothingToPick("no disk listed here passes the plan check; labels: %r" % w.labels())
                i = disk_step
                came_back = True
                continue
            came_back = False
            if args.until == page_name(page):
                break
            if not controls:
                i += 1
                continue
            if controls[0][0] == "each-row":
                if w.on_page("disk.error_title"):
                    w.press(("button", "disk.error_dismiss"))
                    if not wait_for(lambda: not w.on_page("disk.error_title"), 15):
                        raise Failure("the plan check's error stayed after OK; labels: %r" % w.labels())
                if row >= w.row_count():
                    raise NothingToPick("this machine lists no disk to install on")
                controls = [("row", row, POINTER)] + controls[1:]
            if args.real and i == len(steps) - 1:
                # Without --test the restart ends the wizard: status 0.
                for wanted in controls:
                    w.press(wanted)
                try:
                    code = wizard.wait(timeout=60)
                except subprocess.TimeoutExpired:
                    raise Failure("the wizard did not end after %r; labels: %r" % (controls, w.labels()))
                if code != 0:
                    raise Failure("the wizard ended with status %r after %r" % (code, controls))
                print("OK: %d screens, the wizard ended with status 0" % w.count)
                return 0
            if args.scenario == "install" and i == len(steps) - 1:
                # In test mode the restart only moves to the last page, which
                # shows this same view: the wizard must still be there.
                for wanted in controls:
                    w.press(wanted)
                if wizard.poll() is not None or not w.on_page(page):
                    raise Failure("the wizard did not stay after restarting in test mode (status %r, labels %r)"
                                  % (wizard.poll(), w.labels()))
                break
            # A press that did not land (a key that came before the focus)
            # is pressed again; the page is left only once. Text is typed
            # once: a password field cannot show whether it holds it.
            left = False
            # The last press before the wizard ends waits for the end of the
            # scenario, which applies the language to the system first.
            ending = i + 1 < len(steps) and steps[i + 1][0] == ENDS
            for attempt in range(3):
                for wanted in controls:
                    if attempt == 0 or wanted[0] not in ("type", "replace", "switch"):
                        w.press(wanted)
                if wait_for(lambda: wizard.poll() is not None or not w.on_page(page), 120 if ending else 15):
                    left = True
                    break
            if not left:
                raise Failure("pressing %r did not leave %r; labels: %r" % (controls, page_name(page), w.labels()))
            i += 1
        if wizard.poll() is not None:
            raise Failure("the wizard ended on its own (status %r)" % wizard.poll())
        wizard.send_signal(signal.SIGTERM)
        try:
            code = wizard.wait(timeout=15)
        except subprocess.TimeoutExpired:
            code = None
        if code != 0:
            raise Failure("exit status on SIGTERM: %r" % code)
        print("OK: %d screens" % w.count)
        return 0
    except NothingToPick as f:
        print("SKIP: %s" % f, flush=True)
        return 77


# Outside test mode the wizard ends the process itself on its last page:
# status 0, within the time the end of the scenario takes (the language
# applied to the system, the account staged).
def wait_end(wizard, w):
    try:
        code = wizard.wait(timeout=180)
    except subprocess.TimeoutExpired:
        raise Failure("the wizard did not end after its last page; labels: %r" % w.labels())
    if code != 0:
        raise Failure("the wizard ended with status %r" % code)
    print("OK: %d screens, the wizard ended by itself" % w.count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
