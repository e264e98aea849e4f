#!/usr/bin/env bash
# Builds both trees: build/native (Linux: loader, tools, tests) and build/win32 (the Windows
# programs). Extra arguments go to both CMake configurations (e.g. -DZARN_IMAGE=/path).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZARN_BUILD_DIR:-$top/build}

cmake -S "$top" -B "$build/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" "$@"
cmake --build "$build/win32"

cmake -S "$top" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARN_WIN32_BUILD_DIR="$build/win32" "$@"
cmake --build "$build/native"
