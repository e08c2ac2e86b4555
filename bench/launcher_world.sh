# Sourced by the launcher benchmarks: a demo world whose only out-of-date item is a launcher of
# $mib MiB, its patch server, an FTP server held to a rate, and the median. Expects $repo, $mib and
# $client set; sets $work, $world, $patch_port, and (per start_ftp_server) $ftp_pid and $ftp_port.

# The downloads land in memory when it can hold them, so the disk's write-back does not drown the
# difference measured.
base=/tmp
[ -d /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/tarvo-bench-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

publish="$(dirname "$client")/tarvo-publish"
[ -x "$client" ] && [ -x "$publish" ] || { echo "build the client and tarvo-publish first" >&2; exit 1; }
world="$work/world"
# Only the launcher is behind: the run fetches it and ends.
/usr/bin/python3 "$repo/tools/make_demo_world.py" --publish "$publish" --out "$world" --server-versions 1.1,1.0,1.0,1.0 >/dev/null
launcher=$(find "$world/ftp" -name Tarvo.exe | head -1)
launcher_path=${launcher#"$world/ftp/"}
head -c $((mib * 1048576)) /dev/urandom > "$launcher"
cp "$world/registry.reg" "$world/registry.pristine"
# The launcher is replaced only where an old one stands, so each run starts from the old one.
cp "$world/game/Tarvo.exe" "$work/Tarvo.old"

/usr/bin/python3 "$repo/tools/patch_server.py" "$world/patch_server.json" > "$work/patch.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$world/patch_server.port" ] && break
  sleep 0.1
done
patch_port=$(cat "$world/patch_server.port")

# An FTP server held to the given rate (MB/s, 0 for none); sets ftp_pid and ftp_port.
start_ftp_server() {
  rm -f "$work/ftp.out"
  /usr/bin/python3 "$repo/tests/support/ftp_server.py" --root "$world/ftp" --log /dev/null \
    --rate "$(awk "BEGIN { print $1 * 1000000 }")" > "$work/ftp.out" 2>&1 &
  ftp_pid=$!
  pids+=("$ftp_pid")
  for _ in $(seq 100); do
    grep -q '^PORT ' "$work/ftp.out" 2>/dev/null && break
    sleep 0.1
  done
  ftp_port=$(sed -n 's/^PORT //p' "$work/ftp.out")
}

# The old launcher and registry back in place, for the next run.
reset_world() {
  cp "$world/registry.pristine" "$world/registry.reg"
  cp "$work/Tarvo.old" "$world/game/Tarvo.exe"
  sync
}

# Fails the benchmark when a run did not bring the whole launcher to `$1`.
expect_launcher_at() {
  if [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ne $((mib * 1048576)) ]; then
    echo "a run did not fetch the launcher:" >&2
    cat "$work/client.out" >&2
    exit 1
  fi
}

now() { date +%s.%N; }

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
