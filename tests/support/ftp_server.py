#!/usr/bin/python3
"""Anonymous read-only FTP server on loopback for the tests and benchmarks.

Prints "PORT <n>" on standard output once it listens, then serves until it is killed.
Every command and reply goes to the log file, so a test can read what the client did.
"""
import argparse
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class _CutProducer:
    """Sends the first half of a file, then fails the read so the server drops the data connection."""

    buffer_size = 4096

    def __init__(self, fd):
        self.file = fd
        self.limit = os.fstat(fd.fileno()).st_size // 2
        self.sent = 0

    def more(self):
        if self.sent >= self.limit:
            raise OSError(5, "cut by the test server")
        data = self.file.read(min(self.buffer_size, self.limit - self.sent))
        self.sent += len(data)
        return data


class _SlowProducer:
    """Sends a file in pieces of a fixed size with a pause before each, so that the client
    receives them one by one."""

    def __init__(self, fd, chunk):
        self.file = fd
        self.chunk = chunk
        self.first = True

    def more(self):
        if not self.first:
            time.sleep(0.1)
        self.first = False
        return self.file.read(self.chunk)


def make_handler(cut_names, cut_times, slow_names, slow_chunk):
    remaining = {os.path.normcase(name.strip("/")): cut_times for name in cut_names}
    slow = {os.path.normcase(name.strip("/")) for name in slow_names}

    class Handler(FTPHandler):
        def ftp_RETR(self, file):
            rel = os.path.relpath(file, self.fs.root).replace(os.sep, "/")
            if rel in slow:
                try:
                    fd = self.run_as_current_user(self.fs.open, file, "rb")
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return None
                self.push_dtp_data(_SlowProducer(fd, slow_chunk), isproducer=True, file=fd, cmd="RETR")
                return file
            if remaining.get(rel, 0) > 0:
                remaining[rel] -= 1
                try:
                    fd = self.run_as_current_user(self.fs.open, file, "rb")
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return None
                self.push_dtp_data(_CutProducer(fd), isproducer=True, file=fd, cmd="RETR")
                return file
            return super().ftp_RETR(file)

    # Cuts and slow files need the producer path; sendfile would bypass it.
    if cut_names or slow_names:
        Handler.use_sendfile = False
    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cut", action="append", default=[],
                        help="path relative to the root whose first transfer(s) break halfway")
    parser.add_argument("--cut-times", type=int, default=1)
    parser.add_argument("--slow", action="append", default=[],
                        help="path relative to the root sent in small pieces with pauses")
    parser.add_argument("--slow-chunk", type=int, default=1000)
    args = parser.parse_args()

    logging.basicConfig(filename=args.log, level=logging.DEBUG,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(os.path.realpath(args.root), perm="elr")
    handler = make_handler(args.cut, args.cut_times, args.slow, args.slow_chunk)
    handler.authorizer = authorizer
    handler.banner = "test server ready"

    server = FTPServer(("127.0.0.1", args.port), handler)
    server.max_cons = 64
    port = server.socket.getsockname()[1]
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
