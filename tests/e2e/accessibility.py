#!/usr/bin/python3
"""The installed program as a screen reader sees it (pyatspi, which Debian's own python3 has),
worked by keyboard alone through the window states below. In each state no focusable control may
lack a name, no label may label nothing, no hidden control may have the focus, and the focus must
be where the row says ("" where a message box has it). At twice the scale the windows stay on
the screen.

Usage: accessibility.py DISPLAY_FILE BUS_FILE INSTALL_DIR OUTPUT_DIR"""

import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import driver  # noqa: E402

HOME, SEARCH = "<MERIDOC   home>", "<MERIDOC SEARCH/EDIT>"
# Keys pressed ("=text" types the text, "<title>" waits for that window and activates it), and
# the name of the control that has the focus afterwards.
STATES = [
    ("the main window at start", [], "MERIDOC   TANRO"),
    ("FILE/NEW by the menu keys", ["F10", "Down", "Return"], "ENTER FILENAME"),
    ("a name typed, Enter presses OK", ["=home", "Return", "<Warning>"], ""),
    ("the default question answered Yes", ["Return", HOME], "MERIDOC   home"),
    ("NEW RECORD", ["F10", "Right", "Return", SEARCH], "NAME"),
    ("an entry typed", ["=Anna", "Tab", "=Smith", "Tab", "=555-1234", "Tab", "Tab", "=Met",
                        "Tab"], "DONE"),
    ("DONE adds it", ["Return", HOME], "MERIDOC   home"),
    ("a second entry", ["F10", "Right", "Return", SEARCH, "=Ben", "Tab", "=Adams", "Tab", "Tab",
                        "Tab", "Tab", "Return", HOME], "MERIDOC   home"),
    ("SEARCH/EDIT", ["F10", "Right", "Right", "Return"], "ENTER SEARCH STRING"),
    ("Tab back to the pad", ["shift+Tab", "shift+Tab", "shift+Tab"], "Letter pad"),
    ("Enter on the pad adds a letter", ["Return"], "Letter pad"),
    ("Enter in the search box searches", ["Tab", "Tab", "Tab", "BackSpace", "Return", SEARCH],
     "Search results"),
    ("Tab goes to PRINT, then EDIT", ["Tab", "Tab"], "EDIT"),
    ("EDIT opens the form", ["Return"], "PHONE1"),
    ("DONE before ADD/EDIT EXTRA TEXT", ["Tab", "Tab", "Tab", "Tab"], "ADD/EDIT EXTRA TEXT"),
    ("the focus goes on to the editor", ["Return"], "Extra text of Ben Adams"),
    ("SAVE & EXIT asks", ["=A neighbour", "Tab", "Return", "<Information>"], ""),
    ("Yes saves", ["Return", SEARCH], "PHONE1"),
    ("Escape leaves the form", ["Escape"], "BACK"),
    ("Enter shows the extra text", ["Tab", "Return"], "Extra text of Ben Adams"),
    ("Escape closes the viewer", ["Escape"], "PRINT"),
    ("Delete asks", ["shift+Tab", "Delete", "<Warning>"], ""),
    ("OK deletes", ["Return", SEARCH, "Return", "<Information>"], ""),  # the last one: no text
    ("so it is gone", ["Return", SEARCH], "Search results"),
    ("Escape goes back", ["Escape", HOME], "MERIDOC   home"),
    ("FILE/OPEN", ["F10", "Down", "Down", "Return"], "Card files"),
    ("Tab chooses the current file", ["Tab"], "OK"),
    ("Escape cancels", ["Escape"], "MERIDOC   home"),
    ("ABOUT", ["F10", "Left", "Down", "Down", "Return", "<ABOUT MERIDOC >"], "BACK"),
    ("Tab goes to the text", ["Tab"], "About MERIDOC"),
    ("Escape closes it", ["Escape", HOME], "MERIDOC   home"),
    ("HELP", ["F10", "Left", "Down", "Return", "<MERIDOC Help - Meridoc Help>"], "Help topics"),
    ("Escape closes the help viewer", ["Escape", HOME], "MERIDOC   home"),
]
# Then what a screen reader reads: the search box named before its text changes, a box's whole
# value, and a read-only text line by line.
READING_STATES = [
    ("a search for S", ["F10", "Right", "Right", "Return", "=S", "Return", SEARCH],
     "Search results"),
    ("back from the search", ["Escape", HOME], "MERIDOC   home"),
    ("SEARCH/EDIT after a search", ["F10", "Right", "Right", "Return"], "ENTER SEARCH STRING"),
    ("a search string typed", ["=Smi"], "ENTER SEARCH STRING"),
    ("the extra text of Anna Smith", ["Return", SEARCH, "Return"], "Extra text of Anna Smith"),
    ("Down twice", ["Down", "Down"], "Extra text of Anna Smith"),
    ("Escape twice goes back", ["Escape", "Escape", HOME], "MERIDOC   home"),
]
# Then the program started anew with a contact file: its import window beside the main window.
IMPORT_STATES = [
    ("the import window of a contact file", ["<MERIDOC IMPORT>"], "Import report"),
    ("Enter imports", ["Return"], "CLOSE"),
    ("Escape closes it", ["Escape", "<MERIDOC   HOME>"], "MERIDOC   HOME"),
]
# Parts of a control and the menus. (The toolkit marks a view's current item focused even while
# the view is not.)
PARTS = {"table cell", "list item", "column header", "menu", "menu item", "menu bar",
         "scroll bar", "filler"}


def announced(name):
    """The box `name` took the focus before its text changed, so a screen reader names it."""
    def check(obj, heard):
        order = [t for t, n, d in heard if n == name and
                 (t.startswith("object:text-changed") or (t.endswith(":focused") and d == 1))]
        if not order or not order[0].endswith(":focused"):
            return [f"\"{name}\" had {order}: its text changed before it took the focus"]
        return []
    return check


def spoken(expected):
    """The focused text's line at the caret, as a screen reader reads it: cut to the text
    attribute runs it asks for at each offset of the line, joined."""
    def check(obj, heard):
        text = obj.queryText()
        line, start, end = text.getTextAtOffset(text.caretOffset, 5)  # from line start
        runs_end, offset = start, start
        while offset < end:
            runs_end = text.getAttributeRun(offset, False)[2]
            offset = max(runs_end, offset + 1)
        read = text.getText(start, min(end, runs_end)).strip()
        return [] if read == expected else [f"\"{obj.name}\" reads \"{read}\", not \"{expected}\""]
    return check


CHECKS = {
    "SEARCH/EDIT after a search": announced("ENTER SEARCH STRING"),
    "a search string typed": spoken("Smi"),
    "Down twice": spoken("Call after six."),
}


class Heard:
    """The focus and text events the program sends, in order, as (type, source name, detail)."""

    def __init__(self, pyatspi):
        from gi.repository import GLib
        self.context, self.events = GLib.MainContext.default(), []
        pyatspi.Registry.registerEventListener(self.note, "object:state-changed:focused",
                                               "object:text-changed")

    def note(self, event):
        try:
            name = event.source.name
        except Exception:
            name = None
        self.events.append((event.type, name, event.detail1))

    def since_last(self):
        while self.context.iteration(False):
            pass
        events, self.events = self.events, []
        return events


def focused_object(pyatspi):
    for app in pyatspi.Registry.getDesktop(0):
        for obj in (o for w in (app or []) if w is not None for o in walk(w)):
            if obj.getState().contains(pyatspi.STATE_FOCUSED) and obj.getRoleName() not in PARTS:
                return obj
    return None


def walk(obj):
    yield obj
    for child in (obj.getChildAtIndex(i) for i in range(obj.childCount)):
        if child is not None:
            yield from walk(child)


def problems_and_focus(pyatspi):
    problems, focused = [], None
    apps = [a for a in pyatspi.Registry.getDesktop(0)
            if a is not None and a.name in ("MERIDOC", "txtview")]
    for frame in (w for a in apps for w in a if w is not None and w.getRoleName() != "alert"):
        if frame.getRoleName() not in ("frame", "dialog"):
            problems.append(f"the window \"{frame.name}\" is a {frame.getRoleName()}")
        for obj in walk(frame):
            states, role, name = obj.getState(), obj.getRoleName(), obj.name or ""
            showing = states.contains(pyatspi.STATE_SHOWING)
            if states.contains(pyatspi.STATE_FOCUSED) and role not in PARTS:
                focused = name
                if not showing:
                    problems.append(f"focus on the hidden {role} \"{name}\"")
            if not showing or role in PARTS:
                continue
            if states.contains(pyatspi.STATE_FOCUSABLE) and not name.strip():
                problems.append(f"a focusable {role} without a name")
            relations = [r.getRelationType() for r in obj.getRelationSet()]
            if role == "label" and not name.startswith("Clock") and \
                    pyatspi.RELATION_LABEL_FOR not in relations:
                problems.append(f"the label \"{name}\" labels nothing")
    return (problems, focused) if apps else None


def press(display, keys):
    for k in keys:
        if k.startswith("<"):
            display.activate(display.wait_window(k[1:-1]))
        elif k.startswith("="):
            display.type(k[1:])
        else:
            display.key(k)
    time.sleep(0.4)


def main():
    with open(sys.argv[1]) as f:
        display = driver.Display(json.load(f)["display"])
    with open(sys.argv[2]) as f:
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = json.load(f)["address"]
    import pyatspi  # on that bus

    display.env.update(DBUS_SESSION_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"],
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    s = driver.Scenario("accessibility", display, sys.argv[3], sys.argv[4] + "/accessibility")
    p = s.program
    heard = Heard(pyatspi)
    try:
        p.start()
        display.activate(p.main_window("TANRO"))
        for title, keys, focus in STATES + READING_STATES + IMPORT_STATES:
            if title == READING_STATES[0][0]:
                with open(p.path("AnnaSmith"), "w") as f:
                    f.write("{\\rtf1 Met at the station.\\par Likes tea.\\par Call after six.}")
            if title == IMPORT_STATES[0][0]:
                with open(p.path("carl.vcf"), "w") as f:
                    f.write("BEGIN:VCARD\nVERSION:3.0\nN:Clark;Carl;;;\nEND:VCARD\n")
                p.start([p.path("carl.vcf")])
            with s.step(title):
                press(display, keys)
                problems, focused = display.wait_for(
                    "the program on the accessibility bus", lambda: problems_and_focus(pyatspi))
                if focus and focused != focus:
                    problems.append(f"the focus is on \"{focused}\", not on \"{focus}\"")
                events = heard.since_last()
                if title in CHECKS and not problems:
                    problems += CHECKS[title](focused_object(pyatspi), events)
                if problems:
                    raise driver.StepFailed("; ".join(problems))
        with s.step("at twice the scale the help viewer and the search window fit the screen"):
            p.stop()
            display.env["QT_SCALE_FACTOR"] = "2"
            p.start()
            home = "<" + display.title(p.main_window()) + ">"
            for keys in ([home, "F10", "Left", "Down", "Return", "<MERIDOC Help - Meridoc Help>"],
                         ["Escape", home, "F10", "Right", "Right", "Return", "Return", SEARCH]):
                press(display, keys)
                window = display.wait_window(keys[-1][1:-1])
                # The window is fitted once the window manager has placed it: give it that time.
                def on_screen():
                    x, y, w, h = display.geometry(window)
                    return x >= 0 and y >= 0 and x + w <= 1280 and y + h <= 1024
                try:
                    display.wait_for(f"{keys[-1]} on screen", on_screen, timeout=15)
                except driver.StepFailed:
                    x, y, w, h = display.geometry(window)
                    raise driver.StepFailed(f"{keys[-1]} lies at {x},{y} {w}x{h}, off screen")
    except Exception:
        import traceback
        traceback.print_exc()
        return 1
    finally:
        s.finish()
    print("accessibility test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
