# The environment in which the end-to-end tests (and the demo) run: source this file, call
# e2e_check, and e2e_setup as the first process of private mount and PID namespaces (with their
# own /proc), whose end ends every process and mount of the environment. run-in-namespace.sh does
# all of that around one command, and makes the mount targets the machine lacks (/Users,
# /run/sshd, $TOLLVANE_E2E_DIR) before, and takes them away after.
#
# Inside, as the README tells users to set it up: /Users/<login> is a symbolic link to the home
# (writable through an overlay whose upper layer is on tmpfs, so the real home stays as it was;
# /Users itself is a tmpfs). /usr/local/bin/sshfs and /usr/sbin/diskutil are links to the compat
# programs in $TOLLVANE_COMPAT_DIR, as the package makes them (overlays), fusectl is mounted, and
# an sshd on 127.0.0.1 serves $TOLLVANE_E2E_REMOTE as the root of every sftp session, to the
# login with its key and to the account "tollvane-e2e" (made in an overlay on /etc) with the
# password "tollvane-e2e" (three tries: MaxAuthTries 3). The configuration holds "reachable",
# "refused" (a closed port), "password" (that account), "once" (the same account, one password
# prompt), "keys" (the same account, two keys the server refuses offered first), "newkey" (a host
# key not yet known), and "silent" and "silent3" (a listener that never greets; the second with the user's
# own ConnectTimeout), and "slow": "reachable" through delay-proxy.py, a link with 40 ms of round
# trip (its PID in $TOLLVANE_E2E_DIR/delay-proxy.pid, a line per black hole in delay-proxy.log), and
# "shared" the same through an ssh master of its own (ControlMaster auto, ControlPersist yes). A
# private system bus, at DBUS_SYSTEM_BUS_ADDRESS, serves python3-dbusmock's logind and
# NetworkManager. The desktop's handler for folders is a stand-in that adds the path it was
# given to $TOLLVANE_E2E_DIR/opened. The session bus starts no keyring daemon. XDG_RUNTIME_DIR is
# a folder of the environment's own, as a session has one.
# Exported: TOLLVANE_E2E_CONFIG, _VOLUMES (where the mount points go), _REMOTE, _PORT (the
# sshd's), _KEY (the client's private key) and _DIR (scratch, on tmpfs); DBUS_SYSTEM_BUS_ADDRESS.

e2e_login=$(id -un)
e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Prints why the environment cannot be built here and fails; silent when it can.
e2e_check()
{
    [[ $(id -u) == 0 ]] || { echo "needs root (a private mount namespace, FUSE and an sshd)"; return 1; }
    [[ -c /dev/fuse ]] || { echo "no /dev/fuse"; return 1; }
    [[ -x /usr/sbin/sshd && -x /usr/bin/sshfs && -x /usr/bin/weston && -x /usr/bin/xdg-open ]] ||
        { echo "needs Debian's openssh-server, sshfs, weston and xdg-utils"; return 1; }
    [[ -x /usr/bin/dbus-daemon && -x /usr/bin/gdbus && -d /usr/lib/python3/dist-packages/dbusmock ]] ||
        { echo "needs Debian's dbus-daemon, libglib2.0-bin and python3-dbusmock"; return 1; }
    [[ -x ${TOLLVANE_COMPAT_DIR:-}/tollvane-sshfs ]] ||
        { echo "TOLLVANE_COMPAT_DIR must name the folder of the compat programs"; return 1; }
}

# An overlay on TARGET whose upper layer is on tmpfs: what is written there stays in this
# namespace, and the rest of the directory stays as it is.
_e2e_overlay()
{
    local target=$1 layer=$TOLLVANE_E2E_DIR/overlay${1//\//_}
    mkdir -p "$layer/upper" "$layer/work" "$target"
    chmod --reference="$target" "$layer/upper"
    mount -t overlay overlay -o "lowerdir=$target,upperdir=$layer/upper,workdir=$layer/work" "$target"
}

_e2e_free_port()
{
    local port
    while port=$((20000 + RANDOM % 40000)); (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do :; done
    echo "$port"
}

_e2e_start_sshd()
{
    local dir=$TOLLVANE_E2E_DIR
    for key in ssh_host_ed25519_key id_ed25519 other1 other2; do ssh-keygen -q -t ed25519 -N '' -f "$dir/$key"; done
    TOLLVANE_E2E_PORT=$(_e2e_free_port)
    cat >"$dir/sshd_config" <<CONFIG
Port $TOLLVANE_E2E_PORT
ListenAddress 127.0.0.1
HostKey $dir/ssh_host_ed25519_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/id_ed25519.pub
StrictModes no
UsePAM no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
# Tests mount many hosts at once; the default drops unauthenticated connections past 10.
MaxStartups 100:30:200
Subsystem sftp internal-sftp
ChrootDirectory $TOLLVANE_E2E_REMOTE
ForceCommand internal-sftp
CONFIG
    # Where sshd has them, its per-source penalties would refuse 127.0.0.1, every row's address,
    # for a while after a few failed logins, which rows make on purpose.
    if /usr/sbin/sshd -t -f "$dir/sshd_config" -o PerSourcePenalties=no 2>/dev/null; then
        echo "PerSourcePenalties no" >>"$dir/sshd_config"
    fi
    cat >>"$dir/sshd_config" <<CONFIG
Match User tollvane-e2e
    PasswordAuthentication yes
    MaxAuthTries 3
CONFIG
    # Without -D it returns once it listens (or has failed to), and then runs on its own.
    /usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/sshd.log" ||
        { echo "e2e: sshd did not start; see $dir/sshd.log" >&2; return 1; }
}

# 20 ms each way in front of the sshd; SIGUSR1 makes black holes of its open connections.
_e2e_start_proxy()
{
    local dir=$TOLLVANE_E2E_DIR
    (/usr/bin/python3 "$e2e_here/delay-proxy.py" 0 "$TOLLVANE_E2E_PORT" 20 "$dir/delay-proxy.log" \
        >"$dir/delay-proxy.port" & echo $! >"$dir/delay-proxy.pid")
    timeout 10 bash -c "until [[ -s $dir/delay-proxy.port ]]; do sleep 0.02; done"
}

# A system bus of our own that lets everyone do everything, with stand-ins for logind and
# NetworkManager whose signals the tests send through org.freedesktop.DBus.Mock.EmitSignal.
_e2e_start_system_bus()
{
    local dir=$TOLLVANE_E2E_DIR
    cat >"$dir/system-bus.conf" <<CONFIG
<busconfig>
  <listen>unix:path=$dir/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONFIG
    dbus-daemon --config-file="$dir/system-bus.conf" --fork --nosyslog || return 1
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/system_bus_socket
    for template in logind networkmanager; do
        (/usr/bin/python3 -m dbusmock --system --template $template &>"$dir/$template.log" &)
    done
    gdbus wait --system --timeout 20 org.freedesktop.login1 &&
        gdbus wait --system --timeout 20 org.freedesktop.NetworkManager
}

# NAME PORT OPTION...: a block of the configuration for a host on 127.0.0.1, and its empty line.
_e2e_host()
{
    printf 'Host %s\n    HostName 127.0.0.1\n    Port %s\n' "$1" "$2"
    (($# < 3)) || printf '    %s\n' "${@:3}"
    echo
}

# Setup mounts over the machine's folders: only as PID 1 of a namespace whose /proc is its own.
_e2e_private()
{
    [[ $BASHPID == 1 && /proc/self -ef /proc/1 ]]
}

e2e_setup()
{
    local home
    _e2e_private || { echo "e2e: not the first process of private namespaces" >&2; return 1; }
    mount -t tmpfs -o mode=755 tollvane-users /Users || return 1
    touch /Users/.tollvane-e2e # gone if the tmpfs is ever taken off /Users
    # Under /run: every component of the chroot path must be root's and closed to others.
    mount -t tmpfs -o mode=755 tollvane-e2e "$TOLLVANE_E2E_DIR" || return 1
    export XDG_RUNTIME_DIR=$TOLLVANE_E2E_DIR/runtime && mkdir -m 700 "$XDG_RUNTIME_DIR"
    mountpoint -q /sys/fs/fuse/connections || mount -t fusectl fusectl /sys/fs/fuse/connections

    home=$(getent passwd "$e2e_login" | cut -d: -f6)
    _e2e_overlay "$home" || return 1
    rm -rf "$home/.ssh" "$home/Volumes" "$home/Library/Application Support/Tollvane" \
        "$home/.config/mimeapps.list" "$home/.local/share/applications"
    ln -s "$home" "/Users/$e2e_login"
    mkdir -p "$home/.config" "$home/.local/share/applications"
    printf '[Default Applications]\ninode/directory=tollvane-e2e-files.desktop\n' >"$home/.config/mimeapps.list"
    printf '#!/bin/sh\necho "$1" >>%s/opened\n' "$TOLLVANE_E2E_DIR" >"$TOLLVANE_E2E_DIR/files"
    chmod +x "$TOLLVANE_E2E_DIR/files"
    printf '[Desktop Entry]\nType=Application\nName=Files\nExec=%s/files %%f\n' "$TOLLVANE_E2E_DIR" \
        >"$home/.local/share/applications/tollvane-e2e-files.desktop"

    TOLLVANE_E2E_CONFIG=/Users/$e2e_login/.ssh/config
    TOLLVANE_E2E_VOLUMES=/Users/$e2e_login/Volumes
    TOLLVANE_E2E_REMOTE=$TOLLVANE_E2E_DIR/remote
    TOLLVANE_E2E_KEY=$TOLLVANE_E2E_DIR/id_ed25519
    mkdir -p -m 700 "$home/.ssh"
    mkdir -p "$TOLLVANE_E2E_REMOTE/Documents"
    echo "Files served by the test sshd." >"$TOLLVANE_E2E_REMOTE/README.txt"
    printf 'milk\neggs\nbread\n' >"$TOLLVANE_E2E_REMOTE/Documents/shopping list.txt"

    _e2e_overlay /usr/local/bin && ln -sf "$TOLLVANE_COMPAT_DIR/tollvane-sshfs" /usr/local/bin/sshfs || return 1
    _e2e_overlay /usr/sbin && ln -sf "$TOLLVANE_COMPAT_DIR/tollvane-diskutil" /usr/sbin/diskutil || return 1
    _e2e_overlay /etc && useradd -M -N tollvane-e2e && echo tollvane-e2e:tollvane-e2e | chpasswd || return 1
    # No keyring unless a test starts one: the session bus may not start gnome-keyring itself.
    _e2e_overlay /usr/share/dbus-1/services && rm -f /usr/share/dbus-1/services/org.freedesktop.secrets.service || return 1
    _e2e_start_sshd && _e2e_start_proxy || return 1
    _e2e_start_system_bus || { echo "e2e: no system bus; see $TOLLVANE_E2E_DIR/*.log" >&2; return 1; }

    silent=$(_e2e_free_port) # takes connections (the backlog) and never answers
    (python3 -c "import socket, time; s = socket.socket(); s.bind(('127.0.0.1', $silent)); s.listen(64); time.sleep(1e6)" &)
    local port=$TOLLVANE_E2E_PORT key="IdentityFile $TOLLVANE_E2E_KEY" trust="StrictHostKeyChecking no"
    local mine=("User $e2e_login" "$key" "$trust" "UserKnownHostsFile /dev/null" "LogLevel ERROR")
    {
        _e2e_host reachable "$port" "${mine[@]}"
        _e2e_host refused "$(_e2e_free_port)"
        local account=("User tollvane-e2e" "$trust" "UserKnownHostsFile /dev/null")
        _e2e_host password "$port" "${account[@]}" "PubkeyAuthentication no"
        _e2e_host once "$port" "${account[@]}" "PubkeyAuthentication no" "NumberOfPasswordPrompts 1"
        _e2e_host keys "$port" "${account[@]}" "IdentityFile $TOLLVANE_E2E_DIR/other1" "IdentityFile $TOLLVANE_E2E_DIR/other2" "IdentitiesOnly yes"
        _e2e_host newkey "$port" "$key" "UserKnownHostsFile $TOLLVANE_E2E_DIR/known_hosts"
        _e2e_host silent "$silent"
        _e2e_host silent3 "$silent" "ConnectTimeout 3"
        _e2e_host slow "$(<"$TOLLVANE_E2E_DIR/delay-proxy.port")" "${mine[@]}"
        _e2e_host shared "$(<"$TOLLVANE_E2E_DIR/delay-proxy.port")" "${mine[@]}" "ControlMaster auto" \
            "ControlPath $TOLLVANE_E2E_DIR/master-%C" "ControlPersist yes"
    } >"$TOLLVANE_E2E_CONFIG"
    export TOLLVANE_E2E_CONFIG TOLLVANE_E2E_VOLUMES TOLLVANE_E2E_REMOTE TOLLVANE_E2E_PORT \
        TOLLVANE_E2E_KEY TOLLVANE_E2E_DIR
}
