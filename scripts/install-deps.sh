#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and demo the launcher.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
  # libraries
  libcurl4-openssl-dev zlib1g-dev libdeflate-dev libcpp-httplib-dev libgtest-dev libgmock-dev
  # signed updates: Ed25519 (SHA-256 comes from libcurl's OpenSSL)
  libsodium-dev libssl-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev libxkbcommon-dev
  # the window's input shape and compositor check under X11
  libx11-dev libxext-dev
  # the Chinese texts need a CJK font
  fonts-noto-cjk
  # test and demo helpers: a display, a window manager, a compositor, a real web server
  xvfb xauth openbox picom xdotool x11-utils imagemagick nginx-light curl strace procps python3
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
echo "install-deps: all packages present"
