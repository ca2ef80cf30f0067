"""Two instances sharing one database behind a real HAProxy that sends PROXY v2 headers."""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import threading
import time
import unittest

from tolvane import Daemon, HomeTestCase, free_port, user_file, wait_for_port, write_account, write_ip_home, \
    write_settings

FULL = "RWDECLMrcI"
INSTANCES = ("127.0.0.2", "127.0.0.3")
PROXY_SOURCE = "127.0.0.4"  # HAProxy's own address towards the instances, never a client's

HAPROXY_CONFIG = """global
    maxconn 64
defaults
    mode tcp
    timeout connect 5s
    timeout client 60s
    timeout server 60s
frontend ftp
    bind 127.0.0.1:%(front)d
    default_backend instances
backend instances
    balance leastconn
    server a %(a)s:%(port)d send-proxy-v2 source %(source)s
    server b %(b)s:%(port)d send-proxy-v2 source %(source)s
"""


class Session:
    def __init__(self, host, port, source=None):
        self.sock = socket.create_connection((host, port), timeout=10, source_address=(source, 0) if source else None)
        self.file = self.sock.makefile("rb")

    def reply(self):
        line = self.file.readline().decode()
        while len(line) > 3 and line[3] == "-" or line.startswith("xxx"):
            line = self.file.readline().decode()
        return line.rstrip("\r\n")

    def command(self, line):
        self.sock.sendall((line + "\r\n").encode())
        return self.reply()

    def upload(self, name, data):
        """STOR over PASV; returns the address the 227 reply named."""
        match = re.fullmatch(r"227 Entering Passive Mode \((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", self.command("PASV"))
        address = ".".join(match.group(1, 2, 3, 4))
        with socket.create_connection((address, int(match.group(5)) * 256 + int(match.group(6))), timeout=10) as data_sock:
            opening = self.command("STOR " + name)
            data_sock.sendall(data)
        assert opening.startswith("150"), opening
        assert self.reply().startswith("226")
        return address

    def close(self):
        self.file.close()
        self.sock.close()


@unittest.skipUnless(shutil.which("haproxy"), "HAProxy is not installed (scripts/install-deps installs it)")
class BehindHaproxy(HomeTestCase, unittest.TestCase):
    def setUp(self):
        base = self.make_home()
        self.port = free_port()
        self.front = free_port()
        database = os.path.join(base, "Database")
        write_ip_home(base, "[Full Machine]", "All IP's", self.port, extra="TrustedProxies=%s\n" % PROXY_SOURCE)
        self.root = os.path.join(base, "files") + "/"
        os.makedirs(self.root)
        self.user_file = user_file(base, "[Full Machine]", "u")
        write_account(self.user_file, password="pw", root=self.root, rules=[self.root + "," + FULL],
                      ip_rules=["Allow:127.0.0.1"],
                      ratio={"RatioEnabled": "TRUE", "RatioType": "Bytes per Sessions", "Upload": "1",
                             "Download": "1", "Credit": "0"})
        write_account(user_file(base, "[Full Machine]", "blocked"), password="pw", root=self.root,
                      ip_rules=["Allow:%s" % PROXY_SOURCE, "Deny:127.0.0.1"])
        self.daemons = {}
        for address in INSTANCES:
            home = os.path.join(base, address)
            os.makedirs(home)
            os.symlink(database, os.path.join(home, "Database"))
            write_settings(home, "FTPServer-Options", {"InstanceAddress": address})
            daemon = Daemon(home)
            self.addCleanup(daemon.stop)
            self.assertTrue(daemon.wait_for_line("successfully"), daemon.output())
            self.daemons[address] = daemon
        config = os.path.join(base, "haproxy.cfg")
        with open(config, "w") as f:
            f.write(HAPROXY_CONFIG % {"front": self.front, "a": INSTANCES[0], "b": INSTANCES[1], "port": self.port,
                                      "source": PROXY_SOURCE})
        haproxy = subprocess.Popen(["haproxy", "-db", "-f", config], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop_by_pid, haproxy)
        self.assertTrue(wait_for_port(self.front), "HAProxy did not start")

    @staticmethod
    def stop_by_pid(process):
        os.kill(process.pid, signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            os.kill(process.pid, signal.SIGKILL)
            process.wait()

    def login_through_proxy(self, name):
        session = Session("127.0.0.1", self.front)
        self.addCleanup(session.close)
        self.assertTrue(session.reply().startswith("220"))
        session.command("USER " + name)
        return session, session.command("PASS pw")

    def test_sessions_reach_both_instances_as_the_client_and_their_credit_adds_up(self):
        served = []
        sizes = []
        lock = threading.Lock()

        # Each session holds its instance while the next is placed, so the second goes to the other one.
        sessions = []
        for _ in range(2):
            session, reply = self.login_through_proxy("u")
            self.assertTrue(reply.startswith("230"), reply)
            sessions.append(session)

        def uploads(index):
            for number in range(3):
                data = random.Random(index * 10 + number).randbytes(20_000 + 1000 * number + index)
                address = sessions[index].upload("s%d-%d.bin" % (index, number), data)
                with lock:
                    served.append(address)
                    sizes.append(len(data))
            sessions[index].command("QUIT")

        workers = [threading.Thread(target=uploads, args=(index,)) for index in range(2)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join(60)
        self.assertEqual(len(sizes), 6)
        self.assertEqual(set(served), set(INSTANCES))
        for address, daemon in self.daemons.items():
            self.assertTrue(daemon.wait_for_line("Connected to 127.0.0.1"), daemon.output())
            self.assertFalse(any("Connected to " + PROXY_SOURCE in line for line in daemon.output()))

        deadline = time.time() + 10
        while time.time() < deadline and "Credit=%d" % sum(sizes) not in open(self.user_file).read():
            time.sleep(0.05)
        self.assertIn("Credit=%d" % sum(sizes), open(self.user_file).read())

        session, reply = self.login_through_proxy("blocked")
        self.assertEqual(reply, "530 Not logged in. Access from your IP not allowed.")

    def test_headers_count_only_from_the_proxy_and_the_proxy_must_send_one(self):
        direct = Session(INSTANCES[0], self.port)
        self.addCleanup(direct.close)
        self.assertTrue(direct.reply().startswith("220"))
        direct.sock.sendall(b"PROXY TCP4 10.9.9.9 127.0.0.2 5000 21\r\nUSER u\r\n")
        self.assertEqual(direct.file.read(), b"")
        self.assertTrue(self.daemons[INSTANCES[0]].wait_for_line("PROXY header refused from untrusted 127.0.0.1"))

        headless = Session(INSTANCES[1], self.port, source=PROXY_SOURCE)
        self.addCleanup(headless.close)
        headless.sock.sendall(b"USER u\r\n")
        self.assertEqual(headless.file.read(), b"")
        self.assertTrue(self.daemons[INSTANCES[1]].wait_for_line("No valid PROXY header from trusted proxy"))

        # The text form, sent in two pieces, names the client just as HAProxy's binary form does.
        text_form = Session(INSTANCES[1], self.port, source=PROXY_SOURCE)
        self.addCleanup(text_form.close)
        text_form.sock.sendall(b"PROXY TCP4 192.0.2.5 ")
        time.sleep(0.1)
        text_form.sock.sendall(b"127.0.0.3 5000 %d\r\n" % self.port)
        self.assertEqual(text_form.reply(), "220 Server ready...")
        self.assertTrue(self.daemons[INSTANCES[1]].wait_for_line("Connected to 192.0.2.5"))


if __name__ == "__main__":
    unittest.main()
