#!/bin/bash
# How a volume over the 40 ms link ("slow") comes back when its connection has become a black hole
# (what a wake on another network leaves), through the application's mount command line against
# Debian's sshfs alone with the options peers use (reconnect,ServerAliveInterval=15,
# ServerAliveCountMax=3), in turn, ROUNDS times. Two cases: NetworkManager back to connected and
# then a read 2 s later; no event and a read at once, then a second read. (A sleep and its wake:
# bench/sleep.sh.) Prints, per case, the median seconds from the
# event (or the black hole) until each read returned, and how many reads failed. Runs in the
# end-to-end environment, as root (under the end-to-end lock):
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh bench/wake.sh [ROUNDS]
set -u
source "$(dirname "$0")/../tests/e2e/compat.sh"
rounds=${1:-3}
mp=$V/slow
mkdir -p "$mp"

now() { echo "${EPOCHREALTIME}"; }
ours() {
    { /bin/bash -c "/usr/local/bin/sshfs slow:/ $mp -o volname='slow' -o volicon='/Users/$(id -un)/Library/Application\ Support/Tollvane/VolumeIcon.icns' -o debug" 2>"$D/err" & }
    confirmed "$D/err"
}
alone() {
    "$D/real-sshfs" -F "$TOLLVANE_E2E_CONFIG" -o reconnect,ServerAliveInterval=15,ServerAliveCountMax=3 slow:/ "$mp" &&
        until_ "stat -f $mp >/dev/null"
}
# CLIENT EVENT: mounts, reads once, makes a black hole, sends EVENT (none: nothing) and reads
# again (2 s after an event, at once without one), then once more. Prints the seconds from the
# event to the end of each read, and "!" after a read that failed.
round() {
    local t0 r1 r2 s1 s2
    "$1" && cat "$mp/README.txt" >/dev/null
    black_hole
    t0=$(now)
    [[ $2 == none ]] || { "$2" && sleep 2; }
    cat "$mp/Documents/shopping list.txt" >/dev/null 2>&1 && s1= || s1='!'
    r1=$(now)
    cat "$mp/README.txt" >/dev/null 2>&1 && s2= || s2='!'
    r2=$(now)
    /usr/sbin/diskutil unmountDisk force "$mp" >/dev/null
    until_ "! pgrep -f 'sshfs .*$mp' >/dev/null"
    python3 -c "print(f'{$r1 - $t0:.1f}$s1 {$r2 - $t0:.1f}$s2')"
}
for event in connected none; do
    results=()
    for ((r = 0; r < rounds; r++)); do
        if ((r % 2)); then results+=("alone $(round alone $event)" "ours $(round ours $event)")
        else results+=("ours $(round ours $event)" "alone $(round alone $event)"); fi
    done
    python3 - "$event" "${results[@]}" <<'PY'
import statistics, sys
event, rows = sys.argv[1], [r.split() for r in sys.argv[2:]]
for who in ("ours", "alone"):
    mine = [r[1:] for r in rows if r[0] == who]
    for i, what in enumerate(["first read", "second read"]):
        times = [float(m[i].rstrip("!")) for m in mine]
        failed = sum(m[i].endswith("!") for m in mine)
        print(f"{event}: {who}: {what} returned {statistics.median(times):.1f} s after the "
              f"{'black hole' if event == 'none' else 'event'} (median), {failed} of {len(mine)} failed")
PY
done
