#!/bin/bash
# A mount and a volume's I/O through the application's mount command line (the adapter, its
# standard error read line by line as the application reads it) against Debian's sshfs alone with
# the options peers use (reconnect,ServerAliveInterval=15,ServerAliveCountMax=3) on the same sshd,
# in turn (which goes first alternates), ROUNDS times for each HOST: the mount (start to the
# adapter's "statfs" line; for sshfs alone, start to its first statvfs answered; five pairs a
# round), listing 1,000 files, reading 300 small files, a 32 MiB read, an 8 MiB write (with fsync). "slow" is the
# end-to-end sshd behind 40 ms of round trip, "reachable" the same on loopback. Prints each
# median, the median of the per-round ratios, and the lines the application read per mount.
# Runs in the end-to-end environment, as root (under the end-to-end lock):
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh bench/volume-io.sh [ROUNDS [HOST...]]
set -eu
rounds=${1:-3}
hosts=("${@:2}")
((${#hosts[@]})) || hosts=(slow reachable)
src=$TOLLVANE_E2E_REMOTE/bench
mkdir -p "$src/many" "$src/small"
head -c 32M /dev/urandom >"$src/large"
for ((i = 0; i < 1000; i++)); do echo "file $i" >"$src/many/$i"; done
for ((i = 0; i < 300; i++)); do echo "small file $i" >"$src/small/$i"; done

ms() { echo $(((${EPOCHREALTIME/./} - t) / 1000)); } # since $t (µs, from EPOCHREALTIME)
# HOST MOUNTER: mounts with MOUNTER (which prints the ms it took), times each operation on the
# volume and unmounts. Prints "mount list small read write" in ms.
measure() {
    local mp=$TOLLVANE_E2E_VOLUMES/$1 times t
    mkdir -p "$mp"
    times=$("$2" "$1" "$mp")
    t=${EPOCHREALTIME/./}
    ls -l "$mp/bench/many" >/dev/null
    times+=" $(ms)" t=${EPOCHREALTIME/./}
    find "$mp/bench/small" -type f -print0 | xargs -0 cat >/dev/null
    times+=" $(ms)" t=${EPOCHREALTIME/./}
    cat "$mp/bench/large" >/dev/null
    times+=" $(ms)" t=${EPOCHREALTIME/./}
    dd if=/dev/zero of="$mp/bench/written" bs=1M count=8 conv=fsync status=none
    times+=" $(ms)"
    unmount "$mp"
    rm -f "$src/written"
    echo "$times"
}
# The mount alone, with MOUNTER: its ms.
mountOnly() {
    local mp=$TOLLVANE_E2E_VOLUMES/$1
    mkdir -p "$mp"
    "$2" "$1" "$mp"
    unmount "$mp"
}
unmount() {
    /usr/sbin/diskutil unmountDisk force "$1" >/dev/null
    while pgrep -f "sshfs .*$1" >/dev/null; do sleep 0.05; done # the adapter too
    sleep 0.2 # the server's side of the session ends
}
# The application's command line, until the line it takes for "mounted"; the lines it reads are
# counted until the adapter has gone.
ours() {
    local t=${EPOCHREALTIME/./} line n=0 out
    exec {out}< <(/bin/bash -c "/usr/local/bin/sshfs $1:/ $2 -o volname='$1' -o volicon='/Users/$(id -un)/Library/Application\ Support/Tollvane/VolumeIcon.icns' -o debug" 2>&1 >/dev/null)
    while IFS= read -r -u $out line && ((++n)) && [[ $line != *statfs* ]]; do :; done
    ms
    { while IFS= read -r line; do ((++n)); done; echo "$n" >>"$TOLLVANE_E2E_DIR/lines"; } <&$out >/dev/null &
    exec {out}<&-
}
alone() {
    local t=${EPOCHREALTIME/./}
    /usr/bin/sshfs -F "$TOLLVANE_E2E_CONFIG" -o reconnect,ServerAliveInterval=15,ServerAliveCountMax=3 "$1:/" "$2"
    stat -f "$2" >/dev/null
    ms
}

# Not timed: the programs and the served files read once, so that the first round is no colder.
/usr/local/bin/sshfs -V &>/dev/null || true
measure reachable alone >/dev/null
rm -f "$TOLLVANE_E2E_DIR/lines"
results=() mounts=()
for ((r = 0; r < rounds; r++)); do
    for host in "${hosts[@]}"; do
        if ((r % 2)); then
            b=$(measure "$host" alone) a=$(measure "$host" ours)
        else
            a=$(measure "$host" ours) b=$(measure "$host" alone)
        fi
        results+=("$host $a $b")
        for ((m = 0; m < 4; m++)); do # four more mounts each: a mount varies more than the I/O
            if ((m % 2)); then
                b=$(mountOnly "$host" alone) a=$(mountOnly "$host" ours)
            else
                a=$(mountOnly "$host" ours) b=$(mountOnly "$host" alone)
            fi
            mounts+=("$host $a $b")
        done
    done
done
# The last line counter ends just after its adapter.
timeout 5 bash -c "until ((5 * $rounds * ${#hosts[@]} == \$(wc -l <$TOLLVANE_E2E_DIR/lines))); do sleep 0.05; done"
python3 - "${#results[@]}" "${results[@]}" "${mounts[@]}" <<'PY'
import statistics, sys
what = ["mount", "listing 1,000 files", "reading 300 small files", "a 32 MiB read", "an 8 MiB write"]
n = int(sys.argv[1])
rows, mounts = [r.split() for r in sys.argv[2:2 + n]], [r.split() for r in sys.argv[2 + n:]]
for host in dict.fromkeys(r[0] for r in rows):
    print(f"{host}:")
    for i, name in enumerate(what):
        o = [int(r[1 + i]) for r in rows if r[0] == host]
        d = [int(r[6 + i]) for r in rows if r[0] == host]
        if i == 0:
            o += [int(r[1]) for r in mounts if r[0] == host]
            d += [int(r[2]) for r in mounts if r[0] == host]
        ratios = [x / max(y, 1) for x, y in zip(o, d)]
        print(f"  {name}: adapter {statistics.median(o)} ms, "
              f"Debian's sshfs alone {statistics.median(d)} ms, ratio {statistics.median(ratios):.3f} "
              f"(rounds {min(ratios):.3f} to {max(ratios):.3f})")
PY
echo "lines read by the application per mount: $(tr '\n' ' ' <"$TOLLVANE_E2E_DIR/lines")"
