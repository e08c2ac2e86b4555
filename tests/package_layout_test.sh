#!/usr/bin/env bash
# The Debian packages of a build: cpack makes them. The client's holds the client, the publishing
# tool and their documents, depends on the shared libraries they link and on no window library, and
# runs its console from where it is unpacked alone; the window's holds the window module and brings
# the toolkit. apt can resolve both on this system.
#   tests/package_layout_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/tarvo-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/out/tarvo-patch-client_*_*.deb) || fail "no client package: $(ls "$scratch/out")"
window_deb=$(ls "$scratch"/out/tarvo-patch-client-window_*_*.deb 2>/dev/null || true)

dpkg-deb -x "$deb" "$scratch/root"
for file in usr/bin/TarvoPatchClient usr/bin/tarvo-publish usr/share/doc/tarvo-patch-client/README.md \
            usr/share/doc/tarvo-patch-client/copyright \
            usr/share/tarvo-patch-client/patch_server.py; do
  [ -f "$scratch/root/$file" ] || fail "$file is not in the package"
done
[ -x "$scratch/root/usr/bin/TarvoPatchClient" ] && [ -x "$scratch/root/usr/bin/tarvo-publish" ] || fail "binaries"
# Nothing outside /usr.
extra=$(cd "$scratch/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$extra" ] || fail "outside /usr: $extra"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libcurl4 zlib1g; do
  grep -q "$library" <<< "$depends" || fail "Depends lacks $library: $depends"
done
window_libraries='wx|gtk|webkit|gdk|glib'
! grep -Eqi "$window_libraries" <<< "$depends" || fail "the client's package depends on window libraries: $depends"
! ldd "$scratch/root/usr/bin/TarvoPatchClient" | grep -Eqi "$window_libraries" || fail "the client links window libraries"
# Only the client's package unpacked: a run that asks for the window says why there is none, once,
# and goes on in the console.
out=$(DISPLAY=:99 TARVO_UI=gui "$scratch/root/usr/bin/TarvoPatchClient" 2>&1 < /dev/null) || true
grep -q "no window (the window module cannot be loaded" <<< "$out" || fail "no fallback to the console: $out"
grep -q "Cannot execute" <<< "$out" || fail "the console did not run: $out"
if [ -n "$window_deb" ]; then
  [ "$(dpkg-deb -f "$deb" Recommends)" = "tarvo-patch-client-window" ] || fail "the client does not recommend its window"
  grep -q "tarvo-patch-client (=" <<< "$(dpkg-deb -f "$window_deb" Depends)" || fail "the window does not depend on its client"
  grep -qi "gtk" <<< "$(dpkg-deb -f "$window_deb" Depends)" || fail "the window's package does not bring its toolkit"
  # Both unpacked: the packaged client finds its module, which then meets the missing display.
  dpkg-deb -x "$window_deb" "$scratch/root"
  out=$(DISPLAY=:99 TARVO_UI=gui "$scratch/root/usr/bin/TarvoPatchClient" 2>&1 < /dev/null) || true
  grep -q 'no window (the display ":99" cannot be opened)' <<< "$out" || fail "the packaged module: $out"
fi

version=$("$scratch/root/usr/bin/tarvo-publish" --version)
[ "$version" = "tarvo-publish $(dpkg-deb -f "$deb" Version)" ] || fail "version: $version"
mkdir -p "$scratch/ftp/PatchInfo"
"$scratch/root/usr/bin/tarvo-publish" check --root "$scratch/ftp" | grep -q "0 errors" || fail "the packaged tool"

if command -v apt-get > /dev/null; then
  apt-get install -s -q "$deb" $window_deb > "$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt cannot install them"; }
fi
echo "packages ok: $(basename "$deb") $( [ -n "$window_deb" ] && basename "$window_deb")"
