"""A screen reader's view of the host window, through AT-SPI: each row reads as its host name and
its button's title, and the button can be pressed from here. Usage: accessibility.py HOST_PROGRAM"""
import os
import subprocess
import sys
import time

import pyatspi


def fail(message):
    sys.exit(f"FAIL: {message}")


def wait_for(what, find, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    fail(f"{what} not found within {timeout:.0f} s")


def descendants(node, depth=0):
    for i in range(node.childCount if depth < 12 else 0):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield child
            yield from descendants(child, depth + 1)


def first(nodes, role, name):
    return next((n for n in nodes if n is not None and n.getRole() == role and n.name == name),
                None)


def row(app, host):
    """The list item of a host: (item, label, button), or None."""
    for node in descendants(app):
        if node.getRole() == pyatspi.ROLE_LIST_ITEM and node.name == host:
            parts = {child.getRole(): child for child in descendants(node)}
            label, button = parts.get(pyatspi.ROLE_LABEL), parts.get(pyatspi.ROLE_PUSH_BUTTON)
            if label is not None and button is not None:
                return node, label, button
    return None


def busy_button(app, host):
    found = row(app, host)
    return found[2] if found and found[2].name == "..." else None


def main():
    # The accessibility bus and its registry come up on first use: have them up before the
    # application looks for them, or it may find none and stay off the bus.
    desktop = pyatspi.Registry.getDesktop(0)
    desktop.childCount
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1")
    host = subprocess.Popen([sys.argv[1]], env=env)
    try:
        app = wait_for("the application on the accessibility bus", lambda: first(
            (desktop.getChildAtIndex(i) for i in range(desktop.childCount)),
            pyatspi.ROLE_APPLICATION, "tollvane-accessibility-host"))
        table = wait_for("the host list",
                         lambda: first(descendants(app), pyatspi.ROLE_LIST, "Hosts"))
        items = [table.getChildAtIndex(i).name for i in range(table.childCount)]
        if items != ["alpha", "beta"]:
            fail(f"the list reads {items}")
        item, label, button = wait_for("the row of alpha", lambda: row(app, "alpha"))
        if item.parent != table:
            fail("the row of alpha is not a child of the host list")
        if (label.name, button.name) != ("alpha", "Mount"):
            fail(f"the row of alpha reads {label.name!r}, {button.name!r}")
        action = button.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if "Press" not in names:
            fail(f"the button offers no Press action, only {names}")
        action.doAction(names.index("Press"))

        pressed = wait_for('the busy "..." title after the press', lambda: busy_button(app, "alpha"))
        if pressed.getState().contains(pyatspi.STATE_ENABLED):
            fail("the busy button is still enabled")
        if row(app, "beta")[2].name != "Mount":
            fail("the press reached the row of beta too")
        print("PASS: rows read as host and title; Press on alpha's Mount made it busy")
    finally:
        host.terminate()
        host.wait(10)


if __name__ == "__main__":
    main()
