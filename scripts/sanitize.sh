#!/usr/bin/env bash
# Builds the native tree twice more, under AddressSanitizer with UndefinedBehaviorSanitizer
# (build/asan) and under ThreadSanitizer (build/tsan), and runs the native tests in both so
# that any sanitizer report fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZARN_BUILD_DIR:-$top/build}

# A finding stops the program at once and never looks like one of zarnflash's exit codes, so
# the Python CLI tests, which check those codes, fail on it too.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:exitcode=99:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:exitcode=99:print_stacktrace=1"
export LSAN_OPTIONS="exitcode=99"
export TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:exitcode=99:second_deadlock_stack=1"

# The endurance test's resident-memory margin holds only for the plain allocator: ASan's
# quarantine and TSan's shadow and history keep freed memory on purpose. Leaks are LSan's here.
plain_only='^zarnflash\.endurance$'

configure_and_build() {  # <dir> <sanitizers>
  cmake -S "$top" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_WIN32_BUILD_DIR= \
    -DZARN_SANITIZE="$2"
  cmake --build "$1"
}

timed() {  # <label> <command...>: says how long each step took, for the CI budget
  local start=$SECONDS
  "${@:2}"
  echo "sanitize.sh: $1 took $((SECONDS - start)) s"
}

timed "asan build" configure_and_build "$build/asan" address,undefined
timed "asan tests" ctest --test-dir "$build/asan" --output-on-failure -j2 -LE wine \
  -E "$plain_only"

# The threads live in the loader (worker, stop requests), devsim's Device and zarnflash's jobs
# and probes; the pure unit tests have none but cost only seconds, so the whole set runs.
timed "tsan build" configure_and_build "$build/tsan" thread
timed "tsan tests" ctest --test-dir "$build/tsan" --output-on-failure -j2 -LE wine \
  -E "$plain_only"
