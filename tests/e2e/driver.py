"""Drives the installed program from outside, as a person would: finds its windows by title,
clicks menus, buttons, grid cells and letters with the pointer, types on the keyboard, answers
message boxes by clicking their buttons, and keeps a screenshot of every step that fails."""

import contextlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import clipboard
import screen

MAIN_TITLE = "MERIDOC   "  # followed by the current card file's base name
SEARCH_TITLE = "MERIDOC SEARCH/EDIT"
TIMEOUT = 10.0  # seconds to wait for a window or a file to reach the expected state

# Where the controls are, in the client area of their window (the main window's below its menu
# bar; those inside a group box already moved by the box's position).
MAIN = {
    "pad": (0, 32),  # letter pad: 13 x 2 cells of 20 x 18
    "name_entry": (16, 40, 81, 21),
    "file_list": (8, 24, 121, 97),
    "ok": (24, 120, 25, 25),
    "cancel_file": (64, 120, 57, 25),
    "start_search": (16, 144, 89, 25),
    "cancel_pad": (120, 144, 65, 25),
    "clear_last": (24, 72, 105, 25),
    "clear_all": (136, 72, 65, 25),
    "by_name": (216, 120, 89, 25),
    "by_surname": (216, 96, 105, 25),
}
PAD_CELL = (20, 18)
PAD_SPARE = (275, 40)  # a point of the letter pad right of its last column: grid background
FILE_LIST_SPOT = (60, 50)  # a point inside the file list, white while the list shows
CLOCK = (240, 8, 65, 17)
ABOUT = {"back": (168, 256, 65, 25), "memo": (8, 8, 409, 241)}
SEARCH = {
    "grid": (8, 16, 537, 169),
    "edit": (24, 192, 49, 25),
    "print": (104, 192, 57, 25),
    "back": (216, 192, 49, 25),
    "close_text": (176, 176, 75, 25),
    "viewer": (8, 40, 329, 129),
    # entry form (group box at 24, 16)
    "name": (128, 32, 137, 21),
    "surname": (128, 64, 137, 21),
    "phone1": (128, 96, 137, 21),
    "phone2": (128, 128, 137, 21),
    "comments": (128, 160, 193, 21),
    "extra_text": (32, 200, 137, 25),
    "done": (176, 200, 65, 25),
    "cancel_form": (272, 200, 49, 25),
    # extra-text editor (group box at 8, 40)
    "editor": (16, 64, 337, 89),
    "save_exit": (64, 160, 65, 25),
    "cancel_exit": (192, 160, 81, 25),
}
GRID_HEADER = 24
GRID_ROW = 24
GRID_FRAME = 1

MENU_BAR = ["FILE", "NEW RECORD", "SEARCH/EDIT", "HELP"]
FILE_MENU = ["NEW", "OPEN", "SAVE AS", "RENAME", "DELETE", "EXIT"]
HELP_MENU = ["HELP", "ABOUT"]

BOX_BUTTONS = {  # the order in which a box shows its buttons, left to right
    ("Yes", "No"): ["Yes", "No"],
    ("OK", "Cancel"): ["OK", "Cancel"],
    ("OK",): ["OK"],
}


def centre(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


class StepFailed(AssertionError):
    pass


class Display:
    """The X display the tests run on."""

    def __init__(self, display):
        self.env = {
            "DISPLAY": display,
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.environ.get("HOME", "/root"),
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
        }

    def run(self, *args, check=True):
        result = subprocess.run([str(a) for a in args], env=self.env, capture_output=True,
                                text=True, timeout=30)
        if check and result.returncode != 0:
            raise StepFailed(f"{' '.join(map(str, args))} failed: {result.stderr.strip()}")
        return result.stdout

    # Windows

    def windows(self, title):
        """Ids of the visible windows whose title is exactly `title`."""
        out = self.run("xdotool", "search", "--onlyvisible", "--name",
                       "^" + re.escape(title) + "$", check=False)
        ids = [int(w) for w in out.split()]
        return [w for w in ids if self.title(w) == title]

    def windows_starting(self, prefix):
        """Ids of the visible windows whose title starts with `prefix`."""
        out = self.run("xdotool", "search", "--onlyvisible", "--name", "^" + re.escape(prefix),
                       check=False)
        return [int(w) for w in out.split() if self.title(int(w)).startswith(prefix)]

    def activate(self, window_id):
        """Brings the window to the front and gives it the keyboard."""
        self.run("xdotool", "windowactivate", window_id, check=False)
        self.wait_for(f"window {window_id} to become active", lambda: self.run(
            "xdotool", "getactivewindow", check=False).strip() == str(window_id), timeout=5)
        time.sleep(0.1)

    def title(self, window_id):
        return self.run("xdotool", "getwindowname", window_id, check=False).rstrip("\n")

    def geometry(self, window_id):
        """(x, y, width, height) of the window's client area on the screen."""
        out = self.run("xwininfo", "-id", window_id)
        value = lambda key: int(re.search(key + r":\s+(-?\d+)", out).group(1))
        return (value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
                value("Height"))

    def wait_for(self, what, probe, timeout=TIMEOUT):
        """Polls `probe` until it returns something true; returns that, or fails with `what`."""
        deadline = time.monotonic() + timeout
        while True:
            value = probe()
            if value:
                return value
            if time.monotonic() > deadline:
                raise StepFailed(f"timed out after {timeout:.0f} s waiting for {what}")
            time.sleep(0.1)

    def wait_window(self, title, timeout=TIMEOUT):
        found = self.wait_for(f'a window titled "{title}"', lambda: self.windows(title), timeout)
        return found[0]

    def wait_gone(self, title, timeout=TIMEOUT):
        self.wait_for(f'the window "{title}" to close', lambda: not self.windows(title), timeout)

    def visible_titles(self):
        out = self.run("xdotool", "search", "--onlyvisible", "--name", ".", check=False)
        return sorted({self.title(int(w)) for w in out.split()} - {""})

    # Input

    def click(self, window_id, x, y, button=1, repeat=1):
        """Clicks at (x, y) of the window's client area."""
        wx, wy, _, _ = self.geometry(window_id)
        self.run("xdotool", "mousemove", wx + x, wy + y)
        time.sleep(0.05)
        self.run("xdotool", "click", "--repeat", repeat, "--delay", 120, button)
        time.sleep(0.15)

    def park_pointer(self):
        """Moves the pointer off every window, so that no hover highlight shows in a capture."""
        self.run("xdotool", "mousemove", 1270, 1010)

    def key(self, *keys):
        for k in keys:
            self.run("xdotool", "key", "--clearmodifiers", k)
            time.sleep(0.05)

    def type(self, text):
        self.run("xdotool", "type", "--clearmodifiers", "--delay", 30, text)
        time.sleep(0.1)

    def copy_text(self, window_id, x, y):
        """Clicks into a text box, selects all, copies, and returns the clipboard's text."""
        self.click(window_id, x, y)
        self.key("ctrl+a", "ctrl+c")
        time.sleep(0.2)
        return clipboard.read(self.env["DISPLAY"])

    def capture(self, window_id):
        return screen.capture(self.env, window_id)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True,
                       timeout=30)


class Program:
    """One run of the installed program in a program folder of its own."""

    def __init__(self, display, folder, log_path):
        self.display = display
        self.folder = folder
        self.log_path = log_path
        self.process = None
        self.runtime_dir = None
        self.menu_items = None
        self.menu_height = None

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self, args=()):
        """Starts the program, with `args` on its command line as the desktop would pass them."""
        self.stop()
        self.runtime_dir = tempfile.mkdtemp(prefix="meridoc-e2e-runtime-")
        env = dict(self.display.env, XDG_RUNTIME_DIR=self.runtime_dir, QT_QPA_PLATFORM="xcb")
        with open(self.log_path, "ab") as log:
            # A session of its own, so that stop() ends whatever it started but the help viewer.
            self.process = subprocess.Popen([self.path("meridoc"), *args], cwd=self.folder, env=env,
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                            start_new_session=True)
        self.menu_items = None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout=TIMEOUT):
        self.display.wait_for("the program to end", lambda: not self.running(), timeout)

    def stop(self):
        """Ends the program and whatever it started (its process group)."""
        if self.process is None:
            return
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(self.process.pid, sig)
            except ProcessLookupError:
                break
            try:
                self.process.wait(timeout=5)
                break
            except subprocess.TimeoutExpired:
                continue
        # The help viewer runs in a session of its own: end those started from this folder.
        viewer = os.path.realpath(self.path("txtview.exe"))
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if os.readlink(f"/proc/{pid}/exe") == viewer:
                    os.kill(int(pid), signal.SIGTERM)
            except OSError:
                pass
        shutil.rmtree(self.runtime_dir, ignore_errors=True)
        self.process = None

    # The main window

    def main_window(self, name=None, timeout=TIMEOUT):
        """The visible main window; with `name`, its caption must be "MERIDOC   " + name."""
        if name is not None:
            return self.display.wait_window(MAIN_TITLE + name, timeout)

        def probe():
            for title in self.display.visible_titles():
                if title.startswith(MAIN_TITLE):
                    return self.display.windows(title)
            return None

        return self.display.wait_for("the main window", probe, timeout)[0]

    def main_caption(self):
        return self.display.title(self.main_window())

    def _measure_menu(self, window_id):
        self.display.park_pointer()
        items, height = screen.menu_bar(self.display.capture(window_id))
        if len(items) != len(MENU_BAR):
            raise StepFailed(f"the menu bar shows {len(items)} items, expected {MENU_BAR}")
        self.menu_items = dict(zip(MENU_BAR, items))
        self.menu_height = height

    def program_windows(self):
        """Ids of the program's visible windows, drop-down menus included."""
        out = self.display.run("xdotool", "search", "--onlyvisible", "--pid", self.process.pid,
                               check=False)
        return {int(w) for w in out.split()}

    def menu(self, *path):
        """Chooses a menu command: clicks the item on the menu bar, then walks down its drop-down
        list with the arrow keys and presses Enter on the chosen item."""
        window_id = self.main_window()
        if self.menu_items is None:
            self._measure_menu(window_id)
        before = self.program_windows()
        x, y = self.menu_items[path[0]]
        self.display.click(window_id, x, y)
        if len(path) == 1:
            return
        items = {"FILE": FILE_MENU, "HELP": HELP_MENU}[path[0]]
        popup = self.display.wait_for(f"the {path[0]} menu to drop down",
                                      lambda: self.program_windows() - before)
        self.display.key(*(["Down"] * (items.index(path[1]) + 1)), "Return")
        self.display.wait_for(f"the {path[0]} menu to close",
                              lambda: not popup & self.program_windows())

    def click_main(self, control, dx=None, dy=None):
        window_id = self.main_window()
        if self.menu_items is None:
            self._measure_menu(window_id)
        rect = MAIN[control]
        x, y = centre(rect) if dx is None else (rect[0] + dx, rect[1] + dy)
        self.display.click(window_id, x, y + self.menu_height)

    def pad_letters(self, letters):
        """Clicks the letters on the letter pad, one after another."""
        for letter in letters:
            index = ord(letter) - ord("A")
            row, col = divmod(index, 13)
            self.click_main("pad", col * PAD_CELL[0] + PAD_CELL[0] // 2,
                            row * PAD_CELL[1] + PAD_CELL[1] // 2)

    def capture_main(self):
        """A picture of the main window's client controls (below its menu bar)."""
        window_id = self.main_window()
        if self.menu_items is None:
            self._measure_menu(window_id)
        self.display.park_pointer()
        img = self.display.capture(window_id)
        return lambda x, y: img.rgb(x, y + self.menu_height)

    def pad_visible(self):
        """Whether the letter pad shows: its grid's silver background at a spare point."""
        r, g, b = self.capture_main()(*PAD_SPARE)
        return abs(r - 192) < 8 and abs(g - 192) < 8 and abs(b - 192) < 8

    def file_list_visible(self):
        return self.capture_main()(*FILE_LIST_SPOT) == (255, 255, 255)

    def clock_pixels(self):
        pixel = self.capture_main()
        x0, y0, w, h = CLOCK
        return [pixel(x, y) for y in range(y0, y0 + h) for x in range(x0, x0 + w)]

    def enter_file_name(self, name):
        """Types a base name into the file-name entry, replacing what it held."""
        self.click_main("name_entry")
        self.display.key("ctrl+a", "BackSpace", "Home")
        self.display.type(name)

    def choose_file(self, file_name):
        """Selects a card file in the file list by typing its name there."""
        self.click_main("file_list", 30, 5)
        self.display.key("Home")
        time.sleep(0.6)  # the list's type-to-find starts afresh after a pause
        self.display.type(file_name)

    # The search/edit window

    def search_window(self, timeout=TIMEOUT):
        return self.display.wait_window(SEARCH_TITLE, timeout)

    def search_width(self):
        return self.display.geometry(self.search_window())[2]

    def click_search(self, control):
        self.display.click(self.search_window(), *centre(SEARCH[control]))

    def grid_row_point(self, row, column_x=40):
        gx, gy, _, _ = SEARCH["grid"]
        return gx + GRID_FRAME + column_x, gy + GRID_FRAME + GRID_HEADER + (row - 1) * GRID_ROW + \
            GRID_ROW // 2

    def click_row(self, row, button=1, repeat=1):
        self.display.click(self.search_window(), *self.grid_row_point(row), button=button,
                           repeat=repeat)

    def type_into(self, control, text):
        """Replaces the text of one of the entry form's boxes."""
        self.click_search(control)
        self.display.key("ctrl+a", "BackSpace")
        self.display.type(text)

    # Message boxes

    def answer(self, title, button, buttons):
        """Waits for the message box titled `title` and clicks its `button`. `buttons` names all
        the box's buttons, which are looked for in the box's picture."""
        box = self.display.wait_window(title)
        order = BOX_BUTTONS[tuple(buttons)]
        self.display.park_pointer()

        def frames_found():
            try:
                frames = screen.button_frames(self.display.capture(box))
            except (AssertionError, subprocess.CalledProcessError):
                return None
            return frames if len(frames) == len(order) else None

        frames = self.display.wait_for(f'the box "{title}" to show the buttons {order}',
                                       frames_found)
        self.display.click(box, *frames[order.index(button)])
        self.display.wait_for(f'the box "{title}" to close', lambda: box not in
                              self.display.windows(title))

    def no_box(self):
        """Fails if a message box is open."""
        boxes = [t for t in self.display.visible_titles()
                 if t in ("Information", "Warning", "Error", "Confirm", "MERIDOC")]
        if boxes:
            raise StepFailed(f"unexpected message box: {boxes}")


class Scenario:
    """One end-to-end scenario: a fresh program folder, the program, and numbered steps. A failing
    step leaves a screenshot and the program folder in the scenario's output directory."""

    def __init__(self, name, display, install_dir, output_dir):
        self.name = name
        self.display = display
        self.output_dir = output_dir
        shutil.rmtree(output_dir, ignore_errors=True)
        os.makedirs(output_dir)
        self.folder = tempfile.mkdtemp(prefix=f"meridoc-e2e-{name}-")
        shutil.copytree(install_dir, self.folder, dirs_exist_ok=True)
        self.program = Program(display, self.folder, os.path.join(output_dir, "program.log"))
        self.step_number = 0
        self.failed = False

    @contextlib.contextmanager
    def step(self, title):
        self.step_number += 1
        label = f"step {self.step_number}: {title}"
        print(label, flush=True)
        try:
            yield
        except Exception:
            self.failed = True
            slug = re.sub(r"[^A-Za-z0-9]+", "-", title).strip("-").lower()[:50]
            shot = os.path.join(self.output_dir, f"step{self.step_number:02d}-{slug}.png")
            self.display.screenshot(shot)
            print(f"FAILED {label}\n  screenshot: {shot}", flush=True)
            print(f"  windows on screen: {self.display.visible_titles()}", flush=True)
            raise

    def finish(self):
        self.program.stop()
        if self.failed:
            kept = os.path.join(self.output_dir, "program-folder")
            shutil.copytree(self.folder, kept, ignore=shutil.ignore_patterns("meridoc",
                                                                              "txtview.exe"))
            print(f"  program folder kept in {kept}", flush=True)
        shutil.rmtree(self.folder, ignore_errors=True)


def run(scenarios):
    """Entry point: `python3 scenarios.py NAME DISPLAY_FILE INSTALL_DIR OUTPUT_DIR`."""
    if len(sys.argv) != 5 or sys.argv[1] not in scenarios:
        print(f"usage: {sys.argv[0]} {'|'.join(scenarios)} DISPLAY_FILE INSTALL_DIR OUTPUT_DIR",
              file=sys.stderr)
        return 2
    name, display_file, install_dir, output_dir = sys.argv[1:]
    with open(display_file) as f:
        display = Display(json.load(f)["display"])
    scenario = Scenario(name, display, install_dir, os.path.join(output_dir, name))
    try:
        scenarios[name](scenario)
    except Exception:
        traceback.print_exc()
        return 1
    finally:
        scenario.finish()
    print(f"scenario {name} passed")
    return 0
