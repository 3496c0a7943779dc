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
# it has). Events on the private system bus: `woke` (logind's PrepareForSleep(false)) and
# `connected` (NetworkManager's StateChanged to NM_STATE_CONNECTED_GLOBAL).
black_hole() {
    local holes=$(grep -c holed "$D/delay-proxy.log")
    kill -USR1 "$(<"$D/delay-proxy.pid")" &&
        until_ "[ \$(grep -c holed $D/delay-proxy.log) -gt $holes ]"
}
# DESTINATION PATH INTERFACE SIGNAL SIGNATURE ARGUMENTS: sent by the stand-in that owns DESTINATION.
emit() { gdbus call --system -d "$1" -o "$2" -m org.freedesktop.DBus.Mock.EmitSignal "${@:3}" >/dev/null; }
woke() { emit org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager PrepareForSleep b '[<false>]'; }
connected() { emit org.freedesktop.NetworkManager /org/freedesktop/NetworkManager org.freedesktop.NetworkManager StateChanged u '[<uint32 70>]'; }
# `within SECONDS COMMAND...`: COMMAND's status, or a failure when it has not ended by then (a
# read stuck on a volume, which no signal ends, is left behind). `transport HOST`: the ssh under
# the host's client.
within() { "${@:2}" & local pid=$!; timeout "$1" tail --pid=$pid -f /dev/null && wait $pid; }
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
