#!/bin/bash
# Usage: first-window.sh TITLE PROGRAM [ARG...]
# Starts PROGRAM on the X display in $DISPLAY, waits until a window titled TITLE is shown, prints
# the time that took and the program's peak memory up to then, and ends the program. A timer
# around this whole command sees start-up, first window and teardown.
set -u
title=$1
shift
start=$(date +%s%N)
"$@" &
pid=$!
until xwininfo -name "$title" 2>/dev/null | grep -q 'IsViewable'; do
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "first-window: $1 ended before showing \"$title\"" >&2
        exit 1
    fi
done
shown=$(date +%s%N)
peak=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")
kill -TERM "$pid"
wait "$pid" 2>/dev/null
echo "first window after $(((shown - start) / 1000000)) ms; peak memory ${peak} kB"
