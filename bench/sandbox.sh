#!/bin/bash
# Usage: sandbox.sh COMMAND [ARG...]
# Runs COMMAND as root in a private mount namespace with empty tmpfs folders on /Users and on the
# home directory, and a configuration of three hosts at /Users/<login>/.ssh/config: the application
# then lists three rows and installs its volume icon there, leaving the machine as it was.
set -eu
if [[ ${1:-} != --inside ]]; then
    [[ $(id -u) == 0 ]] || { echo "sandbox.sh: needs root" >&2; exit 77; }
    [[ -d /Users ]] || { echo "sandbox.sh: /Users must exist as a mount target" >&2; exit 77; }
    exec unshare -m --propagation private "$0" --inside "$@"
fi
shift
login=$(id -un)
home=$(getent passwd "$login" | cut -d: -f6)
mount -t tmpfs -o mode=755 tollvane-bench /Users
mount -t tmpfs -o mode=700 tollvane-bench "$home"
mkdir -p -m 700 "/Users/$login/.ssh"
printf 'Host alpha\n    HostName 127.0.0.1\n\nHost beta\n    HostName 127.0.0.1\n\nHost gamma\n    HostName 127.0.0.1\n' \
    >"/Users/$login/.ssh/config"
exec "$@"
