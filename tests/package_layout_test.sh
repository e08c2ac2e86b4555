#!/usr/bin/env bash
# The Debian package of a build: cpack makes it, and it holds the client, the publishing tool and
# their documents, depends on the shared libraries they link, runs from where it is unpacked, and
# apt can resolve it on this system.
#   tests/package_layout_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/tarvo-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/out/*.deb)
case "$(basename "$deb")" in tarvo-patch-client_*_*.deb) ;; *) fail "package name $(basename "$deb")" ;; esac

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

version=$("$scratch/root/usr/bin/tarvo-publish" --version)
[ "$version" = "tarvo-publish $(dpkg-deb -f "$deb" Version)" ] || fail "version: $version"
mkdir -p "$scratch/ftp/PatchInfo"
"$scratch/root/usr/bin/tarvo-publish" check --root "$scratch/ftp" | grep -q "0 errors" || fail "the packaged tool"

if command -v apt-get > /dev/null; then
  apt-get install -s -q "$deb" > "$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt cannot install it"; }
fi
echo "package ok: $(basename "$deb")"
