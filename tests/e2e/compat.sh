# The helpers of tst_e2e's shell steps. $V: the volumes folder, $R: what the server serves, $D:
# the scratch folder. `app HOST [MOUNTPOINT]` runs the command line the application runs; `fake
# SCRIPT` puts a scripted client over /usr/bin/sshfs for the scenario (a bind mount inside the
# private namespace), which records its arguments in $D/args; the real client stays at
# $D/real-sshfs. `until_ CONDITION` waits until the shell condition holds (20 s at most);
# `confirmed FILE` for the mount's confirmation in the standard error kept in FILE. `keyring`
# starts a new, unlocked keyring daemon on the session bus, for the rest of the scenario, and
# `lock_keyring` locks it (an unlock then asks through the desktop's prompter, gcr-prompter),
# noting the sums of its files in $D/sums; `until_ "$asking"` waits for the askpass dialog;
# `set_password WORD` makes WORD the test account's, noted in $D/password; between `watch_leaks`
# and `no_leaks`, no /proc/*/cmdline or /proc/*/environ, nor a file in $XDG_RUNTIME_DIR, holds it.
export D=$TOLLVANE_E2E_DIR V=$TOLLVANE_E2E_VOLUMES R=$TOLLVANE_E2E_REMOTE
export E2E_HELPERS=${BASH_SOURCE[0]}
[ -e "$D/real-sshfs" ] || cp /usr/bin/sshfs "$D/real-sshfs"
rm -f "$D/err" "$D/go" "$D/args"
app() {
    mkdir -p "${2:-$V/$1}"
    /bin/bash -c "/usr/local/bin/sshfs $1:/ ${2:-$V/$1} -o volname='$1' -o volicon='/Users/$(id -un)/Library/Application\ Support/Tollvane/VolumeIcon.icns' -o debug"
}
fake() {
    printf '#!/bin/bash\nprintf "%%s\\n" "$@" >%s/args\n%s\n' "$D" "$1" >"$D/fake"
    chmod +x "$D/fake" && mount --bind "$D/fake" /usr/bin/sshfs
}
until_() { timeout 20 bash -c "until $1; do sleep 0.05; done"; }
confirmed() { until_ "grep -q statfs $1"; }
# Scripted clients: one that mounts and stays until TERM; one around the real client that
# outstays its volume, deaf to TERM.
stays='trap "umount \"${!#}\"; exit 0" TERM; mount -t tmpfs x "${!#}"; while :; do sleep 0.05; done'
outstays="trap '' TERM; $D/real-sshfs \"\$@\"; while :; do sleep 0.1; done"
# The slow host's link: `black_hole` makes black holes of its open connections (and returns once
# it has); `stall` holds what they carry until the next `stall`. Events on the private system bus,
# from the stand-ins that own the services' names: `sleeping` and `woke` (logind's
# PrepareForSleep), `network STATE` (NetworkManager's state property and StateChanged: 40
# connecting, 60 connected (site), 70 connected), `connected` (connecting, then connected).
_proxy_signal() {
    local lines=$(wc -l <"$D/delay-proxy.log")
    kill "-$1" "$(<"$D/delay-proxy.pid")" && until_ "[ \$(wc -l <$D/delay-proxy.log) -gt $lines ]"
}
black_hole() { _proxy_signal USR1; }
stall() { _proxy_signal USR2; }
# DESTINATION PATH INTERFACE SIGNAL SIGNATURE ARGUMENTS: sent by the stand-in that owns DESTINATION.
emit() { gdbus call --system -d "$1" -o "$2" -m org.freedesktop.DBus.Mock.EmitSignal "${@:3}" >/dev/null; }
_sleep() { emit org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager PrepareForSleep b "[<$1>]"; }
sleeping() { _sleep true; }
woke() { _sleep false; }
network() { gdbus call --system -d org.freedesktop.NetworkManager -o /org/freedesktop/NetworkManager -m org.freedesktop.DBus.Mock.SetGlobalConnectionState "$1" >/dev/null; }
connected() { network 40 && network 70; }
# `forge HOST`: a wake and "connected" sent straight to the host's adapter, and a sleep and a wake
# broadcast by a program that owns neither service's name.
forge() {
    local me=$(/usr/bin/python3 -c "import dbus, sys
bus = dbus.SystemBus(); d = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
print(*[n for n in d.ListNames() if n[0] == ':' and d.GetConnectionUnixProcessID(n) == int(sys.argv[1])])" \
        "$(ps -o ppid= -p "$(pgrep -f "^/usr/bin/sshfs .*$V/$1\$")")")
    local login=(/org/freedesktop/login1 org.freedesktop.login1.Manager.PrepareForSleep)
    [ -n "$me" ] && dbus-send --system --type=signal --dest="$me" "${login[@]}" boolean:false &&
        dbus-send --system --type=signal --dest="$me" /org/freedesktop/NetworkManager \
            org.freedesktop.NetworkManager.StateChanged uint32:70 &&
        dbus-send --system --type=signal "${login[@]}" boolean:true &&
        dbus-send --system --type=signal "${login[@]}" boolean:false
}
# `narrow HOST RATE`: a host like "slow" whose link also carries at most RATE bytes a second.
narrow() {
    /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/delay-proxy.py" 0 "$TOLLVANE_E2E_PORT" 20 \
        "$D/$1.log" "$2" >"$D/$1.port" &
    until_ "[ -s $D/$1.port ]" &&
        sed -n "/^Host slow\$/,/^\$/{s/^Host slow/Host $1/;s/Port .*/Port $(<"$D/$1.port")/;p}" \
            "$TOLLVANE_E2E_CONFIG" >>"$TOLLVANE_E2E_CONFIG"
}
# `moved`, in a network namespace of its own: "moving", the host on the far side of a veth
# (an sshd in another namespace), mounted from 10.9.0.1, which then gives way to 10.9.0.2 as on
# another network; after "connected" a file reads within 3 s, its connection ended at once.
moved() {
    ip link set lo up && { unshare --net sleep 600 & } && local far=$! && sleep 0.2 &&
        ip link add near type veth peer name far netns $far &&
        ip addr add 10.9.0.1/24 dev near && ip link set near up &&
        nsenter -t $far -n sh -c 'ip link set lo up && ip addr add 10.9.0.254/24 dev far && ip link set far up' &&
        nsenter -t $far -n /usr/sbin/sshd -f "$D/sshd_config" -o ListenAddress=10.9.0.254:22 -o PidFile="$D/far.pid" &&
        sed -n "/^Host reachable\$/,/^\$/{s/^Host reachable/Host moving/;s/HostName .*/HostName 10.9.0.254/;s/Port .*/Port 22/;p}" \
            "$TOLLVANE_E2E_CONFIG" >>"$TOLLVANE_E2E_CONFIG" &&
        { app moving 2>"$D/err" & } && confirmed "$D/err" &&
        ip addr del 10.9.0.1/24 dev near && ip addr add 10.9.0.2/24 dev near && connected &&
        reads_within 3 "$V/moving/README.txt" && grep -q "local address" "$D/err"
    local status=$?
    /usr/sbin/diskutil unmountDisk force "$V/moving" >/dev/null
    kill $far "$(<"$D/far.pid")"
    return $status
}
# `freeze HOST`, as systemd suspends a session: a cgroup (v2) holding the host's adapter, client
# and ssh, and the readers started with `reader COMMAND`, then PrepareForSleep(true), then a wait
# while a sleep delay lock is held (5 s at most, as logind's InhibitDelayMaxSec), then
# cgroup.freeze; it fails unless the cgroup is frozen within a second. `thaw` thaws and removes it.
cgroup=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/self/mounts)/${D##*/}
reader() {
    mkdir -p "$cgroup" && { (echo $BASHPID >"$cgroup/cgroup.procs" && exec bash -c "$1") & } &&
        echo $! >>"$D/readers"
}
freeze() {
    local client=$(pgrep -f "^/usr/bin/sshfs .*$V/$1\$") p
    mkdir -p "$cgroup"
    for p in $(ps -o ppid= -p "$client") $(pgrep -g "$client"); do echo "$p" >"$cgroup/cgroup.procs"; done
    sleeping && timeout 5 bash -c 'while gdbus call --system -d org.freedesktop.login1 -o /org/freedesktop/login1 -m org.freedesktop.login1.Manager.ListInhibitors | grep -q "sleep.*delay"; do sleep 0.05; done'
    echo 1 >"$cgroup/cgroup.freeze" && timeout 1 bash -c "until grep -qx 'frozen 1' $cgroup/cgroup.events; do sleep 0.01; done"
}
thaw() {
    [ -d "$cgroup" ] || return 0
    echo 0 >"$cgroup/cgroup.freeze"
    [ ! -e "$D/readers" ] || { kill $(<"$D/readers") 2>/dev/null; rm "$D/readers"; }
    local p
    for p in $(<"$cgroup/cgroup.procs"); do echo "$p" >"${cgroup%/*}/cgroup.procs"; done
    rmdir "$cgroup"
}
# `within SECONDS COMMAND...`: COMMAND's status, or a failure when it has not ended by then (a
# read stuck on a volume, which no signal ends, is left behind); `reads_within SECONDS FILE`: the
# file is read (again and again, while its volume is not there yet) by then. `transport HOST`: the
# ssh under the host's client.
within() { "${@:2}" & local pid=$!; timeout "$1" tail --pid=$pid -f /dev/null && wait $pid; }
reads_within() { within "$1" bash -c "until cat '$2' >/dev/null 2>&1; do sleep 0.05; done"; }
transport() { pgrep -x -g "$(pgrep -f "^/usr/bin/sshfs .*$V/$1\$")" ssh; }
keyring() {
    rm -rf ~/.local/share/keyrings
    gnome-keyring-daemon --foreground --unlock --components=secrets <<<"$D" &>"$D/keyring.log" &
    echo $! >"$D/keyring.pid" && until_ "dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q true"
}
lock_keyring() { gdbus call --session -d org.freedesktop.secrets -o /org/freedesktop/secrets -m org.freedesktop.Secret.Service.Lock "[objectpath '/org/freedesktop/secrets/collection/login']" >/dev/null && md5sum ~/.local/share/keyrings/* >"$D/sums"; }
asking="xwininfo -root -tree | grep -qF '\"Tollvane\": (\"tollvane-askpass\"'"
set_password() { echo "$1" >"$D/password" && echo "tollvane-e2e:$1" | chpasswd; }
watch_leaks() {
    rm -f "$D/seen" "$D/stop"
    (while [ ! -e "$D/stop" ]; do grep -lasFf "$D/password" /proc/[0-9]*/cmdline /proc/[0-9]*/environ >>"$D/seen"; done &)
}
no_leaks() { touch "$D/stop" && [ ! -s "$D/seen" ] && ! grep -rqsFf "$D/password" "$XDG_RUNTIME_DIR"; }
