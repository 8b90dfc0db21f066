#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, benchmarking and fuzzing need.
# Idempotent: packages already present are left alone and apt is not touched at all.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  clang clang-format libclang-rt-14-dev llvm
  libboost-filesystem-dev libboost-system-dev libboost-stacktrace-dev libboost-dev
  libgoogle-glog-dev nlohmann-json3-dev qtbase5-dev libcli11-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  ffmpeg
  xvfb pulseaudio pulseaudio-utils x11-xserver-utils libx11-dev libxcb1-dev libxcb-shm0-dev
  libpulse-dev
  libpipewire-0.3-dev libglib2.0-dev
  sway swaybg xdg-desktop-portal xdg-desktop-portal-wlr pipewire pipewire-bin wireplumber
  dbus-daemon dbus-bin libwayland-dev libwayland-bin wayland-protocols
  gstreamer1.0-tools gstreamer1.0-pipewire gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-ugly
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  binutils abigail-tools doxygen
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  echo "install-deps: run 'sudo scripts/install-deps.sh' or install them yourself" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
