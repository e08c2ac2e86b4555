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
publish="$(dirname "$client")/tarvo-publish"
[ -x "$client" ] && [ -x "$publish" ] || { echo "build the client and tarvo-publish first: cmake --build $build" >&2; exit 1; }

# The downloads land in memory when it can hold them, so the disk's write-back does not drown the
# difference measured.
base=/tmp
[ -d /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/tarvo-gui-bench-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

world="$work/world"
# Only the launcher is behind: the run fetches it and ends.
/usr/bin/python3 tools/make_demo_world.py --publish "$publish" --out "$world" --server-versions 1.1,1.0,1.0,1.0 >/dev/null
launcher=$(find "$world/ftp" -name Tarvo.exe | head -1)
head -c $((mib * 1048576)) /dev/urandom > "$launcher"
cp "$world/registry.reg" "$world/registry.pristine"
# The launcher is replaced only where an old one stands, so each run starts from the old one.
cp "$world/game/Tarvo.exe" "$work/Tarvo.old"

/usr/bin/python3 tools/patch_server.py "$world/patch_server.json" > "$work/patch.out" 2>&1 &
pids+=($!)
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$world/patch_server.port" ] && [ -s "$work/display" ] && break
  sleep 0.1
done
display=":$(head -1 "$work/display")"
patch_port=$(cat "$world/patch_server.port")
echo "launcher of $mib MiB; window on $display"

# An FTP server held to the given rate (MB/s, 0 for none); sets ftp_pid and ftp_port.
start_ftp_server() {
  rm -f "$work/ftp.out"
  /usr/bin/python3 tests/support/ftp_server.py --root "$world/ftp" --log /dev/null \
    --rate "$(awk "BEGIN { print $1 * 1000000 }")" > "$work/ftp.out" 2>&1 &
  ftp_pid=$!
  pids+=("$ftp_pid")
  for _ in $(seq 100); do
    grep -q '^PORT ' "$work/ftp.out" 2>/dev/null && break
    sleep 0.1
  done
  ftp_port=$(sed -n 's/^PORT //p' "$work/ftp.out")
}

now() { date +%s.%N; }

# One run in the given front end; the client ends by itself once the launcher is in.
run_client() {
  cp "$world/registry.pristine" "$world/registry.reg"
  cp "$work/Tarvo.old" "$world/game/Tarvo.exe"
  sync
  local t0 t1
  t0=$(now)
  TARVO_REGISTRY="$world/registry.reg" TARVO_FTP_PORT="$ftp_port" TARVO_UI="$1" DISPLAY="$display" \
    TARVO_NOTICE_URL=about:blank "$client" 1 127.0.0.1 "$patch_port" < /dev/null > "$work/client.out" 2>&1
  t1=$(now)
  if [ "$(stat -c %s "$world/game/Tarvo.exe" 2>/dev/null || echo 0)" -ne $((mib * 1048576)) ]; then
    echo "the $1 run did not fetch the launcher:" >&2
    cat "$work/client.out" >&2
    exit 1
  fi
  awk "BEGIN { print $t1 - $t0 }"
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

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
