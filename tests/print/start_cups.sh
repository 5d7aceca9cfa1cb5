#!/usr/bin/env bash
# Brings up a CUPS scheduler whose default destination is a PDF-writing queue "PDF", for the
# printing tests. Works whether or not a scheduler is already running; remembers in STATE_DIR
# what it started or changed so that stop_cups.sh can undo exactly that.
#
# Usage: start_cups.sh STATE_DIR
set -euo pipefail

state_dir=${1:?usage: start_cups.sh STATE_DIR}
mkdir -p "$state_dir"
rm -f "$state_dir"/cupsd.pid "$state_dir"/added-queue "$state_dir"/previous-default "$state_dir"/pdf-dir

for tool in cupsd lpstat lpadmin; do
    if ! command -v "$tool" >/dev/null; then
        echo "start_cups.sh: $tool is missing (install cups printer-driver-cups-pdf poppler-utils)" >&2
        exit 1
    fi
done
ppd=lsb/usr/cups-pdf/CUPS-PDF_opt.ppd
if [[ ! -e /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd || ! -e /usr/lib/cups/backend/cups-pdf ]]; then
    echo "start_cups.sh: the cups-pdf driver is missing (install printer-driver-cups-pdf)" >&2
    exit 1
fi

running() { lpstat -r 2>/dev/null | grep -q "is running"; }

# Waits up to $1 tenths of a second for a condition given as the remaining arguments.
wait_for() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

if ! running; then
    mkdir -p /run/cups
    # In the foreground, so its process id is known; detached from the test's output pipes.
    setsid cupsd -f </dev/null >>"$state_dir/cupsd.log" 2>&1 &
    echo $! >"$state_dir/cupsd.pid"
    if ! wait_for 300 running; then
        echo "start_cups.sh: the CUPS scheduler did not come up within 30 s" >&2
        cat "$state_dir/cupsd.log" >&2 || true
        exit 1
    fi
fi

previous=$(lpstat -d 2>/dev/null | sed -n 's/^system default destination: //p')
echo "$previous" >"$state_dir/previous-default"

if ! lpstat -p PDF >/dev/null 2>&1; then
    lpadmin -p PDF -E -v cups-pdf:/ -m "$ppd" -o pdftops-renderer-default=pdftocairo
    touch "$state_dir/added-queue"
fi
cupsenable PDF 2>/dev/null || true
cupsaccept PDF 2>/dev/null || true
lpadmin -d PDF

if ! wait_for 100 sh -c 'lpstat -d | grep -q "destination: PDF$"'; then
    echo "start_cups.sh: PDF did not become the default destination" >&2
    exit 1
fi

# Where cups-pdf puts its files for the user running the tests; it takes the home directory from
# the user database, not from the environment.
home=$(getent passwd "$(id -un)" | cut -d: -f6)
out=$(sed -n 's/^[[:space:]]*Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -n 1)
out=${out:-'${HOME}/PDF'}
out=${out//'${HOME}'/${home:-$HOME}}
out=${out//'${USER}'/$(id -un)}
echo "$out" >"$state_dir/pdf-dir"
echo "CUPS is ready: default destination PDF, output in $out"
