#!/bin/bash
# Runs CMD... in the end-to-end environment (see environment.sh for what it holds and the
# TOLLVANE_E2E_* variables CMD finds), inside a private mount namespace, and exits with CMD's
# status. Needs root, /dev/fuse, unshare, sshd and Debian's sshfs, and TOLLVANE_COMPAT_DIR naming
# the directory with tollvane-sshfs and tollvane-diskutil. Without them it says why and exits 77
# (skipped), or 1 when CI=true.
#
#   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh build/tests/e2e/tst_compat
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/environment.sh"

if [[ ${1:-} == --inside ]]; then
    shift
    trap e2e_teardown EXIT
    trap 'exit 130' INT TERM
    if ! e2e_setup; then
        echo "e2e: the environment could not be set up" >&2
        exit 1
    fi
    "$@"
    exit $?
fi

if [[ $# == 0 ]]; then
    echo "usage: $0 CMD [ARG...]" >&2
    exit 2
fi
if ! reason=$(e2e_check); then
    if [[ ${CI:-} == true ]]; then
        echo "FAIL: end-to-end environment unavailable under CI: $reason"
        exit 1
    fi
    echo "SKIP: end-to-end environment unavailable: $reason"
    exit 77
fi
TOLLVANE_COMPAT_DIR=$(cd "$TOLLVANE_COMPAT_DIR" && pwd)
export TOLLVANE_COMPAT_DIR
exec /usr/bin/unshare -m --propagation private "$here/run-in-namespace.sh" --inside "$@"
