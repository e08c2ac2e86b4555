#!/usr/bin/env python3
"""A patch server for the Tarvo patch client, driven by a JSON configuration file.

Operators can point a client at it to try a deployment; the project's tests and demo use it too.
After a client's first frame (type 0) it sends the configured frames: server versions (type 1),
download places (type 3), game settings (type 5) and game servers (type 10). Every frame received
from the client is logged, one line each, so that a test can check what the client answered.

Configuration keys (all optional):
  host, port            where to listen (port 0 picks a free port)
  port_file             file to write the port that was picked into
  log                   file that receives "connect", "recv TYPE LENGTH" and "close" lines
  versions              [v1, v2, v3, v4]: the four server version texts
  status1               status of the type 1 frame
  stop3, game_arg, ftp_root, entries, count3
                        type 3: stop field, game argument, FTP root, "kind:value" entries, and a
                        count to send instead of the number of entries
  status5, flags        type 5: status and the eight game settings
  status10, game_servers, count10
                        type 10: status, [[host, port], ...], and a count to send instead
  frames                the frames to send, in order: names ("versions", "places", "settings",
                        "servers") or {"raw": "hex bytes"} for a frame given byte by byte
  close_after           close the connection after sending this many frames
  connections           serve this many connections, then exit (default: run until stopped)
  keep_sending          {"frame": name or {"raw": ...}, "every_ms": N, "burst": B}: after the frames,
                        send B copies of this frame at a time, N ms apart, until the connection
                        fails, and read nothing more meanwhile (a peer that never reads). With N = 0
                        the socket is nearly always busy sending, and the kernel then drops the
                        peer's acknowledgements once the unread data fills the receive buffer.
  rcvbuf                the sockets' receive buffer size, to fill it sooner
  accept                false: never accept a connection, and keep the listen queue full so that
                        a client's connect is never even answered
"""
import json
import socket
import struct
import sys
import threading
import time


def frame(ftype, body=b""):
    return struct.pack("<HH", 4 + len(body), ftype) + body


def cstr(text):
    return text.encode("utf-8") + b"\0"


def build(name, cfg):
    if isinstance(name, dict):
        return bytes.fromhex(name["raw"])
    if name == "versions":
        v = (cfg.get("versions") or ["", "", "", ""]) + ["", "", "", ""]
        body = struct.pack("<i", cfg.get("status1", 0)) + cstr(v[2]) + cstr(v[1]) + cstr(v[0]) + cstr(v[3])
        return frame(1, body)
    if name == "places":
        entries = cfg.get("entries", [])
        count = cfg.get("count3")
        body = struct.pack("<i", cfg.get("stop3", 0)) + cstr(cfg.get("game_arg", "")) + cstr(cfg.get("ftp_root", ""))
        body += struct.pack("<i", len(entries) if count is None else count)
        body += b"".join(cstr(e) for e in entries)
        return frame(3, body)
    if name == "settings":
        flags = (cfg.get("flags") or [1] * 8)[:8]
        return frame(5, struct.pack("<i", cfg.get("status5", 0)) + bytes(f & 0xFF for f in flags))
    if name == "servers":
        servers = cfg.get("game_servers", [])
        count = cfg.get("count10")
        body = struct.pack("<ii", cfg.get("status10", 0), len(servers) if count is None else count)
        for host, port in servers:
            body += cstr(host) + struct.pack("<I", port & 0xFFFFFFFF)
        return frame(10, body)
    raise ValueError("unknown frame name: %r" % (name,))


class Log:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def write(self, line):
        if not self.path:
            return
        with self.lock, open(self.path, "a") as f:
            f.write(line + "\n")


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def serve(conn, cfg, log):
    log.write("connect")
    sent = 0
    frames = cfg.get("frames", ["versions", "places", "settings", "servers"])
    close_after = cfg.get("close_after")
    try:
        while True:
            head = read_exact(conn, 4)
            if head is None:
                break
            length, ftype = struct.unpack("<HH", head)
            if length < 4 or read_exact(conn, length - 4) is None and length > 4:
                break
            log.write("recv %d %d" % (ftype, length))
            if ftype == 0 and sent == 0:
                for name in frames:
                    if close_after is not None and sent >= close_after:
                        return
                    conn.sendall(build(name, cfg))
                    sent += 1
                if close_after is not None and sent >= close_after:
                    return
                keep = cfg.get("keep_sending")
                if keep:
                    again = build(keep["frame"], cfg) * keep.get("burst", 1)
                    while True:
                        conn.sendall(again)
                        time.sleep(keep.get("every_ms", 0) / 1000.0)
    except OSError:
        pass
    finally:
        log.write("close")
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def main():
    if len(sys.argv) != 2:
        print("usage: patch_server.py CONFIG.json", file=sys.stderr)
        return 2
    with open(sys.argv[1]) as f:
        cfg = json.load(f)
    log = Log(cfg.get("log"))
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((cfg.get("host", "127.0.0.1"), cfg.get("port", 0)))
    if "rcvbuf" in cfg:
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, cfg["rcvbuf"])
    accepting = cfg.get("accept", True) is not False
    srv.listen(8 if accepting else 0)
    port = srv.getsockname()[1]
    fillers = []
    while not accepting and len(fillers) < 4:
        # Connections nobody takes off the queue: once it is full, further ones go unanswered.
        filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        filler.setblocking(False)
        filler.connect_ex(srv.getsockname())
        fillers.append(filler)
    if cfg.get("port_file"):
        with open(cfg["port_file"] + ".tmp", "w") as f:
            f.write("%d\n" % port)
        import os
        os.replace(cfg["port_file"] + ".tmp", cfg["port_file"])
    print("patch server listening on %s:%d" % (cfg.get("host", "127.0.0.1"), port), flush=True)
    if not accepting:
        threading.Event().wait()
    remaining = cfg.get("connections")
    threads = []
    while remaining is None or remaining > 0:
        conn, _ = srv.accept()
        t = threading.Thread(target=serve, args=(conn, cfg, log), daemon=True)
        t.start()
        threads.append(t)
        if remaining is not None:
            remaining -= 1
    for t in threads:
        t.join()
    return 0


if __name__ == "__main__":
    sys.exit(main())
