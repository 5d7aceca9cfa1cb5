#!/usr/bin/env python3
"""End-to-end scenarios: each starts the installed program from a fresh program folder on the
test display, works it with pointer and keyboard, and checks window titles and the files on disk
after each step.

Usage: scenarios.py NAME DISPLAY_FILE INSTALL_DIR OUTPUT_DIR"""

import glob
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import driver  # noqa: E402
import files  # noqa: E402

ANNA = ("Anna", "Smith", "555-1234", "555-9876", "Met at the spring fair")
BEN = ("Ben", "Adams", "555-2000", "", "Neighbour")
NORMAL_WIDTH, FORM_WIDTH, CLOSED_TEXT_WIDTH = 578, 380, 570


def expect(actual, expected, what):
    if actual != expected:
        raise AssertionError(f"{what}: expected {expected!r}, got {actual!r}")


def expect_records(s, base_name, expected):
    path = files.find(s.folder, base_name + ".crd")
    if path is None:
        raise AssertionError(f"no card file {base_name}.crd in {sorted(os.listdir(s.folder))}")
    expect(files.records(path), expected, f"entries of {os.path.basename(path)}")


def wait_records(s, base_name, expected):
    """Waits until the card file holds `expected`: a click returns before the program has
    handled it. Fails with the file's actual entries when it does not get there."""
    def probe():
        path = files.find(s.folder, base_name + ".crd")
        try:
            return path and files.records(path) == expected
        except AssertionError:
            return False
    try:
        s.display.wait_for(f"{base_name}.crd to hold {expected}", probe, timeout=5)
    except AssertionError:
        expect_records(s, base_name, expected)


def wait_width(s, width, what):
    s.display.wait_for(f"the search/edit window to be {width} wide ({what})",
                       lambda: s.program.search_width() == width, timeout=5)


def no_box_appears(s, seconds=1.0):
    time.sleep(seconds)
    s.program.no_box()


def start(s, caption_name):
    s.program.start()
    s.program.main_window(caption_name, timeout=20)
    s.program.no_box()


def search(s, letters, by_name=False):
    """SEARCH/EDIT, the letters on the pad, START SEARCH: the search/edit window with results."""
    p = s.program
    p.menu("SEARCH/EDIT")
    if by_name:
        p.click_main("by_name")
    p.pad_letters(letters)
    p.click_main("start_search")
    p.search_window()
    s.display.wait_for("the main window to hide",
                       lambda: not [t for t in s.display.visible_titles()
                                    if t.startswith(driver.MAIN_TITLE)], timeout=5)
    wait_width(s, NORMAL_WIDTH, "results view")


def add_entry(s, entry, caption, with_enter=False):
    """NEW RECORD, the five fields, DONE: back in the main window. The fields are chosen with
    the pointer (empty ones left alone), or `with_enter` by Enter from one box to the next."""
    p = s.program
    p.menu("NEW RECORD")
    p.search_window()
    wait_width(s, FORM_WIDTH, "add form")
    if with_enter:
        p.click_search("name")
        for i, text in enumerate(entry):
            s.display.type(text)
            if i < len(entry) - 1:
                s.display.key("Return")
    else:
        for control, text in zip(("name", "surname", "phone1", "phone2", "comments"), entry):
            if text:
                p.type_into(control, text)
    p.click_search("done")
    p.main_window(caption)
    s.display.wait_gone(driver.SEARCH_TITLE)


def edit_selected(s, control, text):
    """EDIT on the selected row, a new text for one box, DONE: back in the results view."""
    p = s.program
    p.click_search("edit")
    wait_width(s, FORM_WIDTH, "edit form")
    p.type_into(control, text)
    p.click_search("done")
    wait_width(s, NORMAL_WIDTH, "results after DONE")


def file_name_command(s, command, name, box=None):
    """FILE / NEW, SAVE AS or RENAME with a base name; `box` is (title, answer) of the question
    that follows OK, if any."""
    p = s.program
    p.menu("FILE", command)
    p.enter_file_name(name)
    p.click_main("ok")
    if box:
        p.answer(box[0], box[1], ["Yes", "No"])


def prepare_home(s, entries, extra_texts=()):
    """A program folder whose default card file "home" holds the entries."""
    files.write_records(os.path.join(s.folder, "home.crd"), entries)
    files.write_ini(s.folder, "home")
    for name in extra_texts:
        with open(os.path.join(s.folder, name), "wb") as f:
            f.write(b"{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Sans;}}\\f0 Old note\\par\n}")


# 1. First start in an empty program folder.
def first_start(s):
    with s.step("start the program in a folder holding only the program"):
        expect(sorted(os.listdir(s.folder)),
               ["meridoc", "meridoc-cards", "meridoc-cards.1", "meridoc-help.txt", "readme.txt",
                "txtview.exe"], "program folder")
        start(s, "TANRO")
    with s.step('the caption is "MERIDOC   TANRO"'):
        expect(s.program.main_caption(), "MERIDOC   TANRO", "main window caption")
    with s.step('"tanro.crd" holds exactly the seed entry'):
        expect(os.path.isfile(s.program.path("tanro.crd")), True, "tanro.crd exists")
        expect(os.path.getsize(s.program.path("tanro.crd")), files.RECORD_SIZE, "size")
        expect(files.records(s.program.path("tanro.crd")), [files.SEED], "entries")
    with s.step('"meridoc.ini" holds the five default lines'):
        with open(s.program.path("meridoc.ini"), "rb") as f:
            expect(f.read(), files.DEFAULT_INI, "meridoc.ini bytes")
        expect(sorted(os.listdir(s.folder)),
               ["meridoc", "meridoc-cards", "meridoc-cards.1", "meridoc-help.txt", "meridoc.ini",
                "readme.txt", "tanro.crd", "txtview.exe"], "program folder after start")
    with s.step("the clock shows the time and keeps it current"):
        first = s.program.clock_pixels()
        s.display.wait_for("the clock to change", lambda: s.program.clock_pixels() != first,
                           timeout=3)
    with s.step("FILE / EXIT ends the program and leaves the files"):
        s.program.menu("FILE", "EXIT")
        s.program.wait_exit()
        expect(files.records(s.program.path("tanro.crd")), [files.SEED], "tanro.crd entries")


# 2. A new card file, a new entry, a search and an edit.
def new_record_and_edit(s):
    p = s.program
    with s.step("start"):
        start(s, "TANRO")
    with s.step('NEW RECORD on the seed card file is refused'):
        p.menu("NEW RECORD")
        p.answer("Information", "OK", ["OK"])
        expect(s.display.windows(driver.SEARCH_TITLE), [], "search/edit windows")
        p.main_window("TANRO")
    with s.step('FILE / NEW "home", answering the default question with Yes'):
        file_name_command(s, "NEW", "home", ("Warning", "Yes"))
        p.main_window("home")
        expect_records(s, "home", [files.SEED])
        expect(files.ini_value(s.folder, "defaultfile"), "home", "defaultfile")
    with s.step("NEW RECORD Anna Smith with phones and a comment, DONE"):
        add_entry(s, ANNA, "home")
        wait_records(s, "home", [ANNA, files.SEED])
    with s.step("SEARCH/EDIT, S, START SEARCH lists the entries"):
        search(s, "S")
        p.no_box()
    with s.step("EDIT the first row, change PHONE1, DONE"):
        p.click_row(1)
        edit_selected(s, "phone1", "555-4321")
        changed = (ANNA[0], ANNA[1], "555-4321") + ANNA[3:]
        wait_records(s, "home", [changed, files.SEED])
        p.no_box()
    with s.step("EDIT and DONE without a change writes nothing"):
        before = os.stat(files.find(s.folder, "home.crd"))
        p.click_search("edit")
        wait_width(s, FORM_WIDTH, "edit form")
        p.click_search("done")
        wait_width(s, NORMAL_WIDTH, "results after DONE")
        after = os.stat(files.find(s.folder, "home.crd"))
        expect((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns),
               "card file untouched")
    with s.step("closing the search/edit window by its frame brings the main window back"):
        s.display.activate(p.search_window())
        s.display.key("alt+F4")
        s.display.wait_gone(driver.SEARCH_TITLE)
        p.main_window("home")
    with s.step("NEW RECORD Ben Adams sorts before the others"):
        add_entry(s, BEN, "home")
        wait_records(s, "home", [BEN, changed, files.SEED])


# 3. Extra text: written in the editor, shown in the viewer.
def extra_text(s):
    p = s.program
    with s.step("start on the card file home holding Anna Smith"):
        prepare_home(s, [ANNA, files.SEED])
        start(s, "HOME")
    with s.step("a double click on a row without extra text says so"):
        search(s, "S")
        p.click_row(1, repeat=2)
        p.answer("Information", "OK", ["OK"])
        wait_width(s, NORMAL_WIDTH, "no viewer")
    with s.step("EDIT, ADD/EDIT EXTRA TEXT, type a line, SAVE & EXIT answered No"):
        p.click_search("edit")
        wait_width(s, FORM_WIDTH, "edit form")
        p.click_search("extra_text")
        editor = p.search_window()
        shown = s.display.copy_text(editor, *driver.centre(driver.SEARCH["editor"]))
        expect(shown.strip(), "Put extra text here", "text in the editor")
        p.display.key("Delete")
        p.display.type("Likes green tea")
        p.click_search("save_exit")
        p.answer("Information", "No", ["Yes", "No"])
        no_box_appears(s, 0.5)
        expect(files.find(s.folder, "AnnaSmith"), None, "extra-text file after No")
    with s.step("SAVE & EXIT answered Yes writes AnnaSmith as RTF"):
        p.click_search("save_exit")
        p.answer("Information", "Yes", ["Yes", "No"])
        path = s.display.wait_for("the file AnnaSmith",
                                  lambda: files.find(s.folder, "AnnaSmith"), timeout=5)
        expect(os.path.basename(path), "AnnaSmith", "extra-text file name")
        text = files.rtf_text(path)
        if "Likes green tea" not in text or "Put extra text here" in text:
            raise AssertionError(f"AnnaSmith holds {text!r}")
        expect_records(s, "home", [ANNA, files.SEED])
    with s.step("CANCEL the entry form, BACK"):
        p.click_search("cancel_form")
        wait_width(s, NORMAL_WIDTH, "results view")
        p.click_search("back")
        p.main_window("HOME")
    with s.step("search again and double click the row: the viewer opens"):
        search(s, "S")
        p.click_row(1, repeat=2)
        wait_width(s, FORM_WIDTH, "viewer open")
        no_box_appears(s, 0.5)
        viewer = p.search_window()
        shown = s.display.copy_text(viewer, *driver.centre(driver.SEARCH["viewer"]))
        expect(shown.strip(), "Likes green tea", "text in the viewer")
        s.display.type("typed")
        shown = s.display.copy_text(viewer, *driver.centre(driver.SEARCH["viewer"]))
        expect(shown.strip(), "Likes green tea", "text in the viewer after typing")
    with s.step("CLOSE TEXT"):
        p.click_search("close_text")
        wait_width(s, CLOSED_TEXT_WIDTH, "viewer closed")
    with s.step("the editor opens on the saved text; CANCEL & EXIT leaves the file"):
        before = open(path, "rb").read()
        p.click_row(1)
        p.click_search("edit")
        wait_width(s, FORM_WIDTH, "edit form")
        p.click_search("extra_text")
        shown = s.display.copy_text(p.search_window(), *driver.centre(driver.SEARCH["editor"]))
        expect(shown.strip(), "Likes green tea", "text in the editor")
        p.display.key("ctrl+End")
        p.display.type(" and cake")
        p.click_search("cancel_exit")
        p.answer("Information", "Yes", ["Yes", "No"])
        no_box_appears(s, 0.5)
        expect(open(path, "rb").read(), before, "AnnaSmith after CANCEL & EXIT")


# 4. Deleting an entry with a right click.
def delete_entry(s):
    p = s.program
    with s.step("start on home holding Anna Smith, with her extra text"):
        prepare_home(s, [ANNA, files.SEED], extra_texts=["AnnaSmith"])
        # Another card file that lists her too keeps her extra text (extra texts are shared).
        files.write_records(os.path.join(s.folder, "work.crd"), [ANNA])
        start(s, "HOME")
        search(s, "S")
    with s.step("right click the row, Cancel: nothing changes"):
        p.click_row(1, button=3)
        p.answer("Warning", "Cancel", ["OK", "Cancel"])
        no_box_appears(s, 0.5)
        expect_records(s, "home", [ANNA, files.SEED])
        expect(files.find(s.folder, "AnnaSmith") is not None, True, "AnnaSmith kept")
    with s.step("right click the row, OK: the entry is gone, work.crd keeps her extra text"):
        p.click_row(1, button=3)
        p.answer("Warning", "OK", ["OK", "Cancel"])
        wait_records(s, "home", [files.SEED])
        no_box_appears(s, 0.5)
        expect(files.find(s.folder, "AnnaSmith") is not None, True, "AnnaSmith kept")
        expect_records(s, "work", [ANNA])
    with s.step("listed by no other card file, her entry and extra text are deleted together"):
        files.write_records(files.find(s.folder, "work.crd"), [files.SEED])
        files.write_records(files.find(s.folder, "home.crd"), [ANNA, files.SEED])
        p.click_search("back")
        p.main_window("HOME")
        search(s, "S")
        p.click_row(1, button=3)
        p.answer("Warning", "OK", ["OK", "Cancel"])
        wait_records(s, "home", [files.SEED])
        s.display.wait_for("AnnaSmith to be removed",
                           lambda: files.find(s.folder, "AnnaSmith") is None, timeout=5)
    with s.step("a right click on the last remaining row does nothing"):
        p.click_row(1, button=3)
        no_box_appears(s)
        expect_records(s, "home", [files.SEED])
    with s.step("a search in a read-only card file reports the error; BACK still works"):
        p.click_search("back")
        p.main_window("HOME")
        os.chmod(files.find(s.folder, "home.crd"), 0o444)
        p.menu("SEARCH/EDIT")
        p.pad_letters("S")
        p.click_main("start_search")
        p.search_window()  # the window is on screen beside the error box
        p.answer("MERIDOC", "OK", ["OK"])
        p.click_search("back")
        p.main_window("HOME")
        expect_records(s, "home", [files.SEED])


# 5. RENAME, OPEN, SAVE AS and DELETE of card files.
def card_files(s):
    p = s.program
    with s.step("start"):
        start(s, "TANRO")
    with s.step('FILE / NEW "home", not the default'):
        file_name_command(s, "NEW", "home", ("Warning", "No"))
        p.main_window("home")
        expect(files.card_files(s.folder), ["HOME", "TANRO"], "card files")
        expect(files.ini_value(s.folder, "defaultfile"), "tanro", "defaultfile")
    with s.step('FILE / SAVE AS "work", not the default'):
        files.write_records(files.find(s.folder, "home.crd"), [ANNA, files.SEED])
        file_name_command(s, "SAVE AS", "work", ("Information", "No"))
        p.main_window("work")
        expect_records(s, "work", [ANNA, files.SEED])
        expect_records(s, "home", [ANNA, files.SEED])
        expect(files.ini_value(s.folder, "defaultfile"), "tanro", "defaultfile")
    with s.step('FILE / RENAME to "office" makes it the default without asking'):
        file_name_command(s, "RENAME", "office")
        p.main_window("OFFICE")
        no_box_appears(s, 0.5)
        expect(files.card_files(s.folder), ["HOME", "OFFICE", "TANRO"], "card files")
        expect_records(s, "office", [ANNA, files.SEED])
        expect(files.ini_value(s.folder, "defaultfile"), "OFFICE", "defaultfile")
    with s.step("FILE / RENAME onto the existing home, answered No, changes nothing"):
        file_name_command(s, "RENAME", "home", ("Warning", "No"))
        p.main_window("OFFICE")
        expect(files.card_files(s.folder), ["HOME", "OFFICE", "TANRO"], "card files")
    with s.step("FILE / OPEN home.CRD, made the default"):
        p.menu("FILE", "OPEN")
        p.choose_file("home")
        p.click_main("ok")
        p.answer("Information", "Yes", ["Yes", "No"])
        p.main_window("home")
        expect(files.ini_value(s.folder, "defaultfile"), "home", "defaultfile")
    with s.step("FILE / DELETE the current card file is refused"):
        p.menu("FILE", "DELETE")
        p.choose_file("home")
        p.click_main("ok")
        p.answer("Error", "OK", ["OK"])
        expect(files.card_files(s.folder), ["HOME", "OFFICE", "TANRO"], "card files")
    with s.step("FILE / DELETE office, answered Yes"):
        p.choose_file("office")
        p.click_main("ok")
        p.answer("Warning", "Yes", ["Yes", "No"])
        s.display.wait_for("office.CRD to be deleted",
                           lambda: files.card_files(s.folder) == ["HOME", "TANRO"], timeout=5)
        expect(p.file_list_visible(), True, "file list shown")
        p.click_main("cancel_file")
        s.display.wait_for("the file list to hide", lambda: not p.file_list_visible(), 5)
        p.main_window("home")
    with s.step("the opened file is the one searched and edited"):
        search(s, "")
        p.click_row(1, button=3)
        p.answer("Warning", "OK", ["OK", "Cancel"])
        wait_records(s, "home", [files.SEED])


def pdf_words(pdf):
    """(x, y, text) of each word of the first page, top-left corners in points."""
    out = subprocess.run(["pdftotext", "-bbox", "-f", "1", "-l", "1", pdf, "-"],
                         capture_output=True, text=True, check=True).stdout
    return [(float(x), float(y), t) for x, y, t in
            re.findall(r'<word xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>([^<]*)</word>', out)]


def expect_near(actual, expected, what, tolerance=1.5):
    if len(actual) != len(expected) or any(abs(a - e) > tolerance
                                           for a, e in zip(actual, expected)):
        raise AssertionError(f"{what}: expected about {expected}, got {actual}")


# 6. Printing the results on the default printer, a PDF queue.
def print_listing(s):
    p = s.program
    state_dir = os.environ.get("E2E_CUPS_STATE", "")
    try:
        with open(os.path.join(state_dir, "pdf-dir")) as f:
            pdf_dir = f.read().strip()
    except OSError:
        raise AssertionError(f"no PDF printer fixture: {state_dir}/pdf-dir is missing")
    with s.step("start on home holding three entries"):
        prepare_home(s, [BEN, ANNA, files.SEED])
        start(s, "HOME")
    with s.step("search S and PRINT"):
        before = set(glob.glob(os.path.join(pdf_dir, "*.pdf")))
        search(s, "S")
        p.click_search("print")
        no_box_appears(s, 0.5)
    with s.step("the PDF holds the listing"):
        def new_pdf():
            fresh = sorted(set(glob.glob(os.path.join(pdf_dir, "*.pdf"))) - before,
                           key=os.path.getmtime)
            if not fresh:
                return None
            size = os.path.getsize(fresh[-1])
            time.sleep(0.5)
            return fresh[-1] if size and size == os.path.getsize(fresh[-1]) else None

        pdf = s.display.wait_for(f"a new PDF in {pdf_dir}", new_pdf, timeout=60)
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True,
                              text=True, check=True).stdout
        print(text)
        lines = [line.split() for line in text.splitlines() if line.strip()]
        expect(lines[0], ["NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"], "header line")
        expect([len(w) for w in lines[1]], [9, 16, 13, 13, 19], "rule line")
        expect(lines[2], ["Anna", "Smith", "555-1234", "555-9876", "Met", "at", "the", "spring",
                          "fair"], "first result line")
        expect(lines[3], ["TANRO", "SYSTEMS", "(000)555-0101", "(000)555-0102", "PC", "Sales,",
                          "Repair,", "Upgrade"], "second result line")
        expect(len(lines), 4, "number of lines")
        # Positions are in 1/300 inch from the printable area's corner: columns at 100, 550,
        # 1000, 1400 and 1800, lines at 100 (header), 140 (rule), 190 and 240 (results).
        words = pdf_words(pdf)
        x0, y0 = words[0][0], words[0][1]
        points = lambda units: units * 72 / 300
        columns = [round(x - x0, 1) for x, y, _ in words if abs(y - y0) < 1]
        expect_near(columns, [points(u) for u in (0, 450, 900, 1300, 1700)], "header columns")
        rows = sorted({round(y - y0, 1) for x, y, _ in words if abs(x - x0) < 1})
        expect_near(rows, [points(u) for u in (0, 40, 90, 140)], "line positions")
        shutil.move(pdf, os.path.join(s.output_dir, "listing.pdf"))


# 7. The default card file chosen before is current after a restart.
def restart_default(s):
    p = s.program
    with s.step("start, FILE / NEW home as the default"):
        start(s, "TANRO")
        file_name_command(s, "NEW", "home", ("Warning", "Yes"))
        p.main_window("home")
    with s.step("closing the main window by its frame ends the program"):
        s.display.activate(p.main_window())
        s.display.key("alt+F4")
        p.wait_exit()
    with s.step("restart: home is current"):
        files.write_records(s.program.path("tanro.crd"), [ANNA, files.SEED])
        start(s, "HOME")
        expect(files.records(s.program.path("tanro.crd")), [files.SEED], "tanro.crd rewritten")
        expect(files.ini_value(s.folder, "defaultfile"), "home", "defaultfile")
    with s.step("home takes entries (the seed card file would not), typed with Enter between"):
        add_entry(s, ANNA, "HOME", with_enter=True)
        wait_records(s, "home", [ANNA, files.SEED])


# 8. The letter pad's own buttons, the search by name, HELP and ABOUT.
def pad_help_about(s):
    p = s.program
    with s.step("start on home holding Ben Adams and Anna Smith"):
        prepare_home(s, [BEN, ANNA, files.SEED])
        start(s, "HOME")
    with s.step("SEARCH/EDIT, A, CANCEL hides the letter pad"):
        p.menu("SEARCH/EDIT")
        s.display.wait_for("the letter pad", p.pad_visible, timeout=5)
        p.pad_letters("A")
        p.click_main("cancel_pad")
        s.display.wait_for("the letter pad to hide", lambda: not p.pad_visible(), timeout=5)
    with s.step("opening the FILE menu hides the letter pad"):
        p.menu("SEARCH/EDIT")
        s.display.wait_for("the letter pad", p.pad_visible, timeout=5)
        p.menu("FILE")
        time.sleep(0.3)
        s.display.key("Escape", "Escape")
        s.display.wait_for("the letter pad to hide", lambda: not p.pad_visible(), timeout=5)
    with s.step("X, Clear all, S, X, Clear last character: the search for S lists Anna"):
        p.menu("SEARCH/EDIT")
        p.pad_letters("X")
        p.click_main("clear_all")
        p.pad_letters("SX")
        p.click_main("clear_last")
        p.click_main("start_search")
        p.search_window()
        wait_width(s, NORMAL_WIDTH, "results view")
        edit_selected(s, "phone2", "555-0000")
        anna = ANNA[:3] + ("555-0000",) + ANNA[4:]
        wait_records(s, "home", [BEN, anna, files.SEED])
    with s.step("BY NAME, B: the search lists Ben"):
        p.click_search("back")
        p.main_window("HOME")
        search(s, "B", by_name=True)
        edit_selected(s, "comments", "Lives next door")
        ben = BEN[:4] + ("Lives next door",)
        wait_records(s, "home", [ben, anna, files.SEED])
    with s.step("maximizing the search/edit window is undone at once"):
        s.display.activate(p.search_window())
        s.display.key("super+Up")
        time.sleep(0.5)
        wait_width(s, NORMAL_WIDTH, "after maximize")
        p.click_search("back")
        p.main_window("HOME")
    with s.step("HELP starts the help viewer; the main window still reacts"):
        p.menu("HELP", "HELP")
        viewer = s.display.wait_for("the help viewer",
                                    lambda: s.display.windows_starting("MERIDOC Help"))[0]
        s.display.activate(p.main_window())  # the viewer opens over the main window
        p.menu("SEARCH/EDIT")
        s.display.wait_for("the letter pad while the viewer runs", p.pad_visible, timeout=5)
        p.click_main("cancel_pad")
    with s.step("closing the help viewer"):
        s.display.activate(viewer)
        s.display.key("alt+F4")
        s.display.wait_for("the help viewer to close",
                           lambda: not s.display.windows_starting("MERIDOC Help"))
        no_box_appears(s, 0.5)
        p.main_window("HOME")
    with s.step("ABOUT shows readme.txt in the about window; BACK closes it"):
        p.menu("HELP", "ABOUT")
        about = s.display.wait_window("ABOUT MERIDOC ")
        with open(p.path("readme.txt"), encoding="cp1252") as f:
            readme = f.read()
        shown = s.display.copy_text(about, *driver.centre(driver.ABOUT["memo"]))
        expect(shown.split(), readme.split(), "text of the about window")
        s.display.click(about, *driver.centre(driver.ABOUT["back"]))
        s.display.wait_gone("ABOUT MERIDOC ")
        p.main_window("HOME")
        no_box_appears(s, 0.3)
    with s.step("ABOUT again, closed by its frame"):
        p.menu("HELP", "ABOUT")
        s.display.activate(s.display.wait_window("ABOUT MERIDOC "))
        s.display.key("alt+F4")
        s.display.wait_gone("ABOUT MERIDOC ")
        p.main_window("HOME")
        no_box_appears(s, 0.3)
    with s.step("HELP without the help viewer in the folder reports the error"):
        os.remove(p.path("txtview.exe"))
        p.menu("HELP", "HELP")
        p.answer("MERIDOC", "OK", ["OK"])
        p.main_window("HOME")
        no_box_appears(s, 0.3)


# 9. A contact file opened with the program: the import window beside the main window.
def open_contact_file(s):
    p = s.program
    contacts = p.path("contacts.vcf")
    with open(contacts, "w") as f:
        f.write("BEGIN:VCARD\nVERSION:3.0\nN:Smith;Anna;;;\nTEL:555-1234\nTEL:555-9876\n"
                "NOTE:Met at the spring fair\nEND:VCARD\nBEGIN:VCARD\nVERSION:3.0\n"
                "N:Adams;Ben;;;\nTEL:555-2000\nNOTE:Neighbour\nEMAIL:ben@example.org\n"
                "END:VCARD\n")
    with s.step("started with a vCard file: the dry run's report beside the main window"):
        prepare_home(s, [ANNA, files.SEED])
        p.start([contacts])
        p.main_window("HOME", timeout=20)
        window = s.display.wait_window("MERIDOC IMPORT")
        s.display.activate(window)
        _, _, width, height = s.display.geometry(window)
        report = s.display.copy_text(window, width // 2, height // 2)
        expect([part for part in ("Entry: Ben; Adams; 555-2000; Neighbour", "Already in the card "
                "file", "Extra text: E-mail: ben@example.org") if part not in report], [],
               f"missing from the report {report!r}")
        expect_records(s, "home", [ANNA, files.SEED])
    with s.step("Enter presses IMPORT: Ben is added; Escape closes; the main window works on"):
        s.display.key("Return")
        wait_records(s, "home", [BEN, ANNA, files.SEED])
        s.display.key("Escape")
        s.display.wait_gone("MERIDOC IMPORT")
        search(s, "AD")


SCENARIOS = {
    "first_start": first_start,
    "new_record_and_edit": new_record_and_edit,
    "extra_text": extra_text,
    "delete_entry": delete_entry,
    "card_files": card_files,
    "print_listing": print_listing,
    "restart_default": restart_default,
    "pad_help_about": pad_help_about,
    "open_contact_file": open_contact_file,
}

if __name__ == "__main__":
    sys.exit(driver.run(SCENARIOS))
