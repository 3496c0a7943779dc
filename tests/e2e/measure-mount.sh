#!/bin/bash
# Mount time of the loopback host, median of N runs (default 10), in the end-to-end environment:
#   adapter  - from starting "/bin/bash -c <the application's sshfs command line>" to the
#              adapter's "statfs" line
#   debian   - from starting Debian's /usr/bin/sshfs alone (-f -o debug, same configuration) to
#              the return of a statvfs (stat -f) on the mount point, issued as soon as the mount
#              appears in the mount table
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/measure-mount.sh [N]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ ${1:-} != --inside ]]; then
    exec "$here/run-in-namespace.sh" "$here/measure-mount.sh" --inside "${1:-10}"
fi
runs=$2
point=$TOLLVANE_E2E_VOLUMES/reachable
mkdir -p "$point"
line="/usr/local/bin/sshfs reachable:/ $point -o volname='reachable' -o volicon='/Users/$TOLLVANE_E2E_LOGIN/Library/Application\\ Support/Tollvane/VolumeIcon.icns' -o debug"

millis() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) * 1000 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); if (NR % 2) print v[m]; else print (v[m] + v[m + 1]) / 2 }'; }
mounted() {
    local id parent dev root mp rest
    while read -r id parent dev root mp rest; do
        [[ $mp == "$point" ]] && return 0
    done </proc/self/mountinfo
    return 1
}
settle() {
    /usr/sbin/diskutil unmountDisk force "$point" >/dev/null
    wait
}

adapter=() debian=()
for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    exec {out}< <(exec /bin/bash -c "$line" 2>&1)
    while IFS= read -r -u "$out" text; do
        [[ $text == *statfs* ]] && break
    done
    adapter+=("$(millis "$start" "$EPOCHREALTIME")")
    settle
    exec {out}<&-

    start=$EPOCHREALTIME
    /usr/bin/sshfs -f -o debug -F "$TOLLVANE_E2E_CONFIG" reachable:/ "$point" 2>/dev/null &
    until mounted; do :; done
    stat -f "$point" >/dev/null
    debian+=("$(millis "$start" "$EPOCHREALTIME")")
    settle
done
printf 'adapter to "statfs" line:       median %.1f ms  (%s)\n' \
    "$(printf '%s\n' "${adapter[@]}" | median)" "$(printf '%.1f ' "${adapter[@]}")"
printf 'Debian sshfs to statvfs return: median %.1f ms  (%s)\n' \
    "$(printf '%s\n' "${debian[@]}" | median)" "$(printf '%.1f ' "${debian[@]}")"
