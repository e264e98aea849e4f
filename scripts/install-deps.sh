#!/usr/bin/env bash
# Installs every Debian package the builds, the tools and the tests need. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(
  # native build and tests
  g++ cmake ninja-build python3 libgtest-dev libgmock-dev googletest libcli11-dev
  libudev-dev  # zarnflash finds USB serial ports and watches for new ones through libudev
  clang libclang-rt-14-dev  # the fuzz targets (scripts/fuzz.sh): clang and its libFuzzer runtime
  # Windows build
  g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  # zarnflash: JSON events (header-only, both builds) and SHA-256 (libgcrypt, both builds)
  nlohmann-json3-dev libgcrypt20-dev libgcrypt-mingw-w64-dev
  # running and looking at the Windows program
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick socat
  # Wine takes the system language from the C library's locale (language tests under Wine)
  locales
  # Wine's own fonts (title bar buttons) and a Chinese font, for the window's screenshots
  fonts-wine fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -q i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The locales the Wine tests give the updater; one that is not generated reads as English.
# The C library has no ru_MD: Russian's data under that name is what Wine needs (0x0819).
for pair in en_US:en_US zh_CN:zh_CN zh_TW:zh_TW zh_HK:zh_HK ru_RU:ru_RU ru_RU:ru_MD; do
  src=${pair%%:*} name=${pair##*:}
  locale -a | grep -qix "$name.utf8" || $SUDO localedef -i "$src" -f UTF-8 "$name.UTF-8"
done
