#!/bin/bash
# Runs CMD... in the end-to-end environment of environment.sh, inside private mount and PID
# namespaces (what it signals or lists is its own; whatever is left dies with it), and exits with
# CMD's status. With --desktop, CMD gets a private X server and session bus (the accessibility bus
# up), as a desktop has them; with --wayland, Debian's weston on that X server (its X11 backend
# gives it a seat), and CMD sees only WAYLAND_DISPLAY and XDG_SESSION_TYPE=wayland. Where the
# environment cannot be built it says why and exits 77 (skipped), or 1 when CI=true.
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh [--desktop|--wayland] build/tests/e2e/tst_e2e
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/environment.sh"

if [[ ${1:-} == --inside ]]; then
    shift
    e2e_setup || { echo "e2e: the environment could not be set up" >&2; exit 1; }
    "$@" # as this shell, PID 1, leaves, the kernel ends every other process and every mount
    exit $?
fi
if [[ ${1:-} == --session ]]; then # on the private X server, with the session bus
    if [[ $2 == --wayland ]]; then
        export XDG_RUNTIME_DIR=$TOLLVANE_E2E_DIR/wayland WAYLAND_DISPLAY=$TOLLVANE_E2E_DIR/wayland/w
        mkdir -m 700 "$XDG_RUNTIME_DIR"
        weston --backend=x11-backend.so --use-pixman --socket=w --idle-time=0 &>"$XDG_RUNTIME_DIR/log" &
        timeout 20 bash -c 'until [[ -S $WAYLAND_DISPLAY ]]; do sleep 0.1; done' ||
            { cat "$XDG_RUNTIME_DIR/log"; exit 1; }
        unset DISPLAY XDG_RUNTIME_DIR QT_QPA_PLATFORM
        export XDG_SESSION_TYPE=wayland
    fi
    shift 2
    /usr/bin/python3 "$here/atspi.py" warm && exec "$@"
    exit 1
fi
if [[ ${1:-} == --desktop || ${1:-} == --wayland ]]; then
    set -- /usr/bin/xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" /usr/bin/dbus-run-session -- \
        /usr/bin/env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$0" --session "$@"
fi
[[ $# != 0 ]] || { echo "usage: $0 [--desktop] CMD [ARG...]" >&2; exit 2; }
if ! reason=$(e2e_check); then
    [[ ${CI:-} == true ]] && { echo "FAIL: end-to-end environment unavailable under CI: $reason"; exit 1; }
    echo "SKIP: end-to-end environment unavailable: $reason"
    exit 77
fi
export TOLLVANE_COMPAT_DIR=$(cd "$TOLLVANE_COMPAT_DIR" && pwd)
made=() # mount targets this run adds to the machine, taken away again after
for dir in /Users /run/sshd; do
    [[ -e $dir ]] || { mkdir -m 755 "$dir" && made+=("$dir"); }
done
export TOLLVANE_E2E_DIR=$(mktemp -d /run/tollvane-e2e.XXXXXX) && made+=("$TOLLVANE_E2E_DIR")
/usr/bin/unshare -m --propagation private --pid --fork --kill-child --mount-proc \
    "$here/run-in-namespace.sh" --inside "$@"
status=$?
rmdir "${made[@]}"
exit $status
