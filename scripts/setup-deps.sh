#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any of them is missing.
# Usage: scripts/setup-deps.sh   (as root, or with sudo available)
set -euo pipefail

# One package per line; append new ones at the end of this list.
PACKAGES=(
  cmake
  g++
  libgtest-dev
  libgmock-dev
  libsqlite3-dev
  sqlite3
  unixodbc
  unixodbc-dev
  odbcinst
  libsqliteodbc
  odbc-postgresql
  ninja-build
  libbenchmark-dev
  libcli11-dev
  nlohmann-json3-dev
  clang
  libclang-rt-dev
  mingw-w64
  postgresql-15
  tmux
  wine
  wine64
  wine32:i386
  mingw-w64-tools
  libwine-dev
  xvfb
  imagemagick
  zip
  fonts-wine
  xauth
  libxrender1
  libxrandr2
  libxi6
  libxcursor1
  libxfixes3
  libxcomposite1
  libxinerama1
  libxrender1:i386
  libxrandr2:i386
  libxi6:i386
  libxcursor1:i386
  libxfixes3:i386
  libxcomposite1:i386
  libxinerama1:i386
  libodbc2:i386
  libphonenumber-dev
  libprotobuf-dev
  libicu-dev
  python3
  libsqliteodbc:i386
  odbc-postgresql:i386
  help2man
  dpkg-dev
  libcpp-httplib-dev
  pkgconf
  kamailio
  kamailio-utils-modules
  sip-tester
  mariadb-server
  odbc-mariadb
  wrk
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "setup-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
# The 32-bit side of Wine (for the 32-bit plug-in) comes from the i386 archive.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update
fi
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
