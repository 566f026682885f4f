# Installs the Debian packages given as arguments, only those missing.
# Sourced by the other scripts; uses sudo when not run as root.
kovel_ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

KOVEL_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgl-dev
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev)
# What the tests run besides the build: Python's plist reader, the desktop
# entry and AppStream validators.
KOVEL_TEST_PACKAGES=(python3 desktop-file-utils appstream)
# scripts/package: shlibdeps (dpkg-dev, file) and lintian.
KOVEL_PACKAGE_PACKAGES=(dpkg-dev file lintian)
