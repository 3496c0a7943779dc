# What a screen reader finds, through AT-SPI; the end-to-end test runs it against the application
# and the askpass dialog. Exits 0 when the check or the action succeeded.
#   atspi.py warm                       brings the accessibility bus up, before any application
#   atspi.py row APP HOST TITLE         the row of HOST reads as its host name and a button TITLE
#   atspi.py press APP HOST             presses HOST's button through its Press action
#   atspi.py open APP HOST              does the Open action of HOST's row
#   atspi.py one APP                    one application APP runs, with one window
#   atspi.py button APP NAME            presses APP's button NAME
#   atspi.py alert APP TEXT...          an alert of APP has a label that reads TEXT (its words
#                                       joined by spaces); then presses its OK
#   atspi.py askpass [--remember] [--refused] ANSWER|--cancel
#                                       types ANSWER into the askpass dialog, if it asks for text,
#                                       and presses OK or Connect; or presses Cancel. "Remember in
#                                       keyring" is there only with --remember, which ticks it;
#                                       "not accepted" is said only with --refused
import sys
import time

import pyatspi
from gi.repository import GLib


# An application that ends while it is read (an askpass that answered from the keyring) is not
# found yet.
def wait_for(what, find, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            found = find()
        except GLib.GError:
            found = None
        if found:
            return found
        time.sleep(0.1)
    sys.exit(f"FAIL: {what} not found within {timeout} s")


def nodes(node, depth=12):
    for child in (node.getChildAtIndex(i) for i in range(node.childCount if depth else 0)):
        if child is not None:
            yield child
            yield from nodes(child, depth - 1)


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    return wait_for(name, lambda: next((a for a in nodes(desktop, 1) if a.name == name), None))


def find(app, role, name=None):
    return next((n for n in nodes(app) if n.getRole() == role and name in (None, n.name)), None)


def row(app, host):
    item = find(app, pyatspi.ROLE_LIST_ITEM, host)
    return item and (find(item, pyatspi.ROLE_LABEL), find(item, pyatspi.ROLE_PUSH_BUTTON))


def reads(app, host, title):
    found = row(app, host)
    return found and (found[0].name, found[1].name) == (host, title)


def act(node, name):
    action = node.queryAction()
    action.doAction([action.getName(i) for i in range(action.nActions)].index(name))


def main(command, *args):
    if command == "warm":
        pyatspi.Registry.getDesktop(0).childCount
    elif command == "row":
        wait_for(f"the row of {args[1]} reading {args[2]}", lambda: reads(application(args[0]), *args[1:]))
    elif command == "press":
        act(wait_for(f"the row of {args[1]}", lambda: row(application(args[0]), args[1]))[1], "Press")
    elif command == "open":
        act(wait_for(f"the row of {args[1]}", lambda: find(application(args[0]), pyatspi.ROLE_LIST_ITEM, args[1])), "Open")
    elif command == "one":
        desktop = pyatspi.Registry.getDesktop(0)
        wait_for(f"one {args[0]} with one window", lambda: [a.childCount for a in nodes(desktop, 1) if a.name == args[0]] == [1])
    elif command == "button":
        act(wait_for(f"the button {args[1]}", lambda: find(application(args[0]), pyatspi.ROLE_PUSH_BUTTON, args[1])), "click")
    elif command == "alert":
        box = wait_for("an alert", lambda: find(application(args[0]), pyatspi.ROLE_ALERT))
        wait_for(f"a label reading {' '.join(args[1:])}", lambda: find(box, pyatspi.ROLE_LABEL, " ".join(args[1:])))
        act(find(box, pyatspi.ROLE_PUSH_BUTTON, "OK"), "Press")
    elif command == "askpass":
        *flags, answer = args
        names = ["Cancel"] if answer == "--cancel" else ["OK", "Connect"]
        app, button = wait_for("the answer", lambda: next(
            ((a, b) for a in [application("tollvane-askpass")] for name in names if (b := find(a, pyatspi.ROLE_PUSH_BUTTON, name))), None))
        shown = [n for n in nodes(app) if n.getState().contains(pyatspi.STATE_SHOWING)]
        box = next((n for n in shown if n.getRole() == pyatspi.ROLE_CHECK_BOX), None)
        if (box is not None, any("not accepted" in n.name for n in shown)) != ("--remember" in flags, "--refused" in flags):
            sys.exit(f"FAIL: the dialog reads {[n.name for n in shown]}")
        if box:
            act(box, "Toggle")
        field = find(app, pyatspi.ROLE_PASSWORD_TEXT)
        if field and answer != "--cancel":
            field.queryEditableText().setTextContents(answer)
        act(button, "Press")

main(*sys.argv[1:])
