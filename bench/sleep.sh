#!/bin/bash
# A volume over the 40 ms link across what a laptop goes through, through the application's mount
# command line against Debian's sshfs alone with the options peers use (reconnect,
# ServerAliveInterval=15,ServerAliveCountMax=3), in turn, ROUNDS times:
#   sleep: a freeze played as systemd suspends a session (see `freeze` in compat.sh; logind's
#     delay lock is waited for at most 5 s) with a reader waiting on a dead link, a reader in a
#     loop on a healthy one, or an idle volume: seconds until frozen (20 s at most), then after
#     the thaw, a wake and "connected", seconds until a file reads (60 s at most);
#   roaming: connecting, connected (site) during a 3 s stall, then connected: the same ssh? does a
#     file opened before still read?
#   a network event after a black hole, a shared connection (ControlMaster, ControlPersist) after
#     one: seconds from the event until a file reads;
#   a new network (the connection's local address gone, in a network namespace of its own):
#     seconds from "connected" until a file reads.
# Runs in the end-to-end environment, as root (under the end-to-end lock):
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh bench/sleep.sh [ROUNDS]
set -u
source "$(dirname "$0")/../tests/e2e/compat.sh"
rounds=${1:-1}

now() { echo "${EPOCHREALTIME}"; }
since() { python3 -c "print(f'{$(now) - $1:.1f}')"; }
# CLIENT HOST: mounts HOST through the adapter ("ours") or Debian's sshfs alone ("alone").
mountWith() {
    mkdir -p "$V/$2"
    if [[ $1 == ours ]]; then
        { app "$2" 2>"$D/err" & }
        confirmed "$D/err"
    else
        "$D/real-sshfs" -F "$TOLLVANE_E2E_CONFIG" -o reconnect,ServerAliveInterval=15,ServerAliveCountMax=3 \
            "$2:/" "$V/$2" && until_ "stat -f $V/$2 >/dev/null"
    fi
}
unmountIt() {
    /usr/sbin/diskutil unmountDisk force "$V/$1" >/dev/null
    until_ "! pgrep -f '[s]shfs .*$V/$1' >/dev/null"
}
# Seconds until FILE reads, LIMIT at most (then "LIMIT+").
readTime() {
    local t0=$1 limit=$3
    timeout "$limit" bash -c "until cat '$2' &>/dev/null; do sleep 0.05; done" && since "$t0" || echo "$limit+"
}
# CLIENT CASE: the freeze, then the return.
sleepRound() {
    local t0 frozen back
    mountWith "$1" slow
    case $2 in
    dead) black_hole && reader "cat $V/slow/README.txt" && sleep 0.5 ;;
    healthy) reader "while :; do cat $V/slow/README.txt; done &>/dev/null" && sleep 0.5 ;;
    esac
    local client=$(pgrep -f "^/usr/bin/sshfs .*$V/slow\$|^$D/real-sshfs .*$V/slow\$") p adapter=
    [[ $1 == alone ]] || adapter=$(ps -o ppid= -p "$client")
    mkdir -p "$cgroup"
    for p in $adapter $(pgrep -g "$client") $client; do
        echo "$p" >"$cgroup/cgroup.procs" 2>/dev/null
    done
    sleeping
    timeout 5 bash -c 'while gdbus call --system -d org.freedesktop.login1 -o /org/freedesktop/login1 -m org.freedesktop.login1.Manager.ListInhibitors | grep -q "sleep.*delay"; do sleep 0.05; done'
    t0=$(now)
    echo 1 >"$cgroup/cgroup.freeze"
    timeout 20 bash -c "until grep -qx 'frozen 1' $cgroup/cgroup.events; do sleep 0.01; done" && frozen=$(since "$t0") || frozen=20+
    thaw
    t0=$(now)
    woke && connected
    back=$(readTime "$t0" "$V/slow/README.txt" 60)
    unmountIt slow
    echo "$frozen $back"
}
roamRound() {
    local ssh same readable
    mountWith "$1" slow
    exec 3<"$V/slow/README.txt"
    ssh=$(pgrep -x -g "$(pgrep -f "sshfs .*$V/slow\$" | head -1)" ssh)
    network 40 && stall && network 60 && sleep 3 && stall && network 70 && sleep 2
    [[ $(pgrep -x -g "$(pgrep -f "sshfs .*$V/slow\$" | head -1)" ssh) == "$ssh" ]] && same=yes || same=no
    read -r -u 3 && readable=yes || readable=no
    exec 3<&-
    unmountIt slow
    echo "$same $readable"
}
# CLIENT HOST: a black hole, "connected", then a read.
holeRound() {
    local t0
    mountWith "$1" "$2" && cat "$V/$2/README.txt" >/dev/null
    black_hole
    t0=$(now)
    connected
    readTime "$t0" "$V/$2/Documents/shopping list.txt" 90
    unmountIt "$2"
}
# CLIENT, in a network namespace of its own: see `moved` in compat.sh.
movedRound() {
    unshare --net bash -c "source $E2E_HELPERS; $(declare -f mountWith unmountIt readTime now since)
        ip link set lo up && { unshare --net sleep 600 & } && far=\$! && sleep 0.2 &&
        ip link add near type veth peer name far netns \$far &&
        ip addr add 10.9.0.1/24 dev near && ip link set near up &&
        nsenter -t \$far -n sh -c 'ip link set lo up && ip addr add 10.9.0.254/24 dev far && ip link set far up' &&
        nsenter -t \$far -n /usr/sbin/sshd -f $D/sshd_config -o ListenAddress=10.9.0.254:22 -o PidFile=$D/far.pid &&
        { grep -q '^Host moving' $TOLLVANE_E2E_CONFIG || sed -n '/^Host reachable\$/,/^\$/{s/^Host reachable/Host moving/;s/HostName .*/HostName 10.9.0.254/;s/Port .*/Port 22/;p}' $TOLLVANE_E2E_CONFIG >>$TOLLVANE_E2E_CONFIG; } &&
        mountWith $1 moving && cat $V/moving/README.txt >/dev/null &&
        ip addr del 10.9.0.1/24 dev near && ip addr add 10.9.0.2/24 dev near && t0=\$(now) && connected &&
        readTime \$t0 $V/moving/README.txt 90
        unmountIt moving; kill \$far \$(<$D/far.pid)"
}

declare -A result
run() { # NAME COMMAND...: in turn for both clients
    local r first second
    for ((r = 0; r < rounds; r++)); do
        if ((r % 2)); then first=alone second=ours; else first=ours second=alone; fi
        result[$1 $first]+="$("${@:2}" "$first" 2>/dev/null | tail -1); "
        result[$1 $second]+="$("${@:2}" "$second" 2>/dev/null | tail -1); "
    done
}
sleepCase() { sleepRound "$2" "$1"; }
holeCase() { holeRound "$2" "$1"; }
for case in dead healthy idle; do run "sleep, $case (frozen, back)" sleepCase "$case"; done
run "roaming (same ssh, file reads)" roamRound
run "black hole, then connected" holeCase slow
run "shared connection, black hole, then connected" holeCase shared
run "new network" movedRound
for key in "${!result[@]}"; do echo "$key: ${result[$key]}"; done | sort
