#!/usr/bin/env bash
# The main job: update a simulated device with the embedded image. Sets up everything on a
# fresh Debian machine, builds, starts the device simulator on a pseudo-terminal and flashes
# the sample image into it, then prints the outcome.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZARN_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" >/dev/null

image="$build/native/res/ZarnSample.bin"
log=$(mktemp)
trap 'kill "$devsim" 2>/dev/null || true; rm -f "$log"' EXIT
"$build/native/tools/devsim/devsim" --verify "$image" >"$log" &
devsim=$!
for _ in $(seq 50); do [ -s "$log" ] && break; sleep 0.1; done
pty=$(head -n 1 "$log")
echo "device simulator on $pty"
start=$(date +%s.%N)
status=0
"$build/native/tools/zarnflash/zarnflash" flash --port "$pty" --image "$image" || status=$?
wait "$devsim" || status=$?
end=$(date +%s.%N)
tail -n +2 "$log"
printf 'took %s s; %s\n' "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')" \
  "$([ $status -eq 0 ] && echo 'update succeeded' || echo 'update FAILED')"
exit $status
