#!/usr/bin/env python3
"""Starts and stops the X display the end-to-end tests run on: an Xvfb server on a free display
number with an openbox window manager. `start STATE` writes the display name and the two process
ids to the file STATE; `stop STATE` ends exactly those two processes."""

import json
import os
import select
import shutil
import signal
import subprocess
import sys
import time

SCREEN = "1280x1024x24"

# Normal windows always open in the middle of the screen, so every window lies wholly on screen
# wherever it was before; dialogs open over their parent window as usual.
OPENBOX_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy><center>yes</center></placement>
  <desktops><number>1</number></desktops>
  <keyboard>
    <keybind key="A-F4"><action name="Close"/></keybind>
    <keybind key="W-Up"><action name="Maximize"/></keybind>
  </keyboard>
  <applications>
    <application type="normal">
      <position force="yes"><x>center</x><y>center</y></position>
    </application>
  </applications>
</openbox_config>
"""


def fail(message):
    print(f"xserver: {message}", file=sys.stderr)
    sys.exit(1)


def process_is(pid, program):
    """True while `pid` is alive and runs `program` (guards against a reused process id)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            argv0 = f.read().split(b"\0")[0].decode(errors="replace")
    except OSError:
        return False
    return os.path.basename(argv0) == program


def wm_running(env):
    probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                           capture_output=True, text=True)
    return probe.returncode == 0 and "window id" in probe.stdout


def start(state_path):
    for tool in ("Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "import"):
        if not shutil.which(tool):
            fail(f"{tool} is missing (scripts/install-deps.sh --test installs it)")
    state_dir = os.path.dirname(os.path.abspath(state_path))
    os.makedirs(state_dir, exist_ok=True)
    log = open(os.path.join(state_dir, "xserver.log"), "ab")

    # Xvfb picks a free display number itself and writes it to the pipe once it accepts clients.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
        start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], 0.5)
        if ready:
            chunk = os.read(read_end, 64)
            if not chunk:
                break
            number += chunk
        elif xvfb.poll() is not None:
            break
    os.close(read_end)
    if not number.strip().isdigit():
        xvfb.kill()
        fail("Xvfb did not report a display number within 30 s; see xserver.log")
    display = ":" + number.strip().decode()

    env = dict(os.environ, DISPLAY=display)
    config = os.path.join(state_dir, "openbox-rc.xml")
    with open(config, "w") as f:
        f.write(OPENBOX_CONFIG)
    openbox = subprocess.Popen(["openbox", "--sm-disable", "--config-file", config], env=env,
                               stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                               start_new_session=True)
    deadline = time.monotonic() + 30
    while not wm_running(env):
        if time.monotonic() > deadline or openbox.poll() is not None:
            openbox.kill()
            xvfb.kill()
            fail("openbox did not come up within 30 s; see xserver.log")
        time.sleep(0.1)

    with open(state_path, "w") as f:
        json.dump({"display": display, "xvfb": xvfb.pid, "openbox": openbox.pid}, f)
    print(f"X display {display} is ready (Xvfb {xvfb.pid}, openbox {openbox.pid})")


def stop(state_path):
    try:
        with open(state_path) as f:
            state = json.load(f)
    except (OSError, ValueError):
        print("xserver: nothing to stop")
        return
    for key, program in (("openbox", "openbox"), ("xvfb", "Xvfb")):
        pid = state.get(key)
        if not pid or not process_is(pid, program):
            continue
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            if not process_is(pid, program):
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
    os.remove(state_path)
    print(f"X display {state.get('display')} stopped")


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        fail("usage: xserver.py start|stop STATE_FILE")
    (start if sys.argv[1] == "start" else stop)(sys.argv[2])
