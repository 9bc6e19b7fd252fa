#!/usr/bin/python3
"""The disk page of the real wizard, driven by taps, under a compositor the
caller started: the target is chosen, each dialog of the page is opened and
dismissed with its cancel button and with Escape, and after each dismissal
the screen must be the page exactly as it was before the dialog opened.

sway has no virtual touch device: a tap is a click of the virtual pointer
(`--pointer`, zem-test-pointer), which the toolkit takes through the same
press and release as a touch. Controls and texts are found through the
accessibility tree (AT-SPI), as the install walk (wizard_walk.py) finds
them; screenshots go to `--shots`.

The wizard must list one disk, `--disk`, a GPT disk holding an ext4
partition, a partition without a file system, then free space. Run inside a
private session bus (dbus-run-session) with XDG_RUNTIME_DIR and
WAYLAND_DISPLAY set; the wizard's command line follows "--". Exit 0 on
success, 1 on a failure ("FAIL: ..."), 77 when something this needs is
missing.
"""
import argparse
import json
import os
import signal
import subprocess
import sys

# The walk's helpers, imported without leaving compiled files in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wizard_walk import ACCOUNT, APP_ID, LANGUAGE, POINTER, Failure, Pointer, Walker, extents, find_app, grab, inside, \
    key, pyatspi, set_enabled, wait_for  # noqa: E402

# --- what is done on the page, as data --------------------------------------
#
# A row is named by the first text it shows: the disk by its label, a
# partition or a gap by its row label. An icon button of a row is ("icon",
# row, n): the n-th of the row's icon buttons from the left (a partition
# shows resize then delete; a gap shows add).

PART1 = "Partition 1 (ext4)"
PART2 = "Partition 2"

# Each dialog: its name (for the screenshots), the controls that open it, the
# texts it must show (its title first), the texts it must not show, whether
# its slider is moved before it is dismissed, and its cancel button.
DIALOGS = [
    ("install-confirm", [("button", "common.continue")], [("disk.install_confirm_title", {"target": "TARGET"}),
                                                          ("disk.install_confirm_subtitle", {})],
     [], False, "disk.dialog_cancel"),
    # A resize of a file system the tools know: no warning; moving the
    # slider shows the change, and cancelling stages nothing.
    ("resize-ext4", [("icon", PART1, 0)], [("disk.resize_title", {}), ("disk.resize_subtitle", {})],
     [("disk.resize_unknown_fs_warning", {})], True, "disk.dialog_cancel"),
    # A partition without a file system: the dialog warns.
    ("resize-unknown", [("icon", PART2, 0)], [("disk.resize_title", {}), ("disk.resize_unknown_fs_warning", {})],
     [], True, "disk.dialog_cancel"),
    ("add", [("icon", "disk.free_space", 0)], [("disk.add_title", {}), ("disk.add_subtitle", {})],
     [], True, "disk.dialog_cancel"),
]

# Over staged operations: the apply confirmation lists them.
STAGED_DIALOGS = [
    ("apply-confirm", [("button", "disk.apply")], [("disk.confirm_title", {}), ("disk.op_delete", {"num": "2", "disk": "DISK"})],
     [], False, "disk.confirm_no"),
]

DISMISSALS = ["cancel", "escape"]


def fill(text, values):
    for k, v in values.items():
        text = text.replace("%{" + k + "}", v)
    return text


class DiskPage:
    def __init__(self, walker, pointer, disk_label):
        self.w = walker
        self.pointer = pointer
        self.disk_label = disk_label
        self.target = None

    def text(self, entry):
        key_name, values = entry
        subst = {k: {"TARGET": self.target or "", "DISK": self.disk_label}.get(v, v) for k, v in values.items()}
        return fill(self.w.text(key_name), subst)

    def nodes(self):
        return self.w.nodes()

    def labels(self):
        return self.w.labels()

    # Pressable areas with texts inside: the disk row, partition and gap
    # rows (and the header's back control, left out). Each as (node, texts).
    def rows(self):
        nodes = self.nodes()
        buttons = [n for n in nodes if n.getRole() == pyatspi.ROLE_PUSH_BUTTON]
        labels = [n for n in nodes if n.getRole() == pyatspi.ROLE_LABEL]
        out = []
        for b in buttons:
            if b.name:
                continue
            texts = [l.name for l in labels if inside(extents(l), extents(b))]
            if texts and self.w.text("common.back") not in texts:
                out.append((b, texts))
        return out

    def row(self, name):
        want = self.w.text(name)
        for node, texts in self.rows():
            if texts[0] == want:
                return node
        raise Failure("no row %r among %r" % (want, [t for _, t in self.rows()]))

    # The buttons drawn inside a row that show no text: its icon buttons
    # (named only by their tooltips), left to right.
    def icons(self, name):
        row = extents(self.row(name))
        nodes = self.nodes()
        labels = [n for n in nodes if n.getRole() == pyatspi.ROLE_LABEL]
        icons = []
        for n in nodes:
            if n.getRole() != pyatspi.ROLE_PUSH_BUTTON:
                continue
            e = extents(n)
            if e != row and inside(e, row) and not any(inside(extents(l), e) for l in labels):
                icons.append(n)
        return sorted(icons, key=lambda n: extents(n)[0])

    def tap_node(self, node):
        x, y, w, h = extents(node)
        self.pointer.send("click %d %d" % (x + w // 2, y + h // 2))
        self.pointer.send("move 0 0")

    def press(self, wanted):
        if wanted[0] == "icon":
            _, name, n = wanted

            def ready():
                return len(self.icons(name)) > n
            if not wait_for(ready, 15):
                raise Failure("row %r has no icon button %d (it has %d)" % (name, n, len(self.icons(name))))
            self.tap_node(self.icons(name)[n])
            return
        if wanted[0] == "row":
            self.tap_node(self.row(wanted[1]))
            return
        self.w.press(tuple(wanted) + (POINTER,))

    def shows(self, entry):
        return self.text(entry) in self.labels()

    def enabled(self, key_name):
        for n in self.nodes():
            if n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == self.w.text(key_name):
                n.clearCache()
                return n.getState().contains(pyatspi.STATE_ENABLED)
        return None

    def slider(self):
        for n in self.nodes():
            if n.getRole() == pyatspi.ROLE_SLIDER:
                return n
        raise Failure("no slider among %r" % self.labels())

    # Drags the slider's knob from where its value puts it to near the
    # track's start or end, whichever is farther; the texts under it change.
    def move_slider(self):
        node = self.slider()
        x, y, w, h = extents(node)
        try:
            v = node.queryValue()
            frac = (v.currentValue - v.minimumValue) / ((v.maximumValue - v.minimumValue) or 1)
        except Exception:  # noqa: BLE001 - a slider without the Value interface
            frac = 0.5
        before = sorted(self.labels())
        start = x + int(frac * w)
        end = x + (w // 10 if frac > 0.5 else w - w // 10)
        self.pointer.send("drag %d %d %d %d" % (start, y + h // 2, end, y + h // 2))
        self.pointer.send("move 0 0")
        if not wait_for(lambda: sorted(self.labels()) != before, 15):
            raise Failure("dragging the slider from %d to %d changed no text: %r" % (start, end, before))


def same_screen(w, name, expected):
    img = w.shot(name)
    if img != expected:
        raise Failure("the page differs from before in %s (see %s)" % (name, w.shots))


def dismiss(page, w, how, title, cancel):
    # A key or tap that did not land (the first key of a new wtype can be
    # lost) is sent once more while the dialog is still there.
    for attempt in range(2):
        if how == "cancel":
            page.press(("button", cancel))
        else:
            key("Escape")
        if wait_for(lambda: not page.shows(title), 10 if attempt == 0 else 20):
            return
    raise Failure("%s did not dismiss %r; labels: %r" % (how, page.text(title), page.labels()))


def run_dialogs(page, w, dialogs, baseline, staged):
    for name, opening, must, must_not, slide, cancel in dialogs:
        for how in DISMISSALS:
            for c in opening:
                page.press(c)
            if not wait_for(lambda: page.shows(must[0]), 15):
                raise Failure("%s never opened: no %r among %r" % (name, page.text(must[0]), page.labels()))
            missing = [page.text(t) for t in must if not page.shows(t)]
            if missing:
                raise Failure("%s lacks %r; labels: %r" % (name, missing, page.labels()))
            shown = [page.text(t) for t in must_not if page.shows(t)]
            if shown:
                raise Failure("%s shows %r" % (name, shown))
            if slide:
                page.move_slider()
            w.shot("%s-%s" % (name, how))
            dismiss(page, w, how, must[0], cancel)
            # Nothing staged, nothing lost: the page as before, the action
            # row's buttons included.
            if staged:
                if page.enabled("disk.apply") is None:
                    raise Failure("dismissing %s dropped the staged operations" % name)
            elif page.enabled("common.continue") is not True:
                raise Failure("after dismissing %s, Continue is not there to press: %r" % (name, page.labels()))
            same_screen(w, "%s-%s-dismissed" % (name, how), baseline)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--texts", required=True, help="the English catalogue (locales/en.json)")
    ap.add_argument("--shots", required=True)
    ap.add_argument("--pointer", required=True, help="zem-test-pointer")
    ap.add_argument("--disk", required=True, help="the one disk the wizard lists")
    ap.add_argument("wizard", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.wizard[1:] if args.wizard[:1] == ["--"] else args.wizard
    with open(args.texts, encoding="utf-8") as f:
        texts = json.load(f)
    os.makedirs(args.shots, exist_ok=True)

    # A keyboard held for the whole run, so the wizard holds the seat's
    # keyboard before the first Escape.
    holder = subprocess.Popen(["wtype", "-s", "600000", "-k", "Shift_L"])
    pointer = None
    wizard = None
    try:
        pointer = Pointer(args.pointer)
        pointer.send("move 0 0")
        empty = grab(os.path.join(args.shots, "00-empty.png"))
        if empty is None:
            print("SKIP: grim cannot take screenshots of the compositor", flush=True)
            return 77
        set_enabled()
        wizard = subprocess.Popen(command)
        return run(wizard, Walker(texts, args.shots, pointer), pointer, args, empty)
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


def run(wizard, w, pointer, args, empty):
    if not wait_for(lambda: wizard.poll() is None and grab(os.path.join(args.shots, "00-empty.png"))
                    not in (None, empty), 20):
        raise Failure("the wizard's window never showed (status %r)" % wizard.poll())

    def appeared():
        w.app = find_app(APP_ID)
        return w.app is not None and w.app.childCount > 0
    if not wait_for(appeared, 20):
        raise Failure("the wizard never appeared on the accessibility bus")

    # To the disk page, by taps.
    for page_key, control in [(LANGUAGE, ("button-text", "English", POINTER)),
                              ("welcome.title", ("button", "welcome.cta", POINTER))]:
        w.arrive(page_key, 30)
        w.press(control)
    w.arrive("disk.title", 30)

    disk_label = "Loop " + os.path.basename(args.disk)
    page = DiskPage(w, pointer, disk_label)
    want_rows = [disk_label, PART1, PART2, w.text("disk.free_space")]
    if not wait_for(lambda: [t[0] for _, t in page.rows()] == want_rows, 15):
        raise Failure("the page lists %r, not %r" % ([t for _, t in page.rows()], want_rows))
    if page.enabled("common.continue") is not False:
        raise Failure("Continue can be pressed before a target is chosen")
    nothing_chosen = w.shot("disk-nothing-chosen")

    # The target, by a tap on its row.
    page.press(("row", PART1))
    if not wait_for(lambda: page.enabled("common.continue") is True, 15):
        raise Failure("tapping %r chose no target" % PART1)
    page.target = disk_label + " \u2014 " + PART1
    chosen = w.shot("disk-target-chosen")
    if chosen == nothing_chosen:
        raise Failure("the chosen row is not highlighted")
    run_dialogs(page, w, DIALOGS, chosen, staged=False)

    # A staged delete: the action row offers Discard and Apply, and the apply
    # confirmation lists the operation.
    page.press(("icon", PART2, 1))
    if not wait_for(lambda: page.enabled("disk.apply") is True, 15):
        raise Failure("the delete staged nothing: %r" % page.labels())
    staged = w.shot("disk-delete-staged")
    run_dialogs(page, w, STAGED_DIALOGS, staged, staged=True)
    page.press(("button", "disk.discard"))
    if not wait_for(lambda: page.enabled("common.continue") is True, 15):
        raise Failure("Discard left operations staged: %r" % page.labels())
    same_screen(w, "disk-discarded", chosen)

    # Applied in test mode: simulated, so the rows the disks give again are
    # the same and the target stays.
    page.press(("icon", PART2, 1))
    if not wait_for(lambda: page.enabled("disk.apply") is True, 15):
        raise Failure("the delete staged nothing: %r" % page.labels())
    page.press(("button", "disk.apply"))
    if not wait_for(lambda: page.shows(("disk.confirm_title", {})), 15):
        raise Failure("Apply asked for no confirmation: %r" % page.labels())
    page.press(("button", "disk.confirm_yes"))
    if not wait_for(lambda: page.enabled("common.continue") is True and not page.shows(("disk.applying", {})), 30):
        raise Failure("the simulated apply did not end: %r" % page.labels())
    same_screen(w, "disk-applied", chosen)

    # The error dialog: the plan check refuses a target far smaller than the
    # running system, which brings the disk page back with its reason once
    # the account page is left. Dismissed, the page is as it was: the target
    # is still there.
    error = ("disk.error_title", {})
    for how in DISMISSALS:
        page.press(("button", "common.continue"))
        if not wait_for(lambda: page.shows(DIALOGS[0][2][0]), 15):
            raise Failure("Continue asked for no confirmation: %r" % page.labels())
        page.press(("button", "disk.dialog_accept"))
        w.arrive("account.title", 30)
        # The fields keep what was typed the first time.
        for c in ACCOUNT if how == DISMISSALS[0] else ACCOUNT[-1:]:
            w.press(c if c[0] == "type" else tuple(c) + (POINTER,))
        if not wait_for(lambda: page.shows(error), 30):
            raise Failure("the plan check did not refuse a %s target: %r" % (PART1, page.labels()))
        refusal = fill(w.text("error.target_too_small"), {}).split("%{")[0]
        if not any(l.startswith(refusal) for l in page.labels()):
            raise Failure("the error dialog does not give the plan check's reason %r: %r" % (refusal, page.labels()))
        w.shot("error-%s" % how)
        dismiss(page, w, how, error, "disk.error_dismiss")
        if page.enabled("common.continue") is not True:
            raise Failure("after the error, the target is gone: %r" % page.labels())
        same_screen(w, "error-%s-dismissed" % how, chosen)

    if wizard.poll() is not None:
        raise Failure("the wizard ended on its own (status %r)" % wizard.poll())
    wizard.send_signal(signal.SIGTERM)
    try:
        code = wizard.wait(timeout=15)
    except subprocess.TimeoutExpired:
        code = None
    if code != 0:
        raise Failure("exit status on SIGTERM: %r" % code)
    print("OK: the disk page, its dialogs and their screenshots in %s" % w.shots)
    return 0


if __name__ == "__main__":
    sys.exit(main())
