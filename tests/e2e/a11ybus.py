#!/usr/bin/env python3
"""Starts and stops a D-Bus session bus of its own for the accessibility test; the
assistive-technology bus (at-spi2-core's launcher and registry) starts on it on demand, in the
bus's process group. `start STATE` writes the address and process id to STATE; `stop STATE` ends
that process group."""

import json
import os
import signal
import subprocess
import sys

from xserver import process_is


def start(state_path):
    socket_dir = os.path.join(os.path.dirname(os.path.abspath(state_path)), "bus")
    os.makedirs(socket_dir, exist_ok=True)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
    log = open(os.path.join(socket_dir, "bus.log"), "ab")
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                            f"--address=unix:dir={socket_dir}"], env=env, text=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
                           start_new_session=True)
    address = bus.stdout.readline().strip()  # printed once the bus accepts clients
    if not address:
        sys.exit("a11ybus: dbus-daemon did not start (scripts/install-deps.sh --test installs it)")
    with open(state_path, "w") as f:
        json.dump({"address": address, "bus": bus.pid}, f)
    print(f"session bus {address} is ready (dbus-daemon {bus.pid})")


def stop(state_path):
    with open(state_path) as f:
        pid = json.load(f)["bus"]
    if process_is(pid, "dbus-daemon"):
        os.killpg(pid, signal.SIGTERM)
    os.remove(state_path)


if __name__ == "__main__":
    {"start": start, "stop": stop}[sys.argv[1]](sys.argv[2])
