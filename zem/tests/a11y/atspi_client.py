#!/usr/bin/python3
"""A screen reader's view of the gallery: walks its tree over AT-SPI, acts on
its controls and follows the events it sends, as Orca would.

Run inside a private session bus (dbus-run-session) with XDG_RUNTIME_DIR and
WAYLAND_DISPLAY set. Exit 0 on success, 1 on a failure ("FAIL: ..."), 77
when something this needs is missing (the reason is printed).
"""
import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_support import Failure, find_app, grab as shot, pyatspi, set_enabled, skip, wait_for  # noqa: E402

APP_ID = "net.tavix.ZemGallery"


def check(ok, what, got=None, expected=None):
    if not ok:
        raise Failure("%s: %r != %r" % (what, got, expected))


def walk(node):
    out = []
    node.clearCache()
    for i in range(node.childCount):
        c = node.getChildAtIndex(i)
        out.append(c)
        out.extend(walk(c))
    return out


def by(nodes, role, name=None):
    for n in nodes:
        if n.getRole() == role and (name is None or n.name == name):
            return n
    raise Failure("no %s named %r in %r" % (role, name, [(x.getRoleName(), x.name) for x in nodes]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--gallery", required=True)
    ap.add_argument("--shots", required=True)
    args = ap.parse_args()

    events = []
    def on_event(ev):
        events.append((ev.type, ev.source, ev.detail1, ev.detail2, ev.any_data))
    for kind in ("object:state-changed:focused", "object:state-changed:checked",
                 "object:property-change:accessible-value", "object:text-changed:insert",
                 "object:children-changed:add", "object:property-change:accessible-name"):
        pyatspi.Registry.registerEventListener(on_event, kind)

    first = os.path.join(args.shots, "first.png")
    empty = shot(first)
    if empty is None:
        skip("grim cannot take screenshots of the compositor")
    gallery = subprocess.Popen([args.gallery, "--every-kind", "--size", "800x600"])
    try:
        # Nothing listens yet: the window is drawn, the application stays off
        # the accessibility bus.
        check(wait_for(lambda: gallery.poll() is None and shot(first) not in (None, empty), 20),
              "window drawn", False, True)
        check(find_app(APP_ID) is None, "application on the bus before anyone listens", "present", None)

        set_enabled()
        app = None
        def appeared():
            nonlocal app
            app = find_app(APP_ID)
            return app is not None and app.childCount == 1 and app.getChildAtIndex(0).childCount > 0
        check(wait_for(appeared, 20), "application with its tree after enabling", app, APP_ID)
        check(app.getRole() == pyatspi.ROLE_APPLICATION, "application role", app.getRoleName(), "application")
        check(app.get_toolkit_name() == "zem", "toolkit", app.get_toolkit_name(), "zem")
        frame = app.getChildAtIndex(0)
        check(frame.getRole() == pyatspi.ROLE_FRAME, "frame role", frame.getRoleName(), "frame")
        check(frame.name == APP_ID, "frame name", frame.name, APP_ID)
        fstates = frame.getState()
        check(fstates.contains(pyatspi.STATE_SHOWING), "frame showing", False, True)

        # The tree in reading order.
        nodes = walk(frame)
        got = [(n.getRole(), n.name) for n in nodes]
        expected_head = [
            (pyatspi.ROLE_LABEL, "Gallery"),
            (pyatspi.ROLE_LABEL, "Every kind of element the toolkit draws."),
            (pyatspi.ROLE_PUSH_BUTTON, "Primary"),
            (pyatspi.ROLE_PUSH_BUTTON, "Advance"),
            (pyatspi.ROLE_TOGGLE_BUTTON, "Wi-Fi"),
            (pyatspi.ROLE_CHECK_BOX, "Remember me"),
            (pyatspi.ROLE_RADIO_BUTTON, "Light"),
            (pyatspi.ROLE_RADIO_BUTTON, "Dark"),
            (pyatspi.ROLE_ENTRY, None),
            (pyatspi.ROLE_ENTRY, "password"),
            (pyatspi.ROLE_SLIDER, None),
            (pyatspi.ROLE_LABEL, "Copying files"),
            (pyatspi.ROLE_PROGRESS_BAR, None),
            (pyatspi.ROLE_SEPARATOR, None),
            (pyatspi.ROLE_IMAGE, None),
            (pyatspi.ROLE_PUSH_BUTTON, None),
            (pyatspi.ROLE_LABEL, "Tap area"),
            (pyatspi.ROLE_PUSH_BUTTON, None),
            (pyatspi.ROLE_SLIDER, None),
            (pyatspi.ROLE_LIST_ITEM, "Item 1"),
        ]
        names = [(pyatspi.Role(r).value_nick if hasattr(pyatspi.Role(r), "value_nick") else r, n) for r, n in got]
        check(len(got) >= len(expected_head), "nodes in reading order", names, expected_head)
        for i, (role, name) in enumerate(expected_head):
            check(got[i][0] == role and (name is None or got[i][1] == name), "node %d" % i, got[i], (role, name))
        items = [n for n in nodes if n.getRole() == pyatspi.ROLE_LIST_ITEM]
        check(0 < len(items) < 40, "visible list items", len(items), "some of 40")
        for n in nodes:
            x, y, w, h = n.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
            check(w > 0 and h > 0 and x < 800 and y < 600 and x + w > 0 and y + h > 0,
                  "extents of %s %r" % (n.getRoleName(), n.name), (x, y, w, h), "inside 800x600")
        primary = by(nodes, pyatspi.ROLE_PUSH_BUTTON, "Primary")
        st = primary.getState()
        for s in (pyatspi.STATE_FOCUSABLE, pyatspi.STATE_ENABLED, pyatspi.STATE_SENSITIVE, pyatspi.STATE_SHOWING):
            check(st.contains(s), "Primary state %s" % s, False, True)
        comp = primary.queryComponent()
        px, py, pw, ph = comp.getExtents(pyatspi.WINDOW_COORDS)
        check(tuple(comp.getPosition(pyatspi.WINDOW_COORDS)) == (px, py), "Primary position",
              tuple(comp.getPosition(pyatspi.WINDOW_COORDS)), (px, py))
        check(tuple(comp.getSize()) == (pw, ph), "Primary size", tuple(comp.getSize()), (pw, ph))
        at = frame.queryComponent().getAccessibleAtPoint(px + 2, py + 2, pyatspi.WINDOW_COORDS)
        check(at == primary, "node at Primary's corner", at, primary)
        wifi = by(nodes, pyatspi.ROLE_TOGGLE_BUTTON, "Wi-Fi")
        check(wifi.getState().contains(pyatspi.STATE_CHECKABLE), "Wi-Fi checkable", False, True)
        check(wifi.getState().contains(pyatspi.STATE_CHECKED), "Wi-Fi checked", False, True)

        # A button's action fires its message while the application is idle.
        base = os.path.join(args.shots, "base.png")
        def stable():
            a, b = shot(base), shot(base)
            return a is not None and a == b
        check(wait_for(stable, 10), "stable screenshots", False, True)
        before = shot(base)
        bar = by(nodes, pyatspi.ROLE_PROGRESS_BAR)
        old = bar.queryValue().currentValue
        advance = by(nodes, pyatspi.ROLE_PUSH_BUTTON, "Advance")
        check(advance.queryAction().getName(0) == "click", "Advance action", advance.queryAction().getName(0), "click")
        advance.queryAction().doAction(0)
        after = os.path.join(args.shots, "after.png")
        def advanced():
            bar.clearCache()
            return any(e[0] == "object:property-change:accessible-value" and e[1] == bar for e in events) \
                and abs(bar.queryValue().currentValue - (old + 0.25)) < 1e-3 and shot(after) != before
        check(wait_for(advanced, 15), "progress after Advance",
              [(e[0], e[1].getRoleName(), e[4]) for e in events] + [shot(after) != before], old + 0.25)

        # A switch toggles.
        wifi.queryAction().doAction(0)
        def toggled():
            wifi.clearCache()
            return any(e[0] == "object:state-changed:checked" and e[1] == wifi for e in events) \
                and not wifi.getState().contains(pyatspi.STATE_CHECKED)
        check(wait_for(toggled), "Wi-Fi toggled", True, False)

        # A slider's value set through Value.
        slider = by(nodes, pyatspi.ROLE_SLIDER)
        slider.queryValue().currentValue = 0.75
        def slid():
            slider.clearCache()
            return abs(slider.queryValue().currentValue - 0.75) < 1e-3 and any(
                e[0] == "object:property-change:accessible-value" and e[1] == slider for e in events)
        check(wait_for(slid), "slider value", slider.queryValue().currentValue, 0.75)

        # A text field read and set through Text and EditableText.
        entries = [n for n in nodes if n.getRole() == pyatspi.ROLE_ENTRY]
        name_field = entries[0]
        name_field.queryEditableText().setTextContents("Tavix")
        def named():
            name_field.clearCache()
            t = name_field.queryText()
            return t.getText(0, -1) == "Tavix" and t.characterCount == 5
        check(wait_for(named), "name field text", name_field.queryText().getText(0, -1), "Tavix")
        t = name_field.queryText()
        check(t.getTextAtOffset(1, pyatspi.TEXT_BOUNDARY_CHAR)[0] == "a", "character at 1",
              t.getTextAtOffset(1, pyatspi.TEXT_BOUNDARY_CHAR), "a")
        fx, fy, fw, fh = name_field.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        check(tuple(t.getCharacterExtents(0, pyatspi.WINDOW_COORDS)) == (fx, fy, fw, fh), "character extents",
              tuple(t.getCharacterExtents(0, pyatspi.WINDOW_COORDS)), (fx, fy, fw, fh))

        # A password field takes text and never shows it.
        password = by(nodes, pyatspi.ROLE_ENTRY, "password")
        shown = os.path.join(args.shots, "password.png")
        check(wait_for(stable, 10), "stable screenshots", False, True)
        last = shot(shown)
        password.queryEditableText().setTextContents("s3cret")
        check(wait_for(lambda: shot(shown) != last, 10), "password field redrawn", False, True)
        password.clearCache()
        t = password.queryText()
        check(t.getText(0, -1) == "", "password text", t.getText(0, -1), "")
        check(t.characterCount == 0, "password length", t.characterCount, 0)
        check(password.name == "password", "password name", password.name, "password")

        # Focus moves with grabFocus and is announced.
        name_field.queryComponent().grabFocus()
        def field_focused():
            name_field.clearCache()
            return any(e[0] == "object:state-changed:focused" and e[1] == name_field and e[2] == 1 for e in events) \
                and name_field.getState().contains(pyatspi.STATE_FOCUSED)
        check(wait_for(field_focused), "name field focused", False, True)
        primary.queryComponent().grabFocus()
        def moved():
            return any(e[0] == "object:state-changed:focused" and e[1] == name_field and e[2] == 0 for e in events) \
                and any(e[0] == "object:state-changed:focused" and e[1] == primary and e[2] == 1 for e in events)
        check(wait_for(moved), "focus moved to Primary", False, True)

        # Scrolling the list brings the next item into view.
        frame.clearCache()
        nodes = walk(frame)
        items = [n for n in nodes if n.getRole() == pyatspi.ROLE_LIST_ITEM]
        # The last visible item is cut off by the bottom of the list: scrolling
        # it into view moves the list up until all of it shows.
        last_item = items[-1]
        last_name = last_item.name
        lx, ly, lw, lh = last_item.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        # (The page has 12 px of padding at the bottom of its 600 px.)
        check(ly + lh > 600 - 12, "last item cut off", (ly, lh), "past the list's bottom")
        last_item.queryComponent().scrollTo(pyatspi.SCROLL_ANYWHERE)
        seen = []
        def scrolled():
            frame.clearCache()
            now = [n for n in walk(frame) if n.getRole() == pyatspi.ROLE_LIST_ITEM and n.name == last_name]
            if not now:
                return False
            x, y, w, h = now[0].queryComponent().getExtents(pyatspi.WINDOW_COORDS)
            seen.append((y, h))
            return y < ly and y + h <= 600 - 12
        check(wait_for(scrolled), "%s scrolled into view" % last_name, seen[-1:], "inside the list")

        # The password never travelled in any event.
        for e in events:
            check("s3cret" not in repr(e[4]), "event data", e, "no password")
        # It ends cleanly while a client is connected (the bus thread stops).
        gallery.terminate()
        try:
            code = gallery.wait(timeout=10)
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, "exit status on SIGTERM", code, 0)
        print("OK: %d nodes, %d events" % (len(got), len(events)))
        return 0
    except Failure as f:
        print("FAIL: %s" % f)
        return 1
    finally:
        if gallery.poll() is None:
            gallery.kill()
            gallery.wait()


if __name__ == "__main__":
    sys.exit(main())
