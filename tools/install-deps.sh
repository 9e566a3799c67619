#!/usr/bin/env bash
# Installs what is missing, as root, on Debian 12 (bookworm) or 13 (trixie):
#
#   install-deps.sh run    what building and running the program needs
#   install-deps.sh test   that, and every tool the tests use
#
# Does nothing when everything is already there, so that repeated runs and
# CI stay quick.
set -euo pipefail

usage() {
    echo "usage: $0 run|test" >&2
    exit 2
}
[ $# -eq 1 ] || usage

# The names below are Debian 12's and 13's alike; a release whose names
# differ gets its own case here.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-unknown}")
case $release in
bookworm | trixie) ;;
*) echo "Debian 12 (bookworm) and 13 (trixie) are the releases tried; this is $release: trying their package names" >&2 ;;
esac

run_packages=(
    # building
    cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools
    # the UDisks2 client talks D-Bus through sd-bus; udev reports drives
    # plugged in and pulled out
    libsystemd-dev libudev-dev
    # the kernel's mount table read through util-linux's libmount
    libmount-dev
    # running: Qt's own Chinese texts, fonts for Arial's metrics and the
    # Chinese, and the desktop's opener for a disc's folder
    qt6-translations-l10n fonts-liberation2 fonts-wqy-microhei xdg-utils
)
test_packages=(
    googletest xvfb xauth xdotool imagemagick python3
    # QEMU integration tests
    qemu-system-x86 busybox-static xorriso cpio kmod
    # udev's daemon in the guest, for drives plugged in under the program
    udev
    # Debian 13 compresses its kernel with zstd
    zstd
    # UDisks2 client tests, against a mock service
    python3-dbusmock dbus
    # the program read through the accessibility bus, on X and on a headless
    # Wayland compositor with Qt's Wayland platform plugin
    at-spi2-core python3-pyatspi python3-pytest weston qt6-wayland
    # the real services the QEMU test's desktop user has behind the program
    # (polkitd is polkit's daemon on both releases; Debian 12's policykit-1
    # is only a transitional name for it, gone in 13)
    udisks2 polkitd
    # Windows build and its Wine tests; these and the package tests read
    # pictures with PIL, and the exe's headers and resources with pefile
    wine wine32:i386 fonts-wine g++-mingw-w64-i686 mingw-w64-i686-dev locales python3-pil python3-pefile
    # the 64-bit twin, and the 64-bit Wine that runs it where the host starts
    # no 32-bit programs
    wine64 g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    # packaging and its tests (CPack's Debian generator runs file)
    dpkg-dev file desktop-file-utils appstream mmdebstrap x11-utils
)

case $1 in
run) packages=("${run_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*) usage ;;
esac

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}; run this as root to install them." >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Wine's 32-bit half comes from Debian's i386 packages.
if [[ " ${missing[*]}" == *:i386* ]]; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
