#!/usr/bin/env bash
# The main job: the real ZarnUpdate.exe, under Wine, updates a simulated device on a virtual COM
# port with the image it embeds. Sets up everything on a fresh Debian machine and builds first.
# On a desktop (DISPLAY usable, CI not set) the window opens for you to press Update; without
# one it runs on Xvfb, presses Update itself and prints a summary and a screenshot's path.
#
#   scripts/main-job.sh [--headless | --desktop] [--screenshot PNG]
#   scripts/main-job.sh --cli     # the command-line flasher (zarnflash) instead of the window
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZARN_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" >/dev/null

if [ "${1:-}" != "--cli" ]; then
  exec python3 "$top/scripts/main_job.py" --build "$build" "$@"
fi

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
