#!/usr/bin/env bash
# Installs what is needed (Debian 12 or 13), builds Tollvane and starts it on a built-in demo: a
# private mount namespace with /Users on tmpfs, the compat sshfs and diskutil at their fixed paths,
# an sshd on 127.0.0.1 serving a demo folder, and a configuration with a reachable host, a refused
# one, an unresolvable one and a few more names. Needs root.
#
# With a display (DISPLAY set and answering; keep it through sudo with `sudo -E`) the window
# opens for you to use; close it to end the demo. Without one the window runs on a private X
# server, mounts the reachable host and unmounts it again through its own buttons, tries the
# refused host, and saves a screenshot of every state in demo-screenshots/.
# Everything the demo started is ended and unmounted when it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ ${1:-} != --inside ]]; then
    if [[ $(id -u) != 0 ]]; then
        echo "demo: run as root (sudo -E bash scripts/demo.sh): it needs a private mount namespace" >&2
        exit 1
    fi
    source scripts/packages.sh
    tollvane_install_packages
    cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLLVANE_BUILD_BENCH=OFF
    cmake --build build/demo --target tollvane tollvane-sshfs tollvane-diskutil tollvane-demo-driver
    export TOLLVANE_COMPAT_DIR=$root/build/demo/compat
    exec tests/e2e/run-in-namespace.sh "$root/scripts/demo.sh" --inside
fi

# Inside the namespace, with the environment of tests/e2e/environment.sh set up. A few more hosts
# show search and filter; "photos" is the demo sshd under a second name.
source "$root/tests/e2e/environment.sh"
sed -i '/^Host \(slow\|shared\|once\|keys\)$/,/^$/d' "$TOLLVANE_E2E_CONFIG" # the tests' own; the window fits without them
e2e_add_config_block()
{
    printf '\n%s\n' "$@" >>"$TOLLVANE_E2E_CONFIG"
}
e2e_add_config_block "Host photos" "    HostName 127.0.0.1" "    Port $TOLLVANE_E2E_PORT" \
    "    User $(id -un)" "    IdentityFile $TOLLVANE_E2E_KEY" \
    "    StrictHostKeyChecking no" "    UserKnownHostsFile /dev/null" "    LogLevel ERROR"
for host in db1 mydb DB2 backup-server; do
    e2e_add_config_block "Host $host" "    HostName $host.invalid"
done
e2e_add_config_block "Host *" "    ServerAliveInterval 30"
echo "demo: hosts from $TOLLVANE_E2E_CONFIG; \"reachable\" and \"photos\" show $TOLLVANE_E2E_REMOTE"

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
    echo "demo: opening the window on $DISPLAY; close it to end the demo"
    "$root/build/demo/app/tollvane" || true
    exit 0
fi

shots=$root/demo-screenshots
rm -rf "$shots"
mkdir -p "$shots"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
for _ in {1..100}; do
    DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
    sleep 0.05
done
echo "demo: no display; driving the window on a private X server ($display)"
status=0
DISPLAY=$display QT_QPA_PLATFORM=xcb "$root/build/demo/scripts/demo/tollvane-demo-driver" "$shots" ||
    status=$?
echo "demo: screenshots are in $shots"
exit $status
