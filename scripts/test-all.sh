#!/usr/bin/env bash
# Sets up everything on a fresh Debian machine, builds both trees and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh"
ctest --test-dir "${ZARN_BUILD_DIR:-$top/build}/native" --output-on-failure -j2 "$@"
# The fuzz targets for 15 s each, in their own tree (a long run: scripts/fuzz.sh 3600).
bash "$top/scripts/fuzz.sh" 15
# The native tests again under AddressSanitizer with UBSan, and under ThreadSanitizer.
bash "$top/scripts/sanitize.sh"
