#!/usr/bin/env bash
# Runs the fuzzer in a scratch folder and, when it fails, ends with the failing input in hex, so
# that the input is in the last lines of a log that keeps only its head and tail.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$@")
status=$?
for input in "$work"/{crash,leak,timeout,oom}-*; do
    [[ -f $input ]] && echo "failing input $(basename "$input"):" && od -An -tx1 -v "$input" | head -c 4000
done
exit $status
