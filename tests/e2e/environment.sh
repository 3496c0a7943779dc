# The environment in which the end-to-end tests (and the demo) run: source this file, then call
# e2e_check, and inside a private mount namespace (unshare -m --propagation private) e2e_setup
# and, at the end, e2e_teardown. run-in-namespace.sh does all of that around one command.
#
# Inside, after e2e_setup:
#   /Users                 a tmpfs (the directory is created first when missing, removed again)
#   /usr/local/bin/sshfs   tollvane-sshfs  } from $TOLLVANE_COMPAT_DIR, through overlay mounts
#   /usr/sbin/diskutil     tollvane-diskutil }
#   an sshd on 127.0.0.1 that serves the demo folder as the root of every sftp session, and
#   /Users/<login>/.ssh/config with the hosts "reachable", "refused" (a closed port) and
#   "unresolvable" (a .invalid name), blocks separated by one empty line.
#
# Exported for the command run inside:
#   TOLLVANE_E2E_LOGIN        login name (what follows /Users/)
#   TOLLVANE_E2E_HOME         /Users/<login>
#   TOLLVANE_E2E_CONFIG       the ssh configuration file the application reads
#   TOLLVANE_E2E_VOLUMES      /Users/<login>/Volumes, where the mount points go
#   TOLLVANE_E2E_REMOTE       the served folder on the local file system (what host:/ shows)
#   TOLLVANE_E2E_PORT         the sshd's port
#   TOLLVANE_E2E_CLOSED_PORT  a port nothing listens on (host "refused")
#   TOLLVANE_E2E_KEY          the client's private key made for the run
#   TOLLVANE_E2E_DIR          scratch directory (tmpfs) holding keys, sshd files and logs
#   TOLLVANE_E2E_SSHD_LOG     the sshd's log file
#
# Extra configuration blocks: e2e_add_config_block "Host name" "    HostName 127.0.0.1" ...
# (after e2e_setup), or TOLLVANE_E2E_EXTRA_CONFIG holding whole blocks, appended by e2e_setup.

e2e_login=$(id -un)
_e2e_mounts=()
_e2e_created_users=false
_e2e_created_run_sshd=false

# Prints why the environment cannot be built here and fails; silent when it can.
e2e_check()
{
    local tool
    if [[ $(id -u) != 0 ]]; then
        echo "needs root (a private mount namespace, FUSE and an sshd)"
        return 1
    fi
    if [[ ! -c /dev/fuse ]]; then
        echo "no /dev/fuse"
        return 1
    fi
    for tool in /usr/bin/unshare /usr/sbin/sshd /usr/bin/sshfs /usr/bin/fusermount3 \
        /usr/bin/ssh-keygen; do
        if [[ ! -x $tool ]]; then
            echo "$tool is missing (Debian packages util-linux, openssh-server, sshfs, fuse3)"
            return 1
        fi
    done
    if [[ ! -x ${TOLLVANE_COMPAT_DIR:-}/tollvane-sshfs || ! -x $TOLLVANE_COMPAT_DIR/tollvane-diskutil ]]; then
        echo "TOLLVANE_COMPAT_DIR must name the directory holding tollvane-sshfs and tollvane-diskutil"
        return 1
    fi
}

# True when this shell runs in a mount namespace of its own (never the one of PID 1).
e2e_in_private_namespace()
{
    ! [[ /proc/self/ns/mnt -ef /proc/1/ns/mnt ]]
}

e2e_add_config_block()
{
    local line
    {
        echo
        for line in "$@"; do
            echo "$line"
        done
    } >>"$TOLLVANE_E2E_CONFIG"
}

# A place in front of lowerdir whose files win: the programs appear at their fixed paths while
# the rest of the directory stays as it is.
_e2e_overlay()
{
    local target=$1 name=$2 program=$3 layer
    layer=$TOLLVANE_E2E_DIR/overlay${target//\//_}
    mkdir -p "$layer/upper" "$layer/work" "$target"
    cp "$program" "$layer/upper/$name"
    mount -t overlay overlay -o "lowerdir=$target,upperdir=$layer/upper,workdir=$layer/work" "$target" || return 1
    _e2e_mounts+=("$target")
}

_e2e_port_is_closed()
{
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

_e2e_start_sshd()
{
    local dir=$TOLLVANE_E2E_DIR attempt port
    ssh-keygen -q -t ed25519 -N '' -C tollvane-e2e-host -f "$dir/ssh_host_ed25519_key"
    ssh-keygen -q -t ed25519 -N '' -C tollvane-e2e-client -f "$dir/id_ed25519"
    cp "$dir/id_ed25519.pub" "$dir/authorized_keys"
    # sshd insists on its privilege-separation directory.
    if [[ ! -d /run/sshd ]]; then
        mkdir -p /run/sshd
        _e2e_created_run_sshd=true
    fi
    for attempt in {1..20}; do
        port=$((20000 + RANDOM % 40000))
        _e2e_port_is_closed "$port" || continue
        cat >"$dir/sshd_config" <<CONFIG
Port $port
ListenAddress 127.0.0.1
HostKey $dir/ssh_host_ed25519_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
StrictModes no
UsePAM no
PermitRootLogin prohibit-password
PasswordAuthentication no
# Tests mount many hosts at once; the default drops some unauthenticated connections past 10.
MaxStartups 100:30:200
KbdInteractiveAuthentication no
AllowUsers $e2e_login
Subsystem sftp internal-sftp
ChrootDirectory $TOLLVANE_E2E_REMOTE
ForceCommand internal-sftp
CONFIG
        # Without -D sshd returns once it listens (or has failed to), and then runs on its own.
        if /usr/sbin/sshd -f "$dir/sshd_config" -E "$TOLLVANE_E2E_SSHD_LOG"; then
            TOLLVANE_E2E_PORT=$port
            return 0
        fi
    done
    echo "e2e: sshd did not start; see $TOLLVANE_E2E_SSHD_LOG" >&2
    return 1
}

e2e_setup()
{
    if ! e2e_in_private_namespace; then
        echo "e2e: e2e_setup must run inside unshare -m --propagation private" >&2
        return 1
    fi
    _e2e_mounts=()
    _e2e_created_users=false
    if [[ ! -e /Users ]]; then
        mkdir /Users
        _e2e_created_users=true
    fi
    mount -t tmpfs -o mode=755 tollvane-users /Users || return 1
    _e2e_mounts+=(/Users)

    # Under /run: every component of the chroot path must be root's and closed to others.
    TOLLVANE_E2E_DIR=$(mktemp -d /run/tollvane-e2e.XXXXXX) || return 1
    mount -t tmpfs -o mode=755 tollvane-e2e "$TOLLVANE_E2E_DIR" || return 1
    _e2e_mounts+=("$TOLLVANE_E2E_DIR")

    TOLLVANE_E2E_LOGIN=$e2e_login
    TOLLVANE_E2E_HOME=/Users/$e2e_login
    TOLLVANE_E2E_CONFIG=$TOLLVANE_E2E_HOME/.ssh/config
    TOLLVANE_E2E_VOLUMES=$TOLLVANE_E2E_HOME/Volumes
    TOLLVANE_E2E_REMOTE=$TOLLVANE_E2E_DIR/remote
    TOLLVANE_E2E_KEY=$TOLLVANE_E2E_DIR/id_ed25519
    TOLLVANE_E2E_SSHD_LOG=$TOLLVANE_E2E_DIR/sshd.log
    mkdir -p -m 700 "$TOLLVANE_E2E_HOME/.ssh"
    mkdir -p "$TOLLVANE_E2E_VOLUMES"

    mkdir -m 755 "$TOLLVANE_E2E_REMOTE"
    mkdir "$TOLLVANE_E2E_REMOTE/Documents" "$TOLLVANE_E2E_REMOTE/Pictures"
    echo "Files served by the test sshd." >"$TOLLVANE_E2E_REMOTE/README.txt"
    printf 'milk\neggs\nbread\n' >"$TOLLVANE_E2E_REMOTE/Documents/shopping list.txt"
    head -c 65536 /dev/urandom >"$TOLLVANE_E2E_REMOTE/Pictures/noise.bin"

    _e2e_overlay /usr/local/bin sshfs "$TOLLVANE_COMPAT_DIR/tollvane-sshfs" || return 1
    _e2e_overlay /usr/sbin diskutil "$TOLLVANE_COMPAT_DIR/tollvane-diskutil" || return 1

    _e2e_start_sshd || return 1
    TOLLVANE_E2E_CLOSED_PORT=$((TOLLVANE_E2E_PORT + 1))
    until _e2e_port_is_closed "$TOLLVANE_E2E_CLOSED_PORT"; do
        TOLLVANE_E2E_CLOSED_PORT=$((20000 + RANDOM % 40000))
    done

    cat >"$TOLLVANE_E2E_CONFIG" <<CONFIG
Host reachable
    HostName 127.0.0.1
    Port $TOLLVANE_E2E_PORT
    User $e2e_login
    IdentityFile $TOLLVANE_E2E_KEY
    StrictHostKeyChecking no
    UserKnownHostsFile /dev/null
    LogLevel ERROR

Host refused
    HostName 127.0.0.1
    Port $TOLLVANE_E2E_CLOSED_PORT

Host unresolvable
    HostName unresolvable.invalid
CONFIG
    if [[ -n ${TOLLVANE_E2E_EXTRA_CONFIG:-} ]]; then
        printf '\n%s\n' "$TOLLVANE_E2E_EXTRA_CONFIG" >>"$TOLLVANE_E2E_CONFIG"
    fi

    export TOLLVANE_E2E_LOGIN TOLLVANE_E2E_HOME TOLLVANE_E2E_CONFIG TOLLVANE_E2E_VOLUMES \
        TOLLVANE_E2E_REMOTE TOLLVANE_E2E_PORT TOLLVANE_E2E_CLOSED_PORT TOLLVANE_E2E_KEY \
        TOLLVANE_E2E_DIR TOLLVANE_E2E_SSHD_LOG
}

# Ends every other process of this mount namespace (mount clients run in sessions of their own
# and outlive whatever started them; stopped ones too), then takes the mounts down.
e2e_teardown()
{
    local pid proc stat left i
    if ! e2e_in_private_namespace; then
        echo "e2e: not in a private mount namespace; nothing is ended" >&2
        return 1
    fi
    for i in {1..50}; do
        left=0
        for proc in /proc/[0-9]*; do
            pid=${proc#/proc/}
            [[ $pid == "$$" || $pid == "$BASHPID" ]] && continue
            [[ $proc/ns/mnt -ef /proc/self/ns/mnt ]] || continue
            # A zombie is already gone; it only waits for its parent.
            read -r stat <"$proc/stat" 2>/dev/null || continue
            [[ ${stat##*) } == Z* ]] && continue
            kill -KILL "$pid" 2>/dev/null && left=1
        done
        ((left)) || break
        sleep 0.1
    done
    for ((i = ${#_e2e_mounts[@]} - 1; i >= 0; i--)); do
        umount -R -l "${_e2e_mounts[i]}" 2>/dev/null
    done
    [[ -n ${TOLLVANE_E2E_DIR:-} ]] && rmdir "$TOLLVANE_E2E_DIR" 2>/dev/null
    if [[ ${_e2e_created_users:-false} == true ]]; then
        rmdir /Users 2>/dev/null
    fi
    if [[ ${_e2e_created_run_sshd:-false} == true ]]; then
        rmdir /run/sshd 2>/dev/null
    fi
    _e2e_created_run_sshd=false
    _e2e_mounts=()
    _e2e_created_users=false
}
