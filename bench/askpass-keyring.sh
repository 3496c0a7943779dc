#!/bin/bash
# Usage: askpass-keyring.sh BUILD_DIR [RUNS]
# What asking the keyring first costs the askpass dialog, in turn in one run, each a whole process
# started by an "ssh" (a copy of bash under that name, as the dialog answers ssh alone) on the X
# server in $DISPLAY: the time to the first shown window with no keyring entry to look for (the
# yardstick: a prompt whose account the adapter did not name), with no keyring on the session bus,
# and with a gnome-keyring-daemon that holds nothing for it; and the time until a stored answer
# has been given, with no window. Prints the medians and their ratios to the yardstick. Runs on a
# session bus of its own that starts no service, with HOME and XDG_RUNTIME_DIR in a temporary
# folder, so that no keyring of yours is touched.
#   Xvfb :99 -nolisten tcp & export DISPLAY=:99
#   bench/askpass-keyring.sh build 20
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ ${1:-} != --inside ]]; then
    [[ $# -ge 1 && -n ${DISPLAY:-} ]] || { echo "usage: DISPLAY=... $0 BUILD_DIR [RUNS]" >&2; exit 2; }
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    mkdir -m 700 "$scratch/home" "$scratch/run"
    printf '%s\n' '<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"' \
        '"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">' \
        "<busconfig><type>session</type><listen>unix:dir=$scratch</listen><policy context=\"default\">" \
        '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>' \
        '</policy></busconfig>' >"$scratch/bus.conf"
    HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run dbus-run-session --config-file="$scratch/bus.conf" -- \
        "$0" --inside "$(cd "$1" && pwd)/compat/tollvane-askpass" "${2:-20}" "$scratch"
    exit
fi
askpass=$2 runs=$3 ssh=$4/ssh
cp /bin/bash "$ssh"
prompt="u@h's password: "
now() { date +%s%N; }
# ms to the dialog's window, or nothing when the program ended first.
shown() {
    local start=$(now) pid
    "$ssh" -c "\"$askpass\" \"$prompt\" >/dev/null; true" &
    pid=$!
    until xwininfo -name Tollvane 2>/dev/null | grep -q IsViewable; do
        kill -0 $pid 2>/dev/null || return 0
        sleep 0.01
    done
    echo $((($(now) - start) / 1000000))
    pkill -P $pid
    wait $pid 2>/dev/null || true
}
# ms until the stored answer was given, or nothing when it was not.
answered() {
    local start=$(now) answer
    answer=$("$ssh" -c "\"$askpass\" \"$prompt\"; true")
    [[ $answer == stored ]] && echo $((($(now) - start) / 1000000))
}
plain=() none=() empty=() stored=()
for ((i = 0; i < runs + 1; i++)); do # the first round warms the caches and is not counted
    rm -rf "$HOME/.local/share/keyrings" "$XDG_RUNTIME_DIR/tollvane-askpass"
    p=$(shown)
    export TOLLVANE_SSH_DESTINATION=u@h:22
    n=$(shown)
    gnome-keyring-daemon --foreground --unlock --components=secrets <<<bench &>/dev/null &
    keyring=$!
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true; do
        sleep 0.05
    done
    e=$(shown)
    echo -n stored | secret-tool store --label=bench user u@h:22 server "Tollvane: password for u@h:22" \
        type plaintext
    s=$(answered)
    kill $keyring && wait $keyring 2>/dev/null || true
    unset TOLLVANE_SSH_DESTINATION
    ((i == 0)) || [[ -z $p || -z $n || -z $e || -z $s ]] || { plain+=($p); none+=($n); empty+=($e); stored+=($s); }
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
P=$(median "${plain[@]}") N=$(median "${none[@]}") E=$(median "${empty[@]}") S=$(median "${stored[@]}")
echo "medians of ${#plain[@]} rounds: the dialog with no entry to look for $P ms; with no keyring on the bus" \
    "$N ms ($(ratio "$N" "$P")); with a keyring that holds nothing $E ms ($(ratio "$E" "$P")); a stored" \
    "answer given, no window, $S ms ($(ratio "$S" "$P"))"
