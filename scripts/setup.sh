#!/usr/bin/env bash
# Installs whatever the build and the tests need and is not installed yet.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ g++-multilib clang-format
  rapidjson-dev libyaml-dev libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libmsgpack-cxx-dev libyaml-cpp-dev
  qemu-user libyaml-dev:i386 libgtest-dev:i386 libgmock-dev:i386
  libcli11-dev libcpp-httplib-dev libcurl4-openssl-dev pkg-config chromium
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
