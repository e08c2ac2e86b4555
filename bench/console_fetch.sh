#!/usr/bin/env bash
# What the client costs a fetch in the console: one launcher (512 MiB unless told) from a local FTP
# server, fetched by the client and by the `curl` program, alternately. Prints each pair's wall
# times and peak memories, then the median ratio client/curl and the client's median peak. The
# targets are a ratio of 0.8 at most and a peak of 16 MiB at most: the client, which streams the
# file to disk as curl does, must not carry more than its own work.
#
#   bench/console_fetch.sh [runs] [MiB]   (default 7 pairs, 512 MiB; loopback, no rate limit)
# Environment: TARVO_BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
runs="${1:-7}"
mib="${2:-512}"
build="${TARVO_BUILD_DIR:-build}"
case "$build" in /*) client="$build/TarvoPatchClient" ;; *) client="$repo/$build/TarvoPatchClient" ;; esac
source "$repo/bench/launcher_world.sh"
start_ftp_server 0
echo "launcher of $mib MiB over loopback"

# Runs the command given and prints its wall time in seconds and its peak memory in KiB.
measure() { /usr/bin/time -f '%e %M %U %S' -o "$work/time.out" "$@" < /dev/null > "$work/client.out" 2>&1; cat "$work/time.out"; }

run_client() {
  reset_world
  measure env TARVO_REGISTRY="$world/registry.reg" TARVO_FTP_PORT="$ftp_port" TARVO_UI=console \
    "$client" 1 127.0.0.1 "$patch_port"
  expect_launcher_at "$world/game/Tarvo.exe"
}

run_curl() {
  rm -f "$work/curl.out"
  measure curl -s -o "$work/curl.out" "ftp://127.0.0.1:$ftp_port/$launcher_path"
  expect_launcher_at "$work/curl.out"
}

ratios=()
peaks=()
for i in $(seq "$runs"); do
  if [ $((i % 2)) = 1 ]; then read -r ct cm cu cs < <(run_client); read -r ut um uu us < <(run_curl)
  else read -r ut um uu us < <(run_curl); read -r ct cm cu cs < <(run_client); fi
  r=$(awk "BEGIN { print $ct / $ut }")
  ratios+=("$r")
  peaks+=("$cm")
  printf "run %d: client %.2f s (cpu %.2f), %.1f MiB; curl %.2f s (cpu %.2f), %.1f MiB; ratio %.3f\n" "$i" "$ct" "$(awk "BEGIN { print $cu + $cs }")" \
    "$(awk "BEGIN { print $cm / 1024 }")" "$ut" "$(awk "BEGIN { print $uu + $us }")" "$(awk "BEGIN { print $um / 1024 }")" "$r"
done
printf 'median ratio client/curl: %.3f\n' "$(median "${ratios[@]}")"
printf 'median peak memory of the client: %.1f MiB\n' "$(awk "BEGIN { print $(median "${peaks[@]}") / 1024 }")"
