#!/usr/bin/env python3
"""Load and soak run against a tolvaned on loopback.

1. Many sessions log in and stay idle; meanwhile slow clients that never finish a command line
   must be timed out by the server before login.
2. A smaller crowd runs LIST, RETR, STOR, REST, ABOR and server-side session ends for a while.
3. Whenever everyone has left, the server's threads and descriptors are back to the idle
   baseline; two equal rounds of work leave the same resident size (no growth, so no leak); every
   file moved matches its checksum.

tolvaned has no kick of its own (the window's monitor kicks); the server-side end of a session
here is the account's time-out, and clients that reset their connections in the middle of a
transfer make the server end transfers behind their back.

  soak.py              full run: 2000 idle sessions for 60 s, 1000 slow clients, 200 busy for 300 s
  soak.py --short      200 idle sessions for 3 s, 20 busy for 10 s, no slow clients
"""
import argparse
import hashlib
import os
import random
import resource
import socket
import struct
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from tolvane import ActiveListener, Daemon, RawClient, connect_data, prepare_home, read_to_end, user_file, write_account  # noqa: E402

KiB, MiB = 1 << 10, 1 << 20
COMPLETE = "226 Transfer complete."
FULL = "RWDECLMrcI"


def digest(data):
    return hashlib.sha256(data).hexdigest()


class Server:
    """The daemon, its home and its figures from /proc."""

    def __init__(self, home):
        self.home = home
        self.port = free_port()
        self.ip_home = prepare_home(home, self.port)
        self.root = os.path.join(home, "files") + "/"
        os.makedirs(self.root + "up")
        for name, timeout in (("idle", -1), ("busy", -1), ("brief", 5)):
            write_account(user_file(home, self.ip_home, name), password="pw", root=self.root,
                          rules=[self.root + "," + FULL], misc={"ShowRelativePath": "TRUE", "Timeout": timeout})
        self.files = {}
        rng = random.Random(7)
        for index, size in enumerate([0, 1, 1000, 64 * KiB, 300 * KiB, MiB, 3 * MiB]):
            data = rng.randbytes(size)
            name = "f%d.bin" % index
            with open(self.root + name, "wb") as f:
                f.write(data)
            self.files[name] = data
        self.daemon = None

    def start(self):
        self.daemon = Daemon(self.home)
        if not self.daemon.wait_for_line(" - Server is Online ...", timeout=10):
            raise SystemExit("tolvaned did not come online: %s" % self.daemon.output()[-5:])

    def figures(self):
        pid = self.daemon.process.pid
        with open("/proc/%d/status" % pid) as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        return {"threads": self.daemon.threads(), "descriptors": self.daemon.descriptors(),
                "rss_kib": int(status["VmRSS"].split()[0])}


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def raise_descriptor_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < needed:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(needed, soft)), hard))
    soft, _ = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < needed:
        raise SystemExit("need %d descriptors, the hard limit allows %d" % (needed, soft))


class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.counts = {}
        self.failures = []

    def count(self, what):
        with self.lock:
            self.counts[what] = self.counts.get(what, 0) + 1

    def fail(self, what):
        with self.lock:
            self.failures.append(what)


def login(port, user):
    client = RawClient(port, timeout=30)
    reply = client.login(user, "pw")
    if reply != '230 User "%s" logged in.' % user:
        client.close()
        raise AssertionError("login of %s: %r" % (user, reply))
    return client


def hold_idle_sessions(server, count):
    with ThreadPoolExecutor(16) as pool:
        return list(pool.map(lambda _: login(server.port, "idle"), range(count)))


class SlowClients:
    """Connections that send one byte now and then and never finish a command line."""

    def __init__(self, port, count, interval):
        self.sockets = []
        for _ in range(count):
            sock = socket.create_connection(("127.0.0.1", port), timeout=30)
            self.sockets.append(sock)
        self.opened = time.time()
        self.interval = interval
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._trickle, daemon=True)
        self.thread.start()

    def _trickle(self):
        while not self.stop.wait(self.interval):
            for sock in self.sockets:
                try:
                    sock.send(b"N")
                except OSError:
                    pass

    def wait_until_closed(self, timeout):
        """Seconds from opening until the server had closed every one of them, or None."""
        deadline = time.time() + timeout
        open_ones = list(self.sockets)
        while open_ones and time.time() < deadline:
            still = []
            for sock in open_ones:
                sock.settimeout(max(0.01, deadline - time.time()) if len(open_ones) == 1 else 0.01)
                try:
                    while True:
                        chunk = sock.recv(4096)
                        if not chunk:
                            break
                except (socket.timeout, BlockingIOError):
                    still.append(sock)
                except OSError:
                    pass
            open_ones = still
            if open_ones:
                time.sleep(0.5)
        self.stop.set()
        self.thread.join()
        for sock in self.sockets:
            sock.close()
        return None if open_ones else time.time() - self.opened


class Worker:
    """One busy client: a session that runs random data commands and checks every byte."""

    def __init__(self, server, tally, seed, stored):
        self.server = server
        self.tally = tally
        self.rng = random.Random(seed)
        self.seed = seed
        self.stored = stored  # name -> digest of every file a STOR completed
        self.serial = 0
        self.client = None

    def run(self, deadline):
        operations = [self.list, self.retr, self.stor, self.rest_retr, self.rest_stor, self.abor, self.reset,
                      self.time_out]
        weights = [3, 6, 4, 2, 2, 2, 1, 1]
        while time.time() < deadline:
            operation = self.rng.choices(operations, weights)[0]
            try:
                if self.client is None:
                    self.client = login(self.server.port, "busy")
                operation()
                self.tally.count(operation.__name__)
            except Exception as error:  # noqa: BLE001 - every failure is recorded and fails the run
                self.tally.fail("%s: %s: %r" % (operation.__name__, type(error).__name__, error))
                self.drop()
        if self.client:
            self.expect(self.client.command("QUIT"), "221 Good Bye!")
            self.drop()

    def drop(self):
        if self.client:
            self.client.close()
            self.client = None

    def expect(self, reply, wanted):
        if reply != wanted:
            raise AssertionError("got %r, wanted %r" % (reply, wanted))

    def passive(self):
        return self.rng.random() < 0.7

    def list(self):
        first, body, final = self.client.transfer("LIST", passive=self.passive())
        self.expect(final, COMPLETE)
        if b"f6.bin" not in body:
            raise AssertionError("listing without f6.bin")

    def retr(self):
        name = self.rng.choice(sorted(self.server.files))
        _, body, final = self.client.transfer("RETR " + name, passive=self.passive())
        self.expect(final, COMPLETE)
        self.expect(digest(body), digest(self.server.files[name]))

    def new_name(self):
        self.serial += 1
        return "up/w%d-%d.bin" % (self.seed, self.serial)

    def stor(self):
        name = self.new_name()
        data = self.rng.randbytes(self.rng.choice([0, 10, 5000, 200 * KiB, MiB]))
        _, _, final = self.client.transfer("STOR " + name, passive=self.passive(), upload=data)
        self.expect(final, COMPLETE)
        self.stored[name] = digest(data)

    def rest_retr(self):
        name = "f6.bin"
        data = self.server.files[name]
        offset = self.rng.randrange(len(data))
        _, body, final = self.client.transfer("RETR " + name, passive=self.passive(), rest=offset)
        self.expect(final, COMPLETE)
        self.expect(digest(body), digest(data[offset:]))

    def rest_stor(self):
        name = self.new_name()
        data = self.rng.randbytes(400 * KiB)
        cut = self.rng.randrange(1, len(data))
        self.expect(self.client.transfer("STOR " + name, upload=data[:cut])[2], COMPLETE)
        self.expect(self.client.transfer("STOR " + name, passive=self.passive(), upload=data[cut:], rest=cut)[2],
                    COMPLETE)
        self.stored[name] = digest(data)

    def abor(self):
        data_socket = connect_data(self.client.pasv())
        try:
            self.expect(self.client.command("RETR f6.bin"),
                        "150 Using open data connection for transfering file f6.bin.")
            data_socket.recv(self.rng.choice([1, 64 * KiB]))
            self.client.send("ABOR\r\n")
            replies = [self.client.reply()[:-2]]
            if replies[0] != "226 ABOR command successful.":
                replies.append(self.client.reply()[:-2])
        finally:
            data_socket.close()
        if replies[-1] != "226 ABOR command successful.":
            raise AssertionError("ABOR replies %r" % replies)
        self.expect(self.client.command("NOOP"), "200 Command okay.")

    def reset(self):
        """Goes away with a reset in the middle of a transfer."""
        data_socket = connect_data(self.client.pasv())
        if self.rng.random() < 0.5:
            self.expect(self.client.command("RETR f6.bin"),
                        "150 Using open data connection for transfering file f6.bin.")
            data_socket.recv(KiB)
        else:
            name = self.new_name()
            self.expect(self.client.command("STOR " + name), "150 Binary data connection for file %s." % name)
            data_socket.sendall(b"x" * 100000)
        for sock in (self.client.sock, data_socket):
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
        self.client = None

    def time_out(self):
        """A session the server ends: the account's time-out of five seconds."""
        client = login(self.server.port, "brief")
        try:
            client.sock.settimeout(20)
            self.expect(client.read_line(), "421 Connection timed-out.\r\n")
            if not client.closed():
                raise AssertionError("timed-out session left open")
        finally:
            client.close()


def check_stored(server, stored, tally):
    for name, wanted in stored.items():
        with open(server.root + name, "rb") as f:
            if digest(f.read()) != wanted:
                tally.fail("stored file %s differs" % name)


def check_idle_sessions(sessions, tally):
    for client in sessions:
        try:
            if client.command("NOOP") != "200 Command okay.":
                tally.fail("idle session gave a wrong NOOP reply")
        except OSError as error:
            tally.fail("idle session lost: %r" % error)


def settle(server, baseline, tally, when):
    """Waits until the server is back to its baseline threads and descriptors; returns its figures."""
    counts = server.daemon.wait_for_resources(baseline["descriptors"], baseline["threads"], timeout=30)
    time.sleep(1.5)
    figures = server.figures()
    print("%s: %s" % (when, figures), flush=True)
    if counts != (baseline["descriptors"], baseline["threads"]):
        tally.fail("%s: descriptors and threads %s, baseline %s" % (when, counts, baseline))
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--short", action="store_true", help="a quick run for the test suite")
    parser.add_argument("--sessions", type=int, help="idle sessions (2000)")
    parser.add_argument("--idle", type=float, help="seconds they stay idle (60)")
    parser.add_argument("--slow", type=int, help="slow clients that never finish a command (1000)")
    parser.add_argument("--busy", type=int, help="busy sessions (200)")
    parser.add_argument("--seconds", type=float, help="seconds the busy sessions run (300)")
    parser.add_argument("--memory-slack-kib", type=int, default=4 * 1024,
                        help="how far the second busy round may leave the resident size above the first")
    args = parser.parse_args()
    defaults = (200, 3, 0, 20, 10) if args.short else (2000, 60, 1000, 200, 300)
    sessions, idle, slow, busy, seconds = (value if value is not None else default for value, default in
                                           zip((args.sessions, args.idle, args.slow, args.busy, args.seconds),
                                               defaults))
    raise_descriptor_limit(sessions + slow + 4 * busy + 100)

    import tempfile
    with tempfile.TemporaryDirectory(prefix="tolvane-soak-") as home:
        server = Server(home)
        server.start()
        tally = Tally()
        # One of each before the baseline, so that the first-use allocations do not count as growth.
        Worker(server, tally, 0, {}).run(time.time() + 1)
        time.sleep(1.5)
        baseline = server.figures()
        print("baseline: %s" % baseline, flush=True)

        started = time.time()
        idle_sessions = hold_idle_sessions(server, sessions)
        held = server.figures()
        per_session = (held["rss_kib"] - baseline["rss_kib"]) / max(1, sessions)
        print("holding %d idle sessions after %.1f s: %s, %.0f KiB per session"
              % (sessions, time.time() - started, held, per_session), flush=True)
        slow_clients = SlowClients(server.port, slow, 20) if slow else None
        if slow_clients:
            print("and %d slow clients: %s" % (slow, server.figures()), flush=True)
        time.sleep(max(0.0, idle - (time.time() - started)))
        check_idle_sessions(idle_sessions, tally)
        if slow_clients:
            freed_after = slow_clients.wait_until_closed(30)
            if freed_after is None:
                tally.fail("slow clients still connected 30 s after the pre-login time-out")
            else:
                print("slow clients freed %.1f s after they connected" % freed_after, flush=True)
            check_idle_sessions(idle_sessions, tally)
        for client in idle_sessions:
            client.close()
        rounds = [settle(server, baseline, tally, "after the idle sessions left")]

        # Two equal rounds of work: what the first leaves behind the allocator may keep for
        # reuse, but a leak would grow the second.
        stored = {}
        for round_number in (1, 2):
            workers = [Worker(server, tally, seed, stored) for seed in range(round_number * 1000,
                                                                              round_number * 1000 + busy)]
            deadline = time.time() + seconds / 2
            threads = [threading.Thread(target=worker.run, args=(deadline,)) for worker in workers]
            for thread in threads:
                thread.start()
            time.sleep(min(2.0, seconds / 4))
            print("busy round %d: %s" % (round_number, server.figures()), flush=True)
            for thread in threads:
                thread.join()
            rounds.append(settle(server, baseline, tally, "after busy round %d" % round_number))
        print("operations: %s" % dict(sorted(tally.counts.items())), flush=True)
        check_stored(server, stored, tally)
        if rounds[2]["rss_kib"] > rounds[1]["rss_kib"] + args.memory_slack_kib:
            tally.fail("resident size grew from %d KiB to %d KiB between equal rounds"
                       % (rounds[1]["rss_kib"], rounds[2]["rss_kib"]))
        code = server.daemon.stop(timeout=30)
        if code != 0:
            tally.fail("tolvaned exit status %d" % code)
        print("files checked: %d stored, %d operations" % (len(stored), sum(tally.counts.values())))
        for failure in tally.failures[:20]:
            print("FAIL " + failure)
        print("%d failures" % len(tally.failures))
        return 1 if tally.failures else 0


if __name__ == "__main__":
    sys.exit(main())
