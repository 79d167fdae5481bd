#!/usr/bin/env bash
# Installs the Debian 12 packages Quillby needs to build, test and run.
# Idempotent: asks dpkg first and only calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
  clang-19 libclang-rt-19-dev clang-tidy-19 cmake ninja-build pkg-config make
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev libqt6svg6
  qcoro-qt6-dev
  qtkeychain-qt6-dev libsecret-1-0
  libssl-dev openssl nlohmann-json3-dev libsimdjson-dev libicu-dev libcpp-httplib-dev
  libxcb1-dev
  xvfb xauth dbus-x11 gnome-keyring libsecret-tools notification-daemon trayer
  fonts-dejavu-core dpkg-dev locales
  tar restic
  at-spi2-core gir1.2-atspi-2.0 python3-gi orca speech-dispatcher openbox xdotool
  weston qt6-wayland gir1.2-glib-2.0
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
