#!/usr/bin/env bash
# What the window costs a patch: one 512 MiB launcher fetch from a local FTP server, run by the client
# with its window (under a private Xvfb) and in the console, alternately. Prints each pair, the median
# time the window adds and the median ratio window/console. The target is 1.02 at most: the window
# must not slow the patch.
#
#   bench/gui_overhead.sh [runs] [MiB] [MB/s ...]   (default 5 runs of each, 512 MiB, 100 then 0)
#
# Each rate is measured in turn. The server sends no faster than a line of that many megabytes a
# second; 100 is a gigabit line, as fast as a player's patch comes. 0 is loopback with no limit: there
# the fetch is bound by the processor, so on a machine with few cores it shows what the window's
# start-up takes from the fetch, not how the window paces a patch.
# Environment: TARVO_BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
runs="${1:-5}"
mib="${2:-512}"
shift $(($# < 2 ? $# : 2))
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(100 0)
build="${TARVO_BUILD_DIR:-build}"
case "$build" in /*) client="$build/TarvoPatchClient" ;; *) client="$repo/$build/TarvoPatchClient" ;; esac

source "$repo/bench/launcher_world.sh"
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=":$(head -1 "$work/display")"
echo "launcher of $mib MiB; window on $display"

# One run in the given front end; the client ends by itself once the launcher is in.
run_client() {
  reset_world
  local t0 t1
  t0=$(now)
  TARVO_REGISTRY="$world/registry.reg" TARVO_FTP_PORT="$ftp_port" TARVO_UI="$1" DISPLAY="$display" \
    TARVO_NOTICE_URL=about:blank "$client" 1 127.0.0.1 "$patch_port" < /dev/null > "$work/client.out" 2>&1
  t1=$(now)
  expect_launcher_at "$world/game/Tarvo.exe"
  awk "BEGIN { print $t1 - $t0 }"
}


for rate in "${rates[@]}"; do
  start_ftp_server "$rate"
  if [ "$rate" = 0 ]; then echo "== loopback, as fast as it goes"; else echo "== a line of $rate MB/s"; fi
  ratios=()
  extras=()
  for i in $(seq "$runs"); do
    if [ $((i % 2)) = 1 ]; then g=$(run_client gui); c=$(run_client console)
    else c=$(run_client console); g=$(run_client gui); fi
    r=$(awk "BEGIN { print $g / $c }")
    ratios+=("$r")
    extras+=("$(awk "BEGIN { print $g - $c }")")
    printf 'run %d: window %.2f s, console %.2f s, ratio %.3f\n' "$i" "$g" "$c" "$r"
  done
  # The ratio depends on how long the fetch lasts; the time the window adds shows what it costs in
  # itself (run with a small and a large launcher to tell its start-up from its cost per byte).
  printf 'median time the window adds: %.3f s\n' "$(median "${extras[@]}")"
  printf 'median ratio window/console: %.3f\n' "$(median "${ratios[@]}")"
  kill "$ftp_pid" 2>/dev/null || true
  wait "$ftp_pid" 2>/dev/null || true
done
