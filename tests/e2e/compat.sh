# Sourced by every row of tst_compat: what the rows have in common.
export D=$TOLLVANE_E2E_DIR V=$TOLLVANE_E2E_VOLUMES
rm -f "$D/err" "$D/go" "$D/args"
app() {
    mkdir -p "${2:-$V/$1}"
    /bin/bash -c "/usr/local/bin/sshfs $1:/ ${2:-$V/$1} -o volname='$1' -o volicon='/Users/$(id -un)/Library/Application\ Support/Tollvane/VolumeIcon.icns' -o debug"
}
fake() {
    printf '#!/bin/bash\nprintf "%%s\\n" "$@" >%s/args\n%s\n' "$D" "$1" >"$D/fake"
    chmod +x "$D/fake" && mount --bind "$D/fake" /usr/bin/sshfs
}
confirmed() { timeout 20 bash -c "until grep -q statfs $1; do sleep 0.05; done"; }
# Scripted clients: one that mounts and stays until TERM; one around the real client that
# outstays its volume, deaf to TERM.
stays='trap "umount \"${!#}\"; exit 0" TERM; mount -t tmpfs x "${!#}"; while :; do sleep 0.05; done'
outstays="trap '' TERM; $D/real-sshfs \"\$@\"; while :; do sleep 0.1; done"
