# Installs the Debian packages named as arguments, but only those that are missing.
# Sourced by the scripts in scripts/.

ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "==> Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# What building and testing the updater needs.
BUILD_PACKAGES=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5network5 libqt5xml5
                libqt5concurrent5 libqt5test5 binutils-mingw-w64-x86-64)
