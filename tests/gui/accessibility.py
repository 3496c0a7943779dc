"""A screen reader's view of the host window, through AT-SPI: each row reads as its host name and
its button's title, and the button can be pressed from here. Usage: accessibility.py HOST_PROGRAM"""
import os
import subprocess
import sys
import time

import pyatspi

APP_NAME = "tollvane-accessibility-host"


def wait_for(what, find, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    sys.exit(f"FAIL: {what} not found within {timeout:.0f} s; the bus knows "
             f"{[a.name if a is not None else None for a in apps]}")


def descendants(node, depth=0):
    for i in range(node.childCount if depth < 12 else 0):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield child
            yield from descendants(child, depth + 1)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == APP_NAME:
            return app
    return None


def row(app, host):
    """The list item of a host: (item, label, button), or None."""
    for node in descendants(app):
        if node.getRole() != pyatspi.ROLE_LIST_ITEM or node.name != host:
            continue
        parts = {child.getRole(): child for child in descendants(node)}
        label, button = parts.get(pyatspi.ROLE_LABEL), parts.get(pyatspi.ROLE_PUSH_BUTTON)
        if label is not None and button is not None:
            return node, label, button
    return None


def press(button):
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        sys.exit(f"FAIL: the button offers no Press action, only {names}")
    action.doAction(names.index("Press"))


def main():
    # The accessibility bus and its registry come up on first use: have them up before the
    # application looks for them, or it may find none and stay off the bus.
    pyatspi.Registry.getDesktop(0).childCount
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1")
    host = subprocess.Popen([sys.argv[1]], env=env)
    try:
        app = wait_for("the application on the accessibility bus", application)
        table = wait_for("the host list", lambda: next(
            (n for n in descendants(app) if n.getRole() == pyatspi.ROLE_LIST and n.name == "Hosts"),
            None))
        items = [table.getChildAtIndex(i).name for i in range(table.childCount)]
        if items != ["alpha", "beta"]:
            sys.exit(f"FAIL: the list reads {items}")
        item, label, button = wait_for("the row of alpha", lambda: row(app, "alpha"))
        if item.parent != table:
            sys.exit("FAIL: the row of alpha is not a child of the host list")
        if (label.name, button.name) != ("alpha", "Mount"):
            sys.exit(f"FAIL: the row of alpha reads {label.name!r}, {button.name!r}")
        press(button)

        def busy():
            found = row(app, "alpha")
            if found and found[2].name == "...":
                return found[2]
            return None

        pressed = wait_for('the busy "..." title after the press', busy)
        if pressed.getState().contains(pyatspi.STATE_ENABLED):
            sys.exit('FAIL: the busy button is still enabled')
        if row(app, "beta")[2].name != "Mount":
            sys.exit("FAIL: the press reached the row of beta too")
        print("PASS: rows read as host and title; Press on alpha's Mount made it busy")
    finally:
        host.terminate()
        host.wait(10)


if __name__ == "__main__":
    main()
