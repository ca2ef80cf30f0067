#!/usr/bin/env python3
"""Throughput of one RETR and one STOR over loopback.

Starts tolvaned on a temporary server home with one user, moves one file down and up with
Python's ftplib in passive mode and prints the rate of each direction. Builds nothing.

    bench/throughput.py [TOLVANED] [--size-mib N] [--dir DIR] [--block-kib N]
"""
import argparse
import ftplib
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MiB = 1 << 20


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_home(home, port, files):
    database = os.path.join(home, "Database")
    homes = (("[Full Machine]", "All IP's", 21, 1), ("127.0.0.1-%d" % port, "127.0.0.1", port, 0))
    for title, address, listen, disabled in homes:
        for sub in ("Users", "Groups"):
            os.makedirs(os.path.join(database, title, sub), exist_ok=True)
        with open(os.path.join(database, title + ".FTP_IPHome"), "w") as f:
            f.write("[ServerSettings]\nServerName=%s\nServerIP=%s\nServerPort=%d\nMaxUsers=\nMaxTransfers=\n"
                    "Disabled=%d\nSTORE_overwrite=1\n" % (title, address, listen, disabled))
    with open(os.path.join(database, homes[1][0], "Users", "bench.FTP_User"), "w") as f:
        f.write("[Userinformation]\r\nPassword=bench\r\nRootDir=%s\r\nAccessingRules1=%s,RWDECLMrcI\r\n"
                "AccessingRules2=ERROR\r\n\r\n[MISC-OPTIONS]\r\nShowRelativePath=TRUE\r\n" % (files, files))


def make_source(path, size):
    """Incompressible-looking data: one random block repeated. Written once, so the download reads
    a real file (from the page cache, as a busy server would)."""
    block = os.urandom(16 * MiB)
    with open(path, "wb") as f:
        left = size
        while left:
            piece = block[:min(left, len(block))]
            f.write(piece)
            left -= len(piece)


class Server:
    def __init__(self, binary, home):
        self.process = subprocess.Popen([binary, "--home", home], stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, errors="replace")
        self.online = threading.Event()
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for line in self.process.stdout:  # drained so that a busy log never blocks the server
            if " - Server is Online ..." in line:
                self.online.set()

    def stop(self):
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.kill(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.reader.join(5)


def rate(size, seconds):
    return "%8.1f MB/s  (%7.1f MiB/s, %.2f s)" % (size / seconds / 1e6, size / seconds / MiB, seconds)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tolvaned", nargs="?", default=os.path.join(ROOT, "build", "src", "tolvaned"))
    parser.add_argument("--size-mib", type=int, default=1024, help="file size in MiB (default 1024)")
    parser.add_argument("--dir", default=None, help="where the temporary home goes (default: the system's)")
    parser.add_argument("--block-kib", type=int, default=1024, help="client block size in KiB (default 1024)")
    args = parser.parse_args()
    if not os.access(args.tolvaned, os.X_OK):
        sys.exit("no tolvaned at %s (build it first, or name it)" % args.tolvaned)
    size, block = args.size_mib * MiB, args.block_kib * 1024
    home = tempfile.mkdtemp(prefix="tolvane-bench-", dir=args.dir)
    server = None
    try:
        files = os.path.join(home, "files") + "/"
        os.makedirs(files)
        port = free_port()
        write_home(home, port, files)
        source = os.path.join(files, "source.bin")
        make_source(source, size)
        server = Server(args.tolvaned, home)
        if not server.online.wait(10):
            sys.exit("tolvaned did not come online")
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", port, timeout=60)
        ftp.login("bench", "bench")
        ftp.set_pasv(True)

        received = [0]

        def count(data):
            received[0] += len(data)

        started = time.perf_counter()
        reply = ftp.retrbinary("RETR source.bin", count, blocksize=block)
        retr_seconds = time.perf_counter() - started
        if received[0] != size or not reply.startswith("226"):
            sys.exit("RETR moved %d of %d bytes: %s" % (received[0], size, reply))

        with open(source, "rb") as f:
            started = time.perf_counter()
            reply = ftp.storbinary("STOR upload.bin", f, blocksize=block)
            stor_seconds = time.perf_counter() - started
        stored = os.path.getsize(os.path.join(files, "upload.bin"))
        if stored != size or not reply.startswith("226"):
            sys.exit("STOR stored %d of %d bytes: %s" % (stored, size, reply))
        ftp.quit()

        print("tolvaned  %s" % args.tolvaned)
        print("file      %d MiB, client blocks of %d KiB, passive, loopback" % (args.size_mib, args.block_kib))
        print("RETR      %s" % rate(size, retr_seconds))
        print("STOR      %s" % rate(size, stor_seconds))
    finally:
        if server:
            server.stop()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
