#!/usr/bin/env bash
# The client's whole console run over one patch level of about 40 archives (300 MiB) from a local
# FTP server, against a shell baseline that fetches the same archives with curl and unpacks them
# with unzip in the same order. Runs alternate; prints each pair and the median ratio client/baseline.
#
#   bench/patch.sh [runs]        (default 5 runs of each)
# Environment: TARVO_BUILD_DIR (default build), BENCH_ARCHIVES (40), BENCH_MIB (300), BENCH_DIR.
# With BENCH_RATE_MIB set, every transfer is held to that many MiB a second (a line of that speed)
# and the baseline is the line's floor, the bytes divided by the rate (bench/patch_line).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
runs="${1:-5}"
build="${TARVO_BUILD_DIR:-build}"
case "$build" in /*) client="$build/TarvoPatchClient" ;; *) client="$repo/$build/TarvoPatchClient" ;; esac
publish="$(dirname "$client")/tarvo-publish"
[ -x "$client" ] && [ -x "$publish" ] || { echo "build the client and tarvo-publish first: cmake --build $build" >&2; exit 1; }

work="${BENCH_DIR:-$(mktemp -d /tmp/tarvo-bench-XXXXXX)}"
world="$work/world"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -z "${BENCH_DIR:-}" ] && rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$world/bench_order.txt" ]; then
  echo "making ${BENCH_ARCHIVES:-40} archives, ${BENCH_MIB:-300} MiB in all, in $world ..."
  rm -rf "$world"
  /usr/bin/python3 tools/make_demo_world.py --publish "$publish" --out "$world" --bench-archives "${BENCH_ARCHIVES:-40}" \
    --bench-mib "${BENCH_MIB:-300}" >/dev/null
  cp "$world/registry.reg" "$world/registry.pristine"
fi

rate=$(awk "BEGIN { print ${BENCH_RATE_MIB:-0} * 1048576 }")
/usr/bin/python3 tests/support/ftp_server.py --root "$world/ftp" --log /dev/null --rate "$rate" > "$work/ftp.out" 2>&1 &
pids+=($!)
rm -f "$world/patch_server.port"
/usr/bin/python3 tools/patch_server.py "$world/patch_server.json" > "$work/patch.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  grep -q '^PORT ' "$work/ftp.out" && [ -s "$world/patch_server.port" ] && break
  sleep 0.1
done
ftp_port=$(sed -n 's/^PORT //p' "$work/ftp.out")
patch_port=$(cat "$world/patch_server.port")
total=$(du -cb "$world"/ftp/tarvo/TarvoPatch/Bench/*.zip | tail -1 | cut -f1)
echo "archives: $(wc -l < "$world/bench_order.txt"), $((total / 1048576)) MiB; FTP port $ftp_port"

reset_game() {
  rm -rf "$world/game/Bench" "$world/game/TempList.dat"
  cp "$world/registry.pristine" "$world/registry.reg"
  sync
}

now() { date +%s.%N; }

run_client() {
  # No input: once the patch is in and Start unlocks, the end of input cancels and the run ends.
  TARVO_REGISTRY="$world/registry.reg" TARVO_FTP_PORT="$ftp_port" TARVO_UI=console \
    "$client" 1 127.0.0.1 "$patch_port" < /dev/null > "$work/client.out" 2> "$work/client.err"
  if ! grep -q '"Version3"=dword:3f8ccccd' "$world/registry.reg" ||
     [ "$(ls "$world/game/Bench" | wc -l)" -ne "$(wc -l < "$world/bench_order.txt")" ]; then
    echo "the client's run did not complete:" >&2
    cat "$work/client.err" >&2
    exit 1
  fi
}

run_baseline() {
  (
    cd "$world/game"
    while read -r name; do
      mkdir -p "$(dirname "$name")"
      curl -s -S --ftp-pasv -o "$name" "ftp://127.0.0.1:$ftp_port/tarvo/TarvoPatch/$name"
      unzip -o -q "$name"
      rm -f "$name"
    done < "$world/bench_order.txt"
  )
}

ratios=()
for i in $(seq "$runs"); do
  reset_game
  t0=$(now); run_client; t1=$(now)
  c=$(awk "BEGIN { print $t1 - $t0 }")
  if [ "$rate" != 0 ]; then
    b=$(awk "BEGIN { print $total / $rate }")
    label="line floor"
  else
    reset_game
    t2=$(now); run_baseline; t3=$(now)
    b=$(awk "BEGIN { print $t3 - $t2 }")
    label="curl+unzip"
  fi
  r=$(awk "BEGIN { print $c / $b }")
  ratios+=("$r")
  printf 'run %d: client %.2f s, %s %.2f s, ratio %.3f\n' "$i" "$c" "$label" "$b" "$r"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}')
printf 'median ratio client/%s: %.3f\n' "$label" "$median"
