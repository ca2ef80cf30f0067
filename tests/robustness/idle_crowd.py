"""Holds a crowd of logged-in idle sessions against tolvaned under a descriptor limit, then times
the greeting of new clients beside them. Bench work, not run by ctest; the figures of the last
run are in README.md.

    TOLVANED=../../build/src/tolvaned python3 idle_crowd.py --sessions 19000 --limit 20000
"""
import argparse
import multiprocessing
import os
import resource
import selectors
import socket
import statistics
import sys
import tempfile
import time

from robust import proportional_kib, resident_kib
from accounts import FULL
from tolvane import Daemon, free_port, prepare_home, user_file, write_account

# What each step of a login waits for, and what it sends once that came.
STEPS = [(b"220 ", b"USER idle\r\n"), (b"331 ", b"PASS pw\r\n"), (b"230 ", None)]
IN_FLIGHT = 200


def final_reply_line(buffer):
    """The last line of the first complete reply in buffer and what follows it, or None."""
    while b"\r\n" in buffer:
        line, buffer = buffer.split(b"\r\n", 1)
        if line[3:4] == b" ":
            return line, buffer
    return None


class Session:
    def __init__(self, port):
        self.sock = socket.socket()
        self.sock.setblocking(False)
        self.sock.connect_ex(("127.0.0.1", port))
        self.buffer = b""
        self.step = 0

    def advance(self):
        """Reads what came; returns True when logged in, raises when the login went wrong."""
        chunk = self.sock.recv(4096)
        if not chunk:
            raise ConnectionError("closed after %r" % self.buffer[-80:])
        self.buffer += chunk
        while True:
            found = final_reply_line(self.buffer)
            if found is None:
                return False
            line, self.buffer = found
            wanted, reply = STEPS[self.step]
            if not line.startswith(wanted):
                raise ConnectionError(line.decode("latin-1"))
            self.step += 1
            if reply is None:
                return True
            self.sock.send(reply)


def raise_own_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard < needed:
        raise SystemExit("need %d descriptors, the hard limit allows %d" % (needed, hard))
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, needed), hard))


def log_in(port, count):
    """Logs in count sessions, IN_FLIGHT at a time; returns them and the failures' texts."""
    selector = selectors.DefaultSelector()
    held, failures, started = [], [], 0
    while len(held) + len(failures) < count:
        while started < count and started - len(held) - len(failures) < IN_FLIGHT:
            session = Session(port)
            selector.register(session.sock, selectors.EVENT_READ, session)
            started += 1
        for key, _ in selector.select(timeout=60):
            session = key.data
            try:
                if not session.advance():
                    continue
                held.append(session)
            except OSError as error:
                failures.append(str(error))
                session.sock.close()
            selector.unregister(key.fileobj)
    selector.close()
    return held, failures


def noop_all(held):
    """Sends NOOP on every session; returns how many answered it."""
    selector = selectors.DefaultSelector()
    for session in held:
        session.buffer = b""
        session.sock.send(b"NOOP\r\n")
        selector.register(session.sock, selectors.EVENT_READ, session)
    answered, waiting = 0, len(held)
    while waiting:
        events = selector.select(timeout=60)
        if not events:
            break
        for key, _ in events:
            session = key.data
            chunk = session.sock.recv(4096)
            session.buffer += chunk
            found = final_reply_line(session.buffer)
            if found is None and chunk:
                continue
            answered += found is not None and found[0] == b"200 Command okay."
            waiting -= 1
            selector.unregister(key.fileobj)
    selector.close()
    return answered


def crowd_member(port, count, pipe):
    """One client process: holds its share of the crowd until told to let go."""
    raise_own_limit(count + 64)
    held, failures = log_in(port, count)
    pipe.send((len(held), failures[:5], len(failures)))
    while True:
        command = pipe.recv()
        if command == "noop":
            pipe.send(noop_all(held))
        else:
            break
    for session in held:
        session.sock.close()


def first_reply(port):
    """A new client, the last line of the first reply it was sent, and the milliseconds it took."""
    started = time.perf_counter()
    client = socket.create_connection(("127.0.0.1", port), timeout=30)
    buffer = b""
    while final_reply_line(buffer) is None:
        chunk = client.recv(4096)
        if not chunk:
            client.close()
            raise ConnectionError("closed before a whole reply: %r" % buffer)
        buffer += chunk
    return client, final_reply_line(buffer)[0].decode("latin-1"), (time.perf_counter() - started) * 1000


def time_greeting(port):
    client, line, elapsed = first_reply(port)
    client.close()
    if not line.startswith("220 "):
        raise ConnectionError("not greeted: %r" % line)
    return elapsed


def overfill(port):
    """Greets new clients until one is refused; returns how many were greeted, the refusal and its
    milliseconds."""
    greeted = []
    try:
        while True:
            client, line, elapsed = first_reply(port)
            if not line.startswith("220 "):
                client.close()
                return len(greeted), line, elapsed
            greeted.append(client)
    finally:
        for client in greeted:
            client.close()


def figures(daemon):
    pid = daemon.process.pid
    return {"threads": len(os.listdir("/proc/%d/task" % pid)), "descriptors": daemon.descriptors(),
            "rss_mib": resident_kib(pid) / 1024, "pss_kib": proportional_kib(pid)}


def system_limits():
    limits = {}
    for name in ("kernel/threads-max", "kernel/pid_max", "vm/max_map_count", "net/ipv4/ip_local_port_range"):
        with open("/proc/sys/" + name) as f:
            limits[name] = f.read().strip()
    return limits


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sessions", type=int, default=19000)
    parser.add_argument("--clients", type=int, default=2, help="client processes sharing the crowd")
    parser.add_argument("--limit", type=int, default=20000, help="the server's descriptor limit")
    parser.add_argument("--greetings", type=int, default=20, help="new clients timed beside the crowd")
    options = parser.parse_args()
    print("system limits:", system_limits())

    with tempfile.TemporaryDirectory(prefix="tolvane-crowd-") as home:
        port = free_port()
        root = os.path.join(home, "files") + "/"
        os.makedirs(root)
        write_account(user_file(home, prepare_home(home, port), "idle"), password="pw", root=root,
                      rules=[root + "," + FULL], misc={"Timeout": -1})
        daemon = Daemon(home)
        try:
            if not daemon.wait_for_line(" - Server is Online ...", timeout=10):
                raise SystemExit("tolvaned did not come online: %s" % daemon.output()[-5:])
            resource.prlimit(daemon.process.pid, resource.RLIMIT_NOFILE, (options.limit, options.limit))
            print("server limit:", resource.prlimit(daemon.process.pid, resource.RLIMIT_NOFILE))
            baseline = figures(daemon)
            print("baseline:", baseline)

            started = time.time()
            members = []
            share, rest = divmod(options.sessions, options.clients)
            for index in range(options.clients):
                ours, theirs = multiprocessing.Pipe()
                process = multiprocessing.Process(target=crowd_member,
                                                  args=(port, share + (index < rest), theirs))
                process.start()
                members.append((process, ours))
            held = failures = 0
            for _, pipe in members:
                count, samples, failed = pipe.recv()
                held += count
                failures += failed
                if samples:
                    print("login failures, first ones:", samples)
            print("held %d sessions (%d failed) in %.1f s" % (held, failures, time.time() - started))
            crowd = figures(daemon)
            print("with the crowd:", crowd)
            print("PSS per session: %.1f KiB" % ((crowd["pss_kib"] - baseline["pss_kib"]) / max(held, 1)))

            greetings = [time_greeting(port) for _ in range(options.greetings)]
            print("greeting of a new client: median %.1f ms, max %.1f ms over %d"
                  % (statistics.median(greetings), max(greetings), len(greetings)))

            raise_own_limit(options.limit)
            greeted, refusal, refused_in = overfill(port)
            print("%d more clients greeted, then the next refused in %.1f ms: %r" % (greeted, refused_in, refusal))

            answered = 0
            for _, pipe in members:
                pipe.send("noop")
            for _, pipe in members:
                answered += pipe.recv()
            print("NOOP answered on %d of %d sessions" % (answered, held))
            for process, pipe in members:
                pipe.send("end")
                process.join()
            ok = (held == options.sessions and answered == held and max(greetings) < 100
                  and refusal == "421 Out of Network sockets, please try later")
            print("result:", "ok" if ok else "FAILED")
            return 0 if ok else 1
        finally:
            daemon.stop(timeout=60)


if __name__ == "__main__":
    sys.exit(main())
