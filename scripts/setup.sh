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
  # The fuzz preset (scripts/fuzz.sh): clang 14 with libFuzzer and the sanitizer runtimes.
  clang-14 libclang-rt-14-dev
  # Windows builds: the mingw-w64 cross compilers, Wine to run the 64-bit
  # test programs, dpkg-dev to unpack libyaml's source package.
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 dpkg-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# The Windows builds compile libyaml from Debian's source package, which
# `apt-get source` fetches only with deb-src entries. Add them for the suites
# the machine already uses, once.
deb_src_list=/etc/apt/sources.list.d/korvel-deb-src.sources
need_update=0
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # deb822 form: the same stanzas with "deb-src" as their type.
    sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee "$deb_src_list" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -nE 's/^deb (.*)/deb-src \1/p' /etc/apt/sources.list |
      $SUDO tee "${deb_src_list%.sources}.list" >/dev/null
  fi
  need_update=1
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  [ "$need_update" -eq 1 ] && $SUDO apt-get update -q
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
# A mirror caught mid-sync fails one index and apt-get update exits non-zero
# although the rest were refreshed. Try again a few times; if an index still
# fails, go on: the install below says clearly if a package cannot be had.
for attempt in 1 2 3; do
  if $SUDO apt-get update -q; then break; fi
  if [ "$attempt" -eq 3 ]; then
    echo "apt-get update failed three times; installing from the indexes it did fetch" >&2
  else
    sleep 10
  fi
done
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
