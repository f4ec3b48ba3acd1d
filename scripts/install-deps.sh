#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Safe to run again: it asks apt only for what is missing.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libqt6svg6 qt6-translations-l10n
  libcurl4-openssl-dev libsqlite3-dev libssl-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-noto-cjk
  clang-14 libclang-rt-14-dev
  nlohmann-json3-dev python3 curl tzdata
  chromium chromium-driver python3-selenium
  dpkg-dev desktop-file-utils systemd lintian appstream groff-base libglib2.0-bin
  g++-mingw-w64-x86-64-posix wine64
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
