#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing. Quiet and quick when everything is there already.
set -euo pipefail

packages=(
    cmake ninja-build g++
    qt6-base-dev qt6-serialport-dev
    # Port discovery without Qt (serial/posix/), found through pkg-config.
    libudev-dev pkg-config
    libgtest-dev
    # The command line (cli/): its arguments and its JSON output. Both are
    # header-only, so they build for Windows with MinGW as well.
    libcli11-dev nlohmann-json3-dev
    # The package test: cpack's Depends (dpkg-shlibdeps, file), the checks
    # of the desktop entry, of the AppStream metadata and of the package
    # itself (Debian's lintian).
    dpkg-dev file desktop-file-utils appstream lintian
    # The image readers' tests check them against srec_cat and objcopy.
    srecord binutils
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
