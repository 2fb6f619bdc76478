#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with.
# Idempotent: does nothing when everything is already installed.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev libfontconfig-dev
    libpugixml-dev libspdlog-dev libfmt-dev libssl-dev
    nlohmann-json3-dev libcli11-dev
    libgtest-dev libgmock-dev
    xvfb xauth xdotool xclip oathtool x11-utils imagemagick fonts-dejavu-core
    dbus-daemon at-spi2-core python3-gi
    python3-pskc pskctool python3-cryptography
    clang libclang-rt-14-dev strace
    lintian desktop-file-utils appstream file fakeroot man-db bash-completion python3-jsonschema
    libpam-oath liboath-dev libpam0g-dev freeradius freeradius-utils
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root or install sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
