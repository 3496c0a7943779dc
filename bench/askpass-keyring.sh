#!/bin/bash
# Usage: askpass-keyring.sh BUILD_DIR [RUNS]
# What asking the keyring first costs the askpass dialog, in turn in one run, each a whole process
# started by an "ssh" (a copy of bash under that name, as the dialog answers ssh alone, running a
# script named u@h, which ssh -G reads as the account u@h:22) on the X server in $DISPLAY: the time
# to the first shown window for a question that has no keyring entry (the yardstick), and for a
# password with no keyring on the session bus and with a gnome-keyring-daemon that holds nothing
# for it (ssh -G and the keyring asked first); and the time until a stored password has been
# given, with no window. Prints the medians, and the medians of each round's ratios to the
# yardstick. Runs on a session bus of its own that starts no service, with HOME and
# XDG_RUNTIME_DIR in a temporary folder, so that no keyring of yours is touched.
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
askpass=$2 runs=$3 scratch=$4 ssh=$4/ssh
cp /bin/bash "$ssh"
printf '"%s" "u@h'"'"'s password: "\n' "$askpass" >"$scratch/u@h"
printf '"%s" "Verification code: "\n' "$askpass" >"$scratch/code"
now() { date +%s%N; }
# ms to the dialog's window for the question in script $1, or nothing when the program ended first.
shown() {
    local start=$(now) pid
    (cd "$scratch" && exec "$ssh" "$1" >/dev/null) &
    pid=$!
    until xwininfo -name Tollvane 2>/dev/null | grep -q IsViewable; do
        kill -0 $pid 2>/dev/null || return 0
        sleep 0.01
    done
    echo $((($(now) - start) / 1000000))
    pkill -P $pid
    wait $pid 2>/dev/null || true
}
# ms until the stored password was given, or nothing when it was not.
answered() {
    local start=$(now) answer
    answer=$(cd "$scratch" && "$ssh" u@h)
    [[ $answer == stored ]] && echo $((($(now) - start) / 1000000))
}
plain=() none=() empty=() stored=()
for ((i = 0; i < runs + 1; i++)); do # the first round warms the caches and is not counted
    rm -rf "$HOME/.local/share/keyrings" "$XDG_RUNTIME_DIR/tollvane-askpass"
    # Which goes first alternates: the first after a round's end is slower.
    if ((i % 2)); then p=$(shown code) n=$(shown u@h); else n=$(shown u@h) p=$(shown code); fi
    gnome-keyring-daemon --foreground --unlock --components=secrets <<<bench &>/dev/null &
    keyring=$!
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true; do
        sleep 0.05
    done
    e=$(shown u@h)
    echo -n stored | secret-tool store --label=bench user u@h:22 server "Tollvane: password for h (u@h:22)" \
        type plaintext
    s=$(answered)
    kill $keyring && wait $keyring 2>/dev/null || true
    ((i == 0)) || [[ -z $p || -z $n || -z $e || -z $s ]] || { plain+=($p); none+=($n); empty+=($e); stored+=($s); }
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The median of the rounds' ratios of $1 to the yardstick.
ratio() {
    local -n times=$1
    median $(for ((r = 0; r < ${#plain[@]}; r++)); do awk -v a="${times[r]}" -v b="${plain[r]}" 'BEGIN { printf "%.3f\n", a / b }'; done) |
        xargs printf '%.2f'
}
echo "medians of ${#plain[@]} rounds (of their ratios to the first): the dialog for a question without an" \
    "entry $(median "${plain[@]}") ms; for a password with no keyring on the bus $(median "${none[@]}") ms" \
    "($(ratio none)), with a keyring that holds nothing $(median "${empty[@]}") ms ($(ratio empty)); a stored" \
    "password given, no window, $(median "${stored[@]}") ms ($(ratio stored))"
