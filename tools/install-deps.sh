#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, as root.
# Does nothing when everything is already there, so that repeated runs and
# CI stay quick.
set -euo pipefail

packages=(
    # building
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools
    # running: Qt's own Chinese texts, and fonts for Arial's metrics and the Chinese
    qt6-translations-l10n fonts-liberation2 fonts-wqy-microhei
    # testing
    googletest xvfb xauth
    # QEMU integration tests
    qemu-system-x86 busybox-static xorriso python3 xdotool imagemagick
    # UDisks2 client and its tests
    libsystemd-dev python3-dbusmock dbus
    # fuzzing: clang's libFuzzer and sanitizer runtimes
    clang libclang-rt-14-dev
    # Windows build and its Wine tests
    wine wine32:i386 fonts-wine g++-mingw-w64-i686 mingw-w64-i686-dev xvfb xdotool imagemagick locales
    # packaging and its tests
    dpkg-dev desktop-file-utils appstream debootstrap x11-utils
)

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
