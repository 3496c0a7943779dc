#!/usr/bin/env bash
# Runs the fuzzer in a scratch folder and, when it fails, ends with the failing input in hex, so
# that the input is in the last lines of a log that keeps only its head and tail.
set -u
fuzzer=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$fuzzer" "$@")
status=$?
if [ $status -ne 0 ]; then
    for input in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
        [ -f "$input" ] || continue
        echo "failing input $(basename "$input"), $(stat -c %s "$input") bytes:"
        od -An -tx1 -v "$input" | head -c 4000
    done
fi
exit $status
