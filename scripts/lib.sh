# Shared by the scripts: installs the Debian packages a fresh machine lacks.

# Packages needed to build and run the program.
RUN_PACKAGES=(cmake ninja-build g++ qt6-base-dev libxcb1-dev qt6-wayland fonts-dejavu-core fonts-vlgothic)
# Further packages needed by the tests.
TEST_PACKAGES=(libgtest-dev libsm-dev xvfb xauth xfonts-base xdotool faketime openbox imagemagick x11-utils
               desktop-file-utils python3 clang libclang-rt-14-dev
               weston mutter kwin-wayland breeze dbus at-spi2-core python3-pyatspi orca strace procps
               dpkg-dev debhelper fakeroot lintian appstream tzdata)

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
