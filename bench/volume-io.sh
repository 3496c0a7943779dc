#!/bin/bash
# A volume's I/O through the application's mount command line (the adapter, its standard error
# read line by line as the application reads it) against Debian's sshfs alone on the same sshd,
# in turn (which goes first alternates), ROUNDS times: a sequential read of a large file, a write, and a walk that reads many
# small files. Prints each median, the median of the per-round ratios, and the lines the
# application would have read per mount. Runs in the end-to-end environment, as root:
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh bench/volume-io.sh [ROUNDS [MiB [FILES]]]
set -eu
rounds=${1:-3} mib=${2:-256} files=${3:-3000}
mp=$TOLLVANE_E2E_VOLUMES/reachable src=$TOLLVANE_E2E_REMOTE/bench
mkdir -p "$mp" "$src/many"
head -c "${mib}M" /dev/urandom >"$src/large"
for ((i = 0; i < files; i++)); do echo "file $i" >"$src/many/$i"; done

now() { date +%s%N; }
# Runs the mount command given, waits for the volume to answer, times the three operations and
# unmounts. Prints "read write walk" in ms.
measure() {
    local t0 t1 t2 t3
    "$@"
    until mountpoint -q "$mp"; do sleep 0.01; done
    t0=$(now)
    cat "$mp/bench/large" >/dev/null
    t1=$(now)
    dd if=/dev/zero of="$mp/bench/written" bs=1M count=$((mib / 4)) conv=fsync status=none
    t2=$(now)
    find "$mp/bench/many" -type f -print0 | xargs -0 cat >/dev/null
    t3=$(now)
    /usr/sbin/diskutil unmountDisk force "$mp" >/dev/null
    while pgrep -f "^/usr/bin/sshfs .*$mp" >/dev/null; do sleep 0.05; done
    rm -f "$src/written"
    echo $(((t1 - t0) / 1000000)) $(((t2 - t1) / 1000000)) $(((t3 - t2) / 1000000))
}
# The application's command line; its standard error is counted line by line, as it reads it.
ours() {
    { /bin/bash -c "/usr/local/bin/sshfs reachable:/ $mp -o volname='reachable' -o volicon='/Users/$(id -un)/Library/Application\ Support/Tollvane/VolumeIcon.icns' -o debug" 2>&1 >/dev/null |
        { n=0; while IFS= read -r _; do n=$((n + 1)); done; echo "$n" >"$TOLLVANE_E2E_DIR/lines"; }; } &
}
alone() { /usr/bin/sshfs -F "$TOLLVANE_E2E_CONFIG" reachable:/ "$mp"; }

declare -a a b lines
viaOurs() {
    a+=("$(measure ours)")
    wait # the line counter, once the adapter has gone
    lines+=("$(cat "$TOLLVANE_E2E_DIR/lines")")
}
for ((r = 0; r < rounds; r++)); do # which goes first alternates
    if ((r % 2)); then b+=("$(measure alone)") && viaOurs; else viaOurs && b+=("$(measure alone)"); fi
done
python3 - "$rounds" "${a[@]}" "${b[@]}" <<'PY'
import statistics, sys
n = int(sys.argv[1]); rows = [list(map(int, r.split())) for r in sys.argv[2:]]
ours, alone = rows[:n], rows[n:]
for i, what in enumerate(["sequential read", "write", "walk of small files"]):
    o = [r[i] for r in ours]; d = [r[i] for r in alone]
    ratios = [x / max(y, 1) for x, y in zip(o, d)]
    print(f"{what}: adapter {statistics.median(o)} ms, Debian's sshfs alone {statistics.median(d)} ms, "
          f"ratio {statistics.median(ratios):.3f} (rounds {min(ratios):.3f} to {max(ratios):.3f})")
PY
echo "lines read by the application per mount: ${lines[*]}"
