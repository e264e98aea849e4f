#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan and UBSan) in their own tree and runs each on its
# seed corpus for SECONDS seconds; fails on the first finding, whose input libFuzzer leaves in
# the build tree as crash-*/timeout-*/leak-*.
#   bash scripts/fuzz.sh 15      the short run of the test command (about a minute in all)
#   bash scripts/fuzz.sh 3600    a long run: an hour per target
# New inputs that raise coverage land in the build tree's corpus, not in fuzz/corpus; copy a
# finding's input into fuzz/corpus/<target>/ once it is fixed, so that it stays a seed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-15}
build=${ZARN_FUZZ_BUILD_DIR:-${ZARN_BUILD_DIR:-$top/build}/fuzz}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZARN_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_all

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=64
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for name in reply_scanner sender device image_header; do
  work="$build/corpus/$name"
  mkdir -p "$work" "$build/findings/$name"
  echo "fuzz_$name: $seconds s"
  # Each target starts from the seeds kept in the tree and what earlier runs here found.
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$build/findings/$name/" -print_final_stats=1 \
    "$work" "$top/fuzz/corpus/$name" 2>"$build/findings/$name/log" ||
    { tail -n 60 "$build/findings/$name/log"; echo "fuzz_$name: finding"; exit 1; }
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE' \
    "$build/findings/$name/log" || true
done
