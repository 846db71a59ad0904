# Installs the Debian packages named as arguments, but only those that are missing.
# Sourced by the scripts in scripts/.

# Runs a command as root: directly when the script already is root, through sudo otherwise.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

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
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# What building and testing the updater needs.
BUILD_PACKAGES=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5network5 libqt5xml5
                libqt5concurrent5 libqt5test5 libsodium-dev zlib1g-dev binutils-mingw-w64-x86-64
                openssl)

# What the end-to-end test of the real executable needs besides nginx (scripts/lib/nginx.sh installs
# that): a network namespace, a virtual display driven by xdotool, screenshots, and a Chinese font.
E2E_PACKAGES=(openssl iproute2 util-linux xvfb xdotool imagemagick fonts-wqy-microhei)
