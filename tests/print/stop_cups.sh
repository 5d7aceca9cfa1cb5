#!/usr/bin/env bash
# Undoes what start_cups.sh did: restores the previous default destination, removes the PDF
# queue if it was added, and stops the scheduler if it was started.
#
# Usage: stop_cups.sh STATE_DIR
set -uo pipefail

state_dir=${1:?usage: stop_cups.sh STATE_DIR}

if lpstat -r 2>/dev/null | grep -q "is running"; then
    previous=$(cat "$state_dir/previous-default" 2>/dev/null || true)
    if [[ -n "$previous" && "$previous" != PDF ]]; then
        lpadmin -d "$previous" || true
    fi
    if [[ -e "$state_dir/added-queue" ]]; then
        lpadmin -x PDF || true
    fi
fi
rm -f "$state_dir/added-queue" "$state_dir/previous-default"

if [[ -s "$state_dir/cupsd.pid" ]]; then
    pid=$(cat "$state_dir/cupsd.pid")
    if kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid"
        for ((i = 0; i < 100; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
    fi
    rm -f "$state_dir/cupsd.pid"
fi
exit 0
