"""IPv6 IP homes, passive port ranges and the passive address a NAT router needs."""
import ftplib
import os
import random
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from tolvane import (TOLVANED, Daemon, HomeTestCase, RawClient, free_port, user_file, write_account, write_ip_home)

FULL = "RWDECLMrcI"


class Ipv6RawClient:
    """One control connection over IPv6, reading whole replies."""

    def __init__(self, port):
        self.sock = socket.create_connection(("::1", port), timeout=10)
        self.file = self.sock.makefile("rb")
        self.reply()

    def reply(self):
        line = self.file.readline().decode()
        while len(line) < 4 or line[3] == "-" or not line[:3].isdigit():
            line = self.file.readline().decode()
        return line.rstrip("\r\n")

    def command(self, line):
        self.sock.sendall((line + "\r\n").encode())
        return self.reply()

    def close(self):
        self.file.close()
        self.sock.close()


class Ipv6Home(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.home = self.make_home()
        self.port = free_port()
        self.title = "::1-%d" % self.port
        write_ip_home(self.home, "[Full Machine]", "All IP's", 21, disabled=1)
        write_ip_home(self.home, self.title, "::1", self.port)
        self.root = os.path.join(self.home, "files") + "/"
        os.makedirs(self.root)
        self.data = random.Random(7).randbytes(300_000)
        with open(os.path.join(self.root, "data.bin"), "wb") as f:
            f.write(self.data)
        self.account("u", [])
        self.daemon = Daemon(self.home)
        self.addCleanup(self.daemon.stop)
        self.assertTrue(self.daemon.wait_for_line("-([::1]:%d) ,successfully" % self.port), self.daemon.output())
        self.local = tempfile.mkdtemp(prefix="tolvane-client-")
        self.addCleanup(shutil.rmtree, self.local, True)
        self.env = dict(os.environ, HOME=self.local, LC_ALL="C.UTF-8")

    def account(self, name, ip_rules):
        write_account(user_file(self.home, self.title, name), password="pw", root=self.root,
                      rules=[self.root + "," + FULL], ip_rules=ip_rules)

    def run_client(self, args, input=None):
        result = subprocess.run(args, input=input, cwd=self.local, env=self.env, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, (args, result.stdout[-2000:], result.stderr[-2000:]))
        return result.stdout

    def upload_file(self, name):
        content = os.urandom(100_000)
        with open(os.path.join(self.local, name), "wb") as f:
            f.write(content)
        return content

    def served(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def test_curl_lftp_and_ftplib_list_download_and_upload_over_epsv_and_eprt(self):
        url = "ftp://[::1]:%d/" % self.port
        for mode in ([], ["-P", "-"]):
            with self.subTest(client="curl", active=bool(mode)):
                self.assertIn(b"data.bin", self.run_client(["curl", "-6", "-sS", "-u", "u:pw", *mode, url]))
                got = self.run_client(["curl", "-6", "-sS", "-u", "u:pw", *mode, url + "data.bin"])
                self.assertEqual(got, self.data)
                sent = self.upload_file("curl.bin")
                self.run_client(["curl", "-6", "-sS", "-u", "u:pw", *mode, "-T", "curl.bin", url + "curl.bin"])
                self.assertEqual(self.served("curl.bin"), sent)
        for passive in ("true", "false"):
            with self.subTest(client="lftp", passive=passive):
                sent = self.upload_file("lftp.bin")
                script = ("set ftp:passive-mode %s; set net:max-retries 1; open -u u,pw ftp://[::1]:%d; ls; "
                          "get data.bin -o got.bin; put lftp.bin; bye" % (passive, self.port))
                listing = self.run_client(["lftp", "-c", script])
                self.assertIn(b"data.bin", listing)
                with open(os.path.join(self.local, "got.bin"), "rb") as f:
                    self.assertEqual(f.read(), self.data)
                self.assertEqual(self.served("lftp.bin"), sent)
        for passive in (True, False):
            with self.subTest(client="ftplib", passive=passive):
                with ftplib.FTP() as ftp:
                    ftp.connect("::1", self.port, timeout=10)
                    ftp.login("u", "pw")
                    ftp.set_pasv(passive)
                    self.assertIn("data.bin", ftp.nlst())
                    chunks = []
                    ftp.retrbinary("RETR data.bin", chunks.append)
                    self.assertEqual(b"".join(chunks), self.data)
                    sent = self.upload_file("ftplib.bin")
                    with open(os.path.join(self.local, "ftplib.bin"), "rb") as f:
                        ftp.storbinary("STOR ftplib.bin", f)
                    self.assertEqual(self.served("ftplib.bin"), sent)
        self.assertTrue(self.daemon.wait_for_line("Connected to ::1"), self.daemon.output())

    def test_ipv6_rules_and_the_replies_that_only_name_ipv4(self):
        self.account("exact", ["Deny:2001:db8::/32", "Allow:::1"])
        self.account("prefix", ["Allow:::/0", "Deny:::/127"])
        self.account("elsewhere", ["Allow:2001:db8::/32", "Allow:127.0.0.1"])
        for name, allowed in (("exact", True), ("prefix", False), ("elsewhere", False)):
            with self.subTest(name=name):
                client = Ipv6RawClient(self.port)
                self.addCleanup(client.close)
                client.command("USER " + name)
                reply = client.command("PASS pw")
                self.assertEqual(reply.startswith("230"), allowed, reply)
        client = Ipv6RawClient(self.port)
        self.addCleanup(client.close)
        client.command("USER u")
        client.command("PASS pw")
        self.assertEqual(client.command("PASV"), "522 Network protocol not supported, use (2)")
        self.assertEqual(client.command("PORT 127,0,0,1,200,10"), "522 Network protocol not supported, use (2)")
        self.assertEqual(client.command("EPSV 1"), "522 Network protocol not supported, use (2)")
        self.assertEqual(client.command("EPRT |1|127.0.0.1|51210|"), "522 Network protocol not supported, use (2)")
        self.assertEqual(client.command("EPRT |2|127.0.0.1|51210|"), "501 Syntax error in parameters or arguments.")
        self.assertEqual(client.command("EPRT |2|::1|51210|"), "200 EPRT command successful.")
        self.assertRegex(client.command("EPSV 2"), r"^229 Entering Extended Passive Mode \(\|\|\|\d+\|\)$")


class DualStackHome(HomeTestCase, unittest.TestCase):
    def test_a_home_on_every_ipv6_address_serves_ipv4_clients_as_ipv4_when_asked(self):
        home = self.make_home()
        port = free_port()
        write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1)
        result = subprocess.run([TOLVANED, "--home", home, "iphome", "add", "::", str(port), "--dual-stack"],
                                capture_output=True, text=True)
        self.assertEqual(result.stdout, "added IP home ::-%d\n" % port, result.stderr)
        root = os.path.join(home, "files") + "/"
        os.makedirs(root)
        with open(os.path.join(root, "a.txt"), "wb") as f:
            f.write(b"hello")
        write_account(user_file(home, "::-%d" % port, "u"), password="pw", root=root, rules=[root + "," + FULL],
                      ip_rules=["Allow:127.0.0.1", "Allow:::1"])
        daemon = Daemon(home)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line("-([::]:%d) ,successfully" % port), daemon.output())
        client = RawClient(port)
        self.addCleanup(client.close)
        self.assertTrue(client.login("u", "pw").startswith("230"))
        self.assertEqual(client.transfer("RETR a.txt")[1], b"hello")
        self.assertTrue(daemon.wait_for_line("Connected to 127.0.0.1"), daemon.output())
        over_ipv6 = Ipv6RawClient(port)
        self.addCleanup(over_ipv6.close)
        over_ipv6.command("USER u")
        self.assertTrue(over_ipv6.command("PASS pw").startswith("230"))


def bindable(port):
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


class PassivePortRange(HomeTestCase, unittest.TestCase):
    def test_three_ports_serve_three_sessions_and_refuse_the_fourth_with_the_public_address(self):
        home = self.make_home()
        port = free_port()
        # Below the ephemeral range, where other tests' connections cannot take the range's ports.
        first = free_port()
        while not all(bindable(first + step) for step in (1, 2)):
            first = free_port()
        title = "127.0.0.1-%d" % port
        write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1)
        write_ip_home(home, title, "127.0.0.1", port)
        root = os.path.join(home, "files") + "/"
        os.makedirs(root)
        write_account(user_file(home, title, "u"), password="pw", root=root, rules=[root + "," + FULL])
        result = subprocess.run([TOLVANED, "--home", home, "iphome", "set", title, "--pasv-ports", "%d-%d" % (first, first + 2),
                                 "--pasv-address", "192.0.2.7"], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        daemon = Daemon(home)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line("successfully"), daemon.output())
        clients = []
        replies = []
        for _ in range(4):
            client = socket.create_connection(("127.0.0.1", port), timeout=10)
            self.addCleanup(client.close)
            stream = client.makefile("rb")
            self.addCleanup(stream.close)
            clients.append((client, stream))

            def command(line, client=client, stream=stream):
                if line:
                    client.sendall((line + "\r\n").encode())
                text = stream.readline().decode()
                while text[3] == "-":
                    text = stream.readline().decode()
                return text.rstrip("\r\n")
            command(None)
            command("USER u")
            command("PASS pw")
            replies.append(command("PASV"))
        ports = set()
        for reply in replies[:3]:
            match = re.fullmatch(r"227 Entering Passive Mode \(192,0,2,7,(\d+),(\d+)\)", reply)
            self.assertIsNotNone(match, reply)
            ports.add(int(match.group(1)) * 256 + int(match.group(2)))
        self.assertEqual(ports, {first, first + 1, first + 2})
        self.assertEqual(replies[3], "425 No free passive port, try later.")
        # A session's next PASV gives its port back first; a port comes back when its session ends.
        client, stream = clients[1]
        client.sendall(b"PASV\r\n")
        self.assertRegex(stream.readline().decode(), r"^227 Entering Passive Mode \(192,0,2,7,")
        clients[0][0].sendall(b"QUIT\r\n")
        clients[0][1].readline()
        client, stream = clients[3]
        deadline = time.time() + 10
        while True:
            client.sendall(b"PASV\r\n")
            reply = stream.readline().decode().rstrip("\r\n")
            if reply.startswith("227") or time.time() > deadline:
                break
            time.sleep(0.05)
        self.assertRegex(reply, r"^227 Entering Passive Mode \(192,0,2,7,")


if __name__ == "__main__":
    unittest.main()
