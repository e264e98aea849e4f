#!/usr/bin/env bash
# Builds both trees and packs them: build/packages/zarn-tools_<version>_<arch>.deb (zarnflash
# and devsim for Linux) and build/packages/zarn-update-windows-<version>-win32.zip
# (ZarnUpdate.exe and zarnflash.exe). Installs what it needs first, as the other scripts do.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZARN_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$@"
mkdir -p "$build/packages"
(cd "$build/native" && cpack -B "$build/packages" >/dev/null)
(cd "$build/win32" && cpack -B "$build/packages" >/dev/null)
rm -rf "$build/packages/_CPack_Packages"
ls -1 "$build/packages"/*.deb "$build/packages"/*.zip
