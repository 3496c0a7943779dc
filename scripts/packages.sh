# The Debian packages that building, packaging, testing and the demo need, by the names Debian 12
# and 13 both give them; sourced by the other scripts.
TOLLVANE_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-private-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    fontconfig fonts-dejavu-core
    libbenchmark-dev libsystemd-dev unicode-data
    sshfs fuse3 openssh-server openssh-client
    util-linux procps psmisc iproute2
    xvfb xauth x11-utils dbus dbus-x11 at-spi2-core python3 python3-pyatspi qt6-image-formats-plugins
    weston qt6-wayland xdg-utils
    python3-dbusmock libglib2.0-bin
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring libsecret-tools
    dpkg-dev file lintian desktop-file-utils appstream
)

# Installs the packages when something is missing (as root, or through sudo).
tollvane_install_packages() {
    local missing=()
    for package in "${TOLLVANE_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" = 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
