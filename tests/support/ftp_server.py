#!/usr/bin/python3
"""Anonymous read-only FTP server on loopback for the tests and benchmarks.

Prints "PORT <n>" on standard output once it listens, then serves until it is killed.
Every command and reply goes to the log file, so a test can read what the client did.
"""
import argparse
import logging
import os
import random
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FileProducer, FTPHandler
from pyftpdlib.servers import FTPServer


class _CutProducer:
    """Sends `limit` bytes from the file's current position, then fails the read so the server
    drops the data connection. A file with no more than that left is sent whole."""

    buffer_size = 4096

    def __init__(self, fd, limit):
        self.file = fd
        left = os.fstat(fd.fileno()).st_size - fd.tell()
        self.limit = limit if limit < left else None
        self.sent = 0

    def more(self):
        if self.limit is None:
            return self.file.read(self.buffer_size)
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


class _StallProducer:
    """Sends the first `after` bytes of a file, then stops for `seconds` (the whole server with it,
    as a host that hangs), then sends the rest."""

    buffer_size = 4096

    def __init__(self, fd, after, seconds):
        self.file = fd
        self.after = after
        self.seconds = seconds
        self.sent = 0

    def more(self):
        if self.after is not None and self.sent >= self.after:
            time.sleep(self.seconds)
            self.after = None
        want = self.buffer_size if self.after is None else min(self.buffer_size, self.after - self.sent)
        data = self.file.read(want)
        self.sent += len(data)
        return data


class _PacedProducer:
    """Sends a file no faster than `rate` bytes a second, kept from the start of the transfer, so
    that short transfers hold the rate as well as long ones (a line of that speed)."""

    chunk = 65536

    def __init__(self, fd, rate):
        self.file = fd
        self.rate = rate
        self.sent = 0
        self.start = time.monotonic()

    def more(self):
        due = self.start + self.sent / self.rate
        pause = due - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        data = self.file.read(self.chunk)
        self.sent += len(data)
        return data


class _EndlessProducer:
    """Sends a pattern for ever: a file that never ends."""

    def __init__(self):
        self.block = bytes(range(256)) * 64

    def more(self):
        return self.block


class _HandedOverDTP(DTPHandler):
    """Reports a transfer complete once every byte is handed to the network, as many servers do,
    even when the client closes the data connection before it has read them all."""

    def handle_close(self):
        if not self._closed and not self.receive and all(item is None for item in self.producer_fifo):
            self.producer_fifo.clear()
        super().handle_close()


def _key(name):
    return os.path.normcase(name.strip("/"))


def make_handler(cut_names, cut_times, slow_names, slow_chunk, announced, endless_names, rate=0,
                 cut_random=None, stalls=(), drop_after=0, drop_times=-1, no_rest=False, ignore_rest=False,
                 no_mdtm=False):
    remaining = {_key(name): cut_times for name in cut_names}
    dropped = {}  # path -> transfers dropped so far
    # SEED/PERCENT: every transfer is cut at a random byte with that chance, drawn from one
    # generator, so the same seed cuts the same transfers at the same bytes again.
    chance = None
    if cut_random:
        seed, _, percent = cut_random.partition("/")
        chance = (random.Random(int(seed)), float(percent) / 100.0, seed)
    stalled = {}  # path -> [bytes before the stall, seconds]; the first transfer only
    for item in stalls:
        name, _, spec = item.rpartition("=")
        after, _, seconds = spec.partition(":")
        stalled[_key(name)] = [int(after), float(seconds)]
    slow = {_key(name) for name in slow_names}
    endless = {_key(name) for name in endless_names}
    sizes = {}  # path -> [answer, SIZE commands left to answer so (None: all)]
    for item in announced:
        name, _, answer = item.rpartition("=")
        answer, _, times = answer.partition("/")
        sizes[_key(name)] = [answer, int(times) if times else None]

    class Handler(FTPHandler):
        def _relative(self, file):
            return os.path.relpath(file, self.fs.root).replace(os.sep, "/")

        def _open_at_restart(self, file):
            """Opens `file` for RETR at the offset of the REST before it, which it uses up; None
            once it has answered an error itself."""
            rest = self._restart_position
            self._restart_position = 0
            try:
                fd = self.run_as_current_user(self.fs.open, file, "rb")
            except OSError as err:
                self.respond("550 %s." % err.strerror)
                return None
            size = os.fstat(fd.fileno()).st_size
            if rest > size:
                fd.close()
                self.respond("554 REST position (%d) > file size (%d)" % (rest, size))
                return None
            fd.seek(rest)
            return fd

        def _push(self, file, producer_of):
            fd = self._open_at_restart(file)
            if fd is None:
                return None
            self.push_dtp_data(producer_of(fd), isproducer=True, file=fd, cmd="RETR")
            return file

        def ftp_REST(self, line):
            if no_rest:
                self.respond("502 Command not implemented.")
            else:
                super().ftp_REST(line)
                if ignore_rest:  # says 350 and then sends from byte 0 all the same
                    self._restart_position = 0

        def ftp_MDTM(self, path):
            if no_mdtm:
                self.respond("502 Command not implemented.")
            else:
                super().ftp_MDTM(path)

        def ftp_SIZE(self, path):
            rel = self._relative(path)
            answer, left = sizes.get(rel, (None, 0))
            if answer is None or left == 0:
                return super().ftp_SIZE(path)
            if left is not None:
                sizes[rel][1] = left - 1
            if answer == "none":
                self.respond("502 SIZE not implemented.")
            else:
                self.respond("213 %s" % answer)
            return None

        def ftp_RETR(self, file):
            rel = self._relative(file)
            if rel in endless:
                self._restart_position = 0
                self.push_dtp_data(_EndlessProducer(), isproducer=True, cmd="RETR")
                return file
            if rel in sizes:
                # Sent in one piece: the server reports the transfer complete once it has handed
                # every byte over, however many of them the client chose to read.
                fd = self._open_at_restart(file)
                if fd is None:
                    return None
                with fd:
                    data = fd.read()
                self.push_dtp_data(data, isproducer=False, cmd="RETR")
                return file
            if rel in slow:
                return self._push(file, lambda fd: _SlowProducer(fd, slow_chunk))
            if rel in stalled:
                after, seconds = stalled.pop(rel)
                logging.info("fault: RETR %s stalls %.1f s after %d bytes", rel, seconds, after)
                return self._push(file, lambda fd: _StallProducer(fd, after, seconds))
            if chance is not None:
                rng, probability, seed = chance

                def random_cut(fd):
                    start = fd.tell()
                    left = os.fstat(fd.fileno()).st_size - start
                    if left > 0 and rng.random() < probability:
                        cut = rng.randrange(left)
                        logging.info("fault: RETR %s from %d cut after %d of %d bytes (seed %s)", rel, start, cut, left, seed)
                        return _CutProducer(fd, cut)
                    logging.info("fault: RETR %s from %d whole (seed %s)", rel, start, seed)
                    return FileProducer(fd, self._current_type)

                return self._push(file, random_cut)
            if remaining.get(rel, 0) > 0:
                remaining[rel] -= 1
                return self._push(file, lambda fd: _CutProducer(fd, (os.fstat(fd.fileno()).st_size - fd.tell()) // 2))
            if drop_after > 0 and (drop_times < 0 or dropped.get(rel, 0) < drop_times):
                dropped[rel] = dropped.get(rel, 0) + 1
                return self._push(file, lambda fd: _CutProducer(fd, drop_after))
            if rate > 0:
                return self._push(file, lambda fd: _PacedProducer(fd, rate))
            return super().ftp_RETR(file)

    if announced:
        Handler.dtp_handler = _HandedOverDTP
    # Cuts and slow files need the producer path; sendfile would bypass it.
    if cut_names or slow_names or endless_names or announced or rate > 0 or cut_random or stalls or drop_after > 0:
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
    parser.add_argument("--announce", action="append", default=[],
                        help="PATH=N[/T]: SIZE of PATH answers N whatever the file holds (only the first T "
                             "times when given); N 'none' refuses SIZE")
    parser.add_argument("--endless", action="append", default=[],
                        help="path relative to the root whose transfer never ends")
    parser.add_argument("--drop-after", type=int, default=0,
                        help="bytes after which every transfer of more is dropped (0: none), as by a poor line")
    parser.add_argument("--drop-times", type=int, default=-1,
                        help="how many transfers of each file are dropped so (-1: all of them)")
    parser.add_argument("--no-rest", action="store_true", help="refuse REST, as servers without resume do")
    parser.add_argument("--ignore-rest", action="store_true",
                        help="answer REST with 350 and send from the start anyway, as broken servers do")
    parser.add_argument("--no-mdtm", action="store_true", help="refuse MDTM, as servers without it do")
    parser.add_argument("--rate", type=float, default=0,
                        help="bytes a second that every other transfer is held to (0: as fast as it goes)")
    parser.add_argument("--cut-random", default=None,
                        help="SEED/PERCENT: cut each transfer with that chance at a random byte (logged)")
    parser.add_argument("--stall", action="append", default=[],
                        help="PATH=BYTES:SECONDS: the first transfer of PATH stops for SECONDS after BYTES")
    args = parser.parse_args()

    logging.basicConfig(filename=args.log, level=logging.DEBUG,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(os.path.realpath(args.root), perm="elr")
    handler = make_handler(args.cut, args.cut_times, args.slow, args.slow_chunk, args.announce, args.endless, args.rate,
                           args.cut_random, args.stall, args.drop_after, args.drop_times, args.no_rest,
                           args.ignore_rest, args.no_mdtm)
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
