#!/bin/bash
# Runs accessibility.py against HOST_PROGRAM on a private X server and session bus, as a desktop
# with a screen reader would have them. Skips (77) where the tools are missing, fails under CI.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
missing=""
for tool in /usr/bin/xvfb-run /usr/bin/Xvfb /usr/bin/dbus-run-session /usr/bin/python3; do
    [[ -x $tool ]] || missing+=" $tool"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || missing+=" python3-pyatspi"
[[ -e /usr/libexec/at-spi-bus-launcher ]] || missing+=" at-spi2-core"
if [[ -n $missing ]]; then
    echo "SKIP: missing$missing (Debian packages xvfb, xauth, dbus, at-spi2-core, python3-pyatspi)"
    [[ ${CI:-} == true ]] && exit 1
    exit 77
fi
exec /usr/bin/xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    /usr/bin/dbus-run-session -- /usr/bin/python3 "$here/accessibility.py" "$@"
