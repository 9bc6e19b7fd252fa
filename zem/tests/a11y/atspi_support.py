"""What the screen-reader clients of the tests share: the AT-SPI bindings
(a missing one skips with exit 77), waiting on the accessibility bus,
finding an application by its id, and screenshots through grim."""
import subprocess
import sys
import time


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(77)


try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Gio, GLib
    import pyatspi
except Exception as e:  # noqa: BLE001 - any import failure means no client
    skip("pyatspi is not usable: %s" % e)


class Failure(Exception):
    pass


def wait_for(pred, timeout=15.0):
    """Runs the bus's events until `pred` holds or `timeout` seconds pass."""
    ctx = GLib.MainContext.default()
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            if pred():
                return True
        except Exception:  # noqa: BLE001 - a node may vanish between frames
            pass
        if not ctx.iteration(False):
            time.sleep(0.01)
    try:
        return bool(pred())
    except Exception:  # noqa: BLE001
        return False


def grab(path):
    """The whole screen as PNG bytes (also written to `path`), or None."""
    r = subprocess.run(["grim", path], capture_output=True)
    if r.returncode != 0:
        return None
    with open(path, "rb") as f:
        return f.read()


def set_enabled():
    """Tells toolkits that an assistive technology listens."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                  GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
                  None, Gio.DBusCallFlags.NONE, -1, None)


def find_app(app_id):
    """The application registered under `app_id`, or None."""
    desktop = pyatspi.Registry.getDesktop(0)
    desktop.clearCache()
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.name == app_id:
            return a
    return None
