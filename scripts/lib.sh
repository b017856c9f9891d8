# Shared by the scripts: installs the Debian packages a fresh machine lacks.

# Packages needed to build and run the program.
RUN_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-l10n-tools libxcb1-dev qt6-wayland
              qt6-translations-l10n fonts-dejavu-core fonts-vlgothic)
# What the tests without a display need beyond that (./scripts/test --no-desktop).
CHECK_PACKAGES=(libgtest-dev libsm-dev dbus-daemon desktop-file-utils python3 tzdata procps iproute2)
# What the desktop lanes, the fault table and the run check need besides.
DESKTOP_PACKAGES=(xvfb xauth xfonts-base xdotool faketime openbox imagemagick x11-utils weston mutter
                  kwin-wayland breeze dbus at-spi2-core python3-pyatspi orca strace
                  ibus ibus-anthy python3-gi gir1.2-ibus-1.0 locales)
# What building and checking the Debian package needs.
PACKAGE_PACKAGES=(dpkg-dev debhelper fakeroot lintian appstream appstream-compose locales man-db)

ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

# The builds are the presets of CMakePresets.json, each in build/<preset>.
build_preset() { # PRESET
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}
build_release() { build_preset release; }
