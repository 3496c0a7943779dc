#!/bin/bash
# Builds the Debian package in BUILD-DIR, checks it with Debian's tools,
# and installs it for real with apt, twice (the second time over a foreign /usr/local/bin/sshfs),
# each time in a private mount namespace: overlays on /usr, /etc and /var, tmpfs on /Users, /run
# and /tmp, so the machine stays as it was. Needs root: skips (77) without it, fails with CI=true.
#   tests/package/tst_package.sh BUILD-DIR
set -u
fail() { echo "FAIL: $*"; exit 1; }

if [[ ${1:-} != --inside ]]; then
    if [[ $(id -u) != 0 ]]; then
        [[ ${CI:-} == true ]] && fail "needs root (a private mount namespace)"
        echo "SKIP: needs root (a private mount namespace)"; exit 77
    fi
    mkdir -p "$1" && bash "$(dirname "$0")/../../scripts/package.sh" "$1" >"$1/build.log" 2>&1 ||
        fail "the package was not built; see $1/build.log"
    deb=$(echo "$1"/tollvane_*_*.deb)
    t=$(mktemp -d) # lintian leaves files in its TMPDIR
    lint=$(TMPDIR=$t lintian "$deb" 2>/dev/null); rm -rf "$t"; echo "lintian: ${lint:-no tags}"
    grep -q -E '^E:|appstream-metadata-validation-failed' <<<"$lint" && fail "lintian reports errors"
    # Qt Core's package, under whichever name this release gives it, provides its private ABI.
    abi=$(dpkg-query -W -f '${db:Status-Abbrev}${Provides}\n' 'libqt6core6*' | sed -n 's/^ii *//p' |
        grep -o '[^ ,]*-abi ([^)]*)')
    [[ -n $abi && ", $(dpkg-deb -f "$deb" Depends)," == *", $abi,"* ]] ||
        fail "the package does not pin the Qt release built against"
    # QtKeychain loads libsecret only when it runs: dpkg-shlibdeps cannot see it.
    [[ $(dpkg-deb -f "$deb" Depends) =~ libqt6keychain1.*libsecret-1-0|libsecret-1-0.*libqt6keychain1 ]] ||
        fail "the package does not depend on the keyring libraries"
    [[ -e /Users ]] || { mkdir -m 755 /Users && made=1; } # a mount point; taken away again after
    for foreign in "" yes; do
        unshare -m --propagation private "$0" --inside "$(realpath "$deb")" $foreign || status=1
    done
    [[ -z ${made:-} ]] || rmdir /Users
    exit "${status:-0}"
fi

foreign=${3:-} s=/run/tollvane-package deb=/run/tollvane-package/${2##*/}
exec 3<"$2" # the package and the helpers, wherever they are, before the mounts below hide them
source "$(dirname "$0")/../e2e/environment.sh" && TOLLVANE_E2E_DIR=$s TOLLVANE_E2E_REMOTE=$s/remote
mount -t tmpfs -o mode=755 tollvane-run /run && mount -t tmpfs -o mode=1777 tollvane-tmp /tmp &&
    mount -t tmpfs -o mode=755 tollvane-users /Users || fail mounts
mkdir $s /run/sshd && cat <&3 >"$deb" || fail "no package"
_e2e_overlay /usr && _e2e_overlay /etc && _e2e_overlay /var || fail overlays
# man-db's cache is man-db's: its trigger may add a language's folder tag when it first runs.
listing() { find /usr /etc /var /Users \( -path /var/lib/dpkg -o -path /var/cache/man \) -prune \
    -o -printf '%p %l\n' | sort; }
trap 'kill "$(cat "$s/sshd.pid" 2>/dev/null)" 2>/dev/null; fusermount3 -uzq "$s/volume"' EXIT
mkdir "$s/home" && useradd -m -d "$s/home/ada" ada || fail useradd
[[ -z $foreign ]] || printf '#!/bin/sh\n# not ours\n' >/usr/local/bin/sshfs
cp -P /usr/local/bin/sshfs "$s/sshfs.before" 2>/dev/null
listing >"$s/before"
export DEBIAN_FRONTEND=noninteractive
# Offline: no package sources, so every dependency must be installed already.
apt-get install -qq -y -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=/dev/null \
    "$deb" >"$s/apt.log" 2>&1 ||
    { cat "$s/apt.log"; fail "apt-get install"; }
[[ -z $(dpkg -V tollvane) && -x /usr/bin/tollvane ]] || fail "the installed files differ"
# One application id names the desktop entry, the AppStream component and its launchable, the
# icons, and, in the program, the Wayland app_id and the session-bus name.
id=org.tollvane.tollvane
# The project has no homepage yet: that is the one warning AppStream may give.
as=$(appstreamcli validate --no-net /usr/share/metainfo/$id.metainfo.xml)
grep -q Validation <<<"$as" && ! grep -E '^[EW]:' <<<"$as" | grep -qv ': url-homepage-missing$' ||
    fail "metainfo: $as"
grep -qx "Icon=$id" /usr/share/applications/$id.desktop &&
    grep -q "<id>$id</id>" /usr/share/metainfo/$id.metainfo.xml &&
    grep -q ">$id.desktop</launchable>" /usr/share/metainfo/$id.metainfo.xml &&
    [[ $(dpkg -L tollvane | grep -c -E '/(applications|metainfo|apps)/') == 4 ]] &&
    grep -q "$id" /usr/bin/tollvane || fail "not one application id"
[[ $(readlink /usr/sbin/diskutil) == /usr/lib/tollvane/diskutil ]] || fail "no diskutil link"
[[ /Users/ada -ef $s/home/ada ]] || fail "/Users/ada does not lead to the home"
if [[ -n $foreign ]]; then
    cmp -s /usr/local/bin/sshfs "$s/sshfs.before" || fail "the foreign sshfs was touched"
else
    [[ $(readlink /usr/local/bin/sshfs) == /usr/lib/tollvane/sshfs ]] || fail "no sshfs link"
    # A plain sshfs call, as a person makes one, goes to Debian's client: it daemonises and mounts.
    mkdir "$s/remote" "$s/volume" && echo served >"$s/remote/file" && _e2e_start_sshd || fail sshd
    timeout 20 /usr/local/bin/sshfs -p "$TOLLVANE_E2E_PORT" -o IdentityFile="$s/id_ed25519" \
        -o StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null root@127.0.0.1:/ "$s/volume" ||
        fail "sshfs"
    [[ $(cat "$s/volume/file") == served ]] || fail "sshfs did not mount"
    fusermount3 -u "$s/volume"

    # The installed program runs, as the user, and installs its icon through /Users/ada.
    (cd / && runuser -u ada -- env HOME="$s/home/ada" QT_QPA_PLATFORM=offscreen timeout 2 tollvane \
        >/dev/null 2>&1)
    [[ $? == 124 ]] || fail "tollvane did not stay up for 2 seconds"
    [[ -f "/Users/ada/Library/Application Support/Tollvane/VolumeIcon.icns" ]] || fail "no icon"
    useradd -m -d "$s/home/bo" bo && dpkg-reconfigure tollvane || fail dpkg-reconfigure
    [[ /Users/bo -ef $s/home/bo ]] || fail "dpkg-reconfigure made no /Users/bo"
    userdel bo
fi
apt-get purge -qq -y tollvane >>"$s/apt.log" 2>&1 || fail "apt-get purge"
listing | diff "$s/before" - || fail "the purge left this behind"
[[ -z $foreign ]] || cmp -s /usr/local/bin/sshfs "$s/sshfs.before" || fail "foreign sshfs gone"
echo "PASS: installed and purged${foreign:+ over a foreign /usr/local/bin/sshfs}"
