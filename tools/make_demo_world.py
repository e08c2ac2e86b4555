#!/usr/bin/python3
"""Builds a Tarvo world for the demo, the end-to-end tests and the patch benchmark.

A world is a folder with:
  game/            an old installation: launcher, game program, music files, image pack, data files
  registry.reg     the installation's registry key (defaultdir and the four versions)
  ftp/             the FTP root; the client's FTP root folder "/tarvo" holds TarvoPatch, TarvoMusic
                   and PatchInfo with the launcher, agent list, patch client, music list, music and
                   the data patch levels
  operator/        the launcher, agent list, patch client and songs that the operator publishes
  patch_server.json  the configuration of tools/patch_server.py (the port is filled in later)
  web/notice.html  the notice page, which scripts/demo serves on loopback

The operator's files, the music list and the patch server's configuration are published with
tarvo-publish (--publish names the binary). The data levels are made here by hand instead: each of
their archives writes Data/order.txt, so that the file shows which archive was installed last, and
tarvo-publish never puts one file in two archives.

The demo data patch goes from level 1.0 to 1.2.3 over two levels: 1.1 brings Data/a.dat and
Data/b.dat, 1.2 brings Data/c.dat, a music patch and a texture pack. Each archive also writes
Data/order.txt with its own letter, so the file tells which archive was installed last.
"""
import argparse
import json
import os
import random
import shutil
import stat
import struct
import subprocess
import zipfile

FTP_ROOT = "/tarvo"


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    if mode is not None:
        os.chmod(path, mode)


def float_bits(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


def music_file(music_id, version, body):
    """A music file: the 300-byte header, then the song data block it points at."""
    header = bytearray(300)
    struct.pack_into("<I", header, 0, music_id)
    header[99] = 0
    struct.pack_into("<f", header, 104, version)
    struct.pack_into("<I", header, 268, len(body))
    struct.pack_into("<I", header, 296, 300)
    return bytes(header) + body


def image_pack(pictures):
    """An image pack: 16-byte header, pictures, then the directory of 152-byte entries."""
    data = bytearray(struct.pack("<IIQ", 0x4950, len(pictures), 0))
    directory = bytearray()
    for name, (w, h) in pictures.items():
        offset = len(data)
        data += struct.pack("<HHHH", 0, 0x0555, 1, 0)
        data += struct.pack("<IHH12x", 0, w, h)
        for y in range(h):
            for x in range(w):
                data += struct.pack("<H", ((x * 31 // max(w - 1, 1)) << 10) | ((y * 31 // max(h - 1, 1)) << 5) | 16)
        entry = bytearray(152)
        raw = name.encode()
        entry[4:4 + len(raw)] = raw
        struct.pack_into("<I", entry, 132, offset)
        directory += entry
    return bytes(data + directory)


def registry(game, versions):
    if STAND_IN:
        game = "Z:" + game.replace("/", "\\")  # the folder as a Windows program under Wine names it
    lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]",
             '"defaultdir"="%s"' % game.replace("\\", "\\\\")]
    for i, v in enumerate(versions):
        if v is not None:
            lines.append('"Version%d"=dword:%08x' % (i + 1, float_bits(v)))
    return "\r\n".join(lines) + "\r\n"


# The Windows world's programs: a copy of tests/windows/stand_in.cpp's program each, tagged with the
# role it plays (see there); None for the Linux world's shell scripts.
STAND_IN = None


def script(text, role):
    if STAND_IN:
        with open(STAND_IN, "rb") as f:
            return f.read() + b"\nTARVO-STAND-IN:" + role.encode()
    return "#!/bin/sh\n" + text


def game_program():
    return script('''# The demo game: shows the command line the patch client built for it.
here=$(dirname "$0")
{
  echo "Zobi.exe started with $# arguments:"
  i=1
  for a in "$@"; do echo "  [$i] $a"; i=$((i+1)); done
} > "$here/zobi_args.tmp"
# Put in place whole, so that whoever watches for the file never reads half of it.
mv "$here/zobi_args.tmp" "$here/zobi_args.txt"
cat "$here/zobi_args.txt"
''', "game")


# The demo's notice page: static, self-contained (the view fetches nothing else) and sized to the
# notice area (383 x 233 pixels).
NOTICE_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Tarvo</title>
<style>
  body { margin: 0; padding: 8px 12px; font: 13px sans-serif; color: #203050; background: #f4f7fc; }
  h1 { font-size: 15px; margin: 0 0 6px; color: #1c3f8c; }
  li { margin: 3px 0; }
  p { color: #607090; font-size: 11px; }
</style></head>
<body>
<h1>公告 · Notice</h1>
<ul>
  <li>数据补丁 1.2.3：新的纹理包与音乐。</li>
  <li>Data patch 1.2.3: a new texture pack and music.</li>
  <li>更新完成后请按“开始”。 Press Start once the patch is done.</li>
</ul>
<p>This page comes from the demo's own web server on 127.0.0.1.</p>
</body></html>
"""


def launcher(tag):
    return script('''# The demo launcher (%s): notes that the patch client started it again.
here=$(dirname "$0")
nice > "$here/launcher_priority.txt"
env > "$here/launcher_environment.txt"
echo "%s $*" >> "$here/launcher_runs.txt"
echo "Tarvo launcher (%s) started again"
''' % (tag, tag, tag), "launcher " + tag)


def zip_archive(path, files, compress=True):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    method = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
    with zipfile.ZipFile(path, "w", method) as z:
        for name, data in files:
            z.writestr(name, data)
    return os.path.getsize(path)


def list_file(target, records):
    lines = ["TarvoPatch %s end" % target]
    for path, size in records:
        lines.append("%s %d zip 0" % (path, size))
    return "\r\n".join(lines) + "\r\n"


def game_data(rng, size):
    """Compressible game-like bytes: repeated records with some noise."""
    out = bytearray()
    while len(out) < size:
        out += rng.randbytes(2048) + b"TARVO" * 400
    return bytes(out[:size])


def publish(tool, *args):
    """Runs tarvo-publish; returns what it printed."""
    return subprocess.run([tool] + list(args), check=True, stdout=subprocess.PIPE, text=True).stdout


def build_demo(out, server_versions, registry_versions, tool):
    game = os.path.join(out, "game")
    ftp = os.path.join(out, "ftp")
    tree = os.path.join(ftp, FTP_ROOT.strip("/"))
    patch = os.path.join(tree, "TarvoPatch")
    rng = random.Random(7)

    # The old installation.
    write(os.path.join(game, "Tarvo.exe"), launcher("old"), 0o755)
    write(os.path.join(game, "AgentIP.ini"), "[Agent]\r\nip=old\r\n")
    write(os.path.join(game, "Zobi.exe"), game_program(), 0o755)
    write(os.path.join(game, "Data", "order.txt"), "old")
    write(os.path.join(game, "Data", "a.dat"), "a, level 1.0")
    for number in (1, 2, 3):
        write(os.path.join(game, "Music", "zoma%d.qkn" % number),
              music_file(number, 1.0, b"old song %d " % number * 50))
    write(os.path.join(game, "Image", "Interface1.zpi"),
          image_pack({"SMI_1.qks": (16, 12), "smi_2.QKS": (8, 8), "SMI_3.qks": (4, 4)}))
    write(os.path.join(out, "registry.reg"), registry(game, registry_versions))
    write(os.path.join(out, "web", "notice.html"), NOTICE_PAGE)

    # The FTP tree: what the operator publishes. FTP carries no file modes, so the programs are
    # published without execute permission, as the client receives them.
    operator = os.path.join(out, "operator")
    write(os.path.join(operator, "Tarvo.exe"), launcher("new"), 0o644)
    write(os.path.join(operator, "AgentIP.ini"), "[Agent]\r\nip=127.0.0.1\r\n")
    write(os.path.join(operator, "TarvoPatchClient.exe"), script('echo "new patch client"\n', "client new"), 0o644)
    for kind, name in (("launcher", "Tarvo.exe"), ("agent-list", "AgentIP.ini"), ("client", "TarvoPatchClient.exe")):
        publish(tool, kind, os.path.join(operator, name), "--root", tree)
    songs = [(1, 1.5, b"new song 1 " * 80), (2, 1.0, b"old song 2 " * 50), (3, 1.0, b"old song 3 " * 50)]
    for number, version, body in songs:
        write(os.path.join(operator, "songs", "zoma%d.qkn" % number), music_file(number, version, body))
    publish(tool, "music", "--root", tree,
            *[os.path.join(operator, "songs", "zoma%d.qkn" % number) for number, _, _ in songs])

    level11 = [
        ("TarvoPatch\\Data\\A_110.zip", [("Data/a.dat", "a, level 1.1"), ("Data/order.txt", "A")]),
        ("TarvoPatch\\Data\\B_110.zip", [("Data/b.dat", "b, level 1.1"), ("Data/order.txt", "B")]),
    ]
    level12 = [
        ("TarvoPatch\\Data\\C_120.zip", [("Data/c.dat", "c, level 1.2"), ("Data/Sub/deep.dat", "deep"),
                                         ("Data/order.txt", "C")]),
        ("TarvoPatch\\PatchMusic_120.zip", [("Music/Temp/zoma3.qkn", music_file(3, 1.2, b"song 3, level 1.2 " * 40))]),
        ("TarvoPatch\\Texture\\T_120.zip", [("Texture/pack.bin", game_data(rng, 3 << 20))]),
    ]
    sizes = {}
    for record, files in level11 + level12:
        name = record.split("\\", 1)[1]
        sizes[record] = zip_archive(os.path.join(patch, *name.split("\\")), files)
    info = os.path.join(tree, "PatchInfo")
    write(os.path.join(info, "FileList_100.dat"),
          list_file("1.2.3", [(r, sizes[r]) for r, _ in level11 + level12]))
    write(os.path.join(info, "FileList_110.dat"), list_file("1.2.3", [(r, sizes[r]) for r, _ in level12]))

    config = json.loads(publish(tool, "server-config", "--versions", ",".join(server_versions),
                                "--ftp-root", FTP_ROOT, "--ftp-hosts", "127.0.0.1",
                                "--music-hosts", "127.0.0.1,localhost",
                                "--game-servers", "127.0.0.1:9000,localhost:9001", "--game-arg", "demo"))
    config.update({
        "flags": [1, 2, 3, 4, 5, 6, 7, 8],
        "log": os.path.join(out, "patch_server.log"),
        "port_file": os.path.join(out, "patch_server.port"),
    })
    write(os.path.join(out, "patch_server.json"), json.dumps(config, indent=2))


def build_bench(out, archives, total_mib):
    """One level of `archives` archives, `total_mib` MiB of archive bytes in all, from level 1.0."""
    game = os.path.join(out, "game")
    tree = os.path.join(out, "ftp", FTP_ROOT.strip("/"))
    rng = random.Random(11)
    os.makedirs(os.path.join(game, "Music"), exist_ok=True)
    write(os.path.join(game, "Zobi.exe"), game_program(), 0o755)
    write(os.path.join(out, "registry.reg"), registry(game, [1.0, 1.0, 1.0, 1.0]))
    per_archive = total_mib * 1024 * 1024 // archives
    noise = rng.randbytes(1 << 20)
    records = []
    for i in range(archives):
        files = []
        # Mostly incompressible payload with a few small files, as game data packs are.
        for j in range(4):
            start = rng.randrange(0, len(noise) // 2)
            part = (noise[start:] + noise[:start]) * (per_archive // len(noise) // 4 + 1)
            files.append(("Bench/L%02d/f%d.bin" % (i, j), part[:per_archive // 4]))
        files.append(("Bench/L%02d/readme.txt" % i, "archive %d\n" % i * 100))
        record = "TarvoPatch\\Bench\\P%02d.zip" % i
        size = zip_archive(os.path.join(tree, "TarvoPatch", "Bench", "P%02d.zip" % i), files)
        records.append((record, size))
    write(os.path.join(tree, "PatchInfo", "FileList_100.dat"), list_file("1.1", records))
    write(os.path.join(out, "patch_server.json"), json.dumps({
        "versions": ["", "", "1.1", ""],
        "ftp_root": FTP_ROOT,
        "entries": ["1:127.0.0.1"],
        "game_servers": [["127.0.0.1", 9000]],
        "port_file": os.path.join(out, "patch_server.port"),
    }, indent=2))
    # The order the client installs them in: the last record first.
    with open(os.path.join(out, "bench_order.txt"), "w") as f:
        for record, _ in reversed(records):
            f.write(record.split("\\", 1)[1].replace("\\", "/") + "\n")


def versions(text):
    return [None if v == "-" else float(v) for v in text.split(",")]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True, help="folder to create (must not exist or be empty)")
    parser.add_argument("--server-versions", default="1.0,1.0,1.2.3,1.1",
                        help="the patch server's four version texts, comma-separated")
    parser.add_argument("--registry-versions", default="1.0,1.0,1.0,1.0",
                        help="the installation's four versions; '-' leaves one out")
    parser.add_argument("--publish", help="the tarvo-publish binary (needed for the demo world)")
    parser.add_argument("--bench-archives", type=int, help="build the benchmark world instead")
    parser.add_argument("--bench-mib", type=int, default=300)
    parser.add_argument("--windows-stand-in", metavar="EXE",
                        help="a world for the Windows client under Wine: programs are copies of EXE "
                             "(tarvo-stand-in.exe) and the registry names the game folder as Z:\\...")
    args = parser.parse_args()
    global STAND_IN
    STAND_IN = args.windows_stand_in
    if not args.bench_archives and not args.publish:
        parser.error("the demo world is published with tarvo-publish: give --publish BINARY")
    out = os.path.abspath(args.out)
    if os.path.exists(out) and os.listdir(out):
        parser.error("%s is not empty" % out)
    os.makedirs(out, exist_ok=True)
    if args.bench_archives:
        build_bench(out, args.bench_archives, args.bench_mib)
    else:
        build_demo(out, args.server_versions.split(","), versions(args.registry_versions), args.publish)
    print(out)


if __name__ == "__main__":
    main()
