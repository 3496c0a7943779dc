#!/bin/bash
# Usage: askpass-startup.sh BUILD_DIR [RUNS]
# The askpass dialog's start-up against the minimal Qt program's, in turn in one run, each a whole
# process on the X server in $DISPLAY and a session bus as a desktop has them (without a bus, Qt
# would start one of its own): prints the median time to the first shown window of each and
# their ratio. Pairs in which a program could not start are left out.
#   Xvfb :99 -nolisten tcp & export DISPLAY=:99
#   bench/sandbox.sh bench/askpass-startup.sh build 20
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ ${1:-} != --inside ]]; then
    [[ $# -ge 1 && -n ${DISPLAY:-} ]] || { echo "usage: DISPLAY=... $0 BUILD_DIR [RUNS]" >&2; exit 2; }
    exec dbus-run-session -- "$0" --inside "$(cd "$1" && pwd)" "${2:-20}"
fi
build=$2 runs=$3
askpass=() minimal=()
# ms from "first window after N ms; ..."
shown() { "$here/first-window.sh" "$@" 2>/dev/null | sed -n 's/^first window after \([0-9]*\) ms.*/\1/p'; }
for ((i = 0; i < runs + 1; i++)); do # the first pair warms the caches and is not counted
    a=$(shown Tollvane "$build/compat/tollvane-askpass" "user@host's password: ")
    m=$(shown "Minimal table" "$build/bench/minimal_table")
    ((i == 0)) || [[ -z $a || -z $m ]] || { askpass+=("$a"); minimal+=("$m"); }
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
a=$(median "${askpass[@]}") m=$(median "${minimal[@]}")
echo "first shown window, median of ${#askpass[@]} pairs: tollvane-askpass $a ms, minimal Qt program $m ms," \
    "ratio $(awk -v a="$a" -v m="$m" 'BEGIN { printf "%.2f", a / m }')"
