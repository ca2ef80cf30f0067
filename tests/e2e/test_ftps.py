"""FTPS: real clients over TLS on the control and data connections, and the protocol's edges."""
import ftplib
import io
import os
import re
import socket
import ssl
import subprocess
import unittest

from accounts import TransferHome
from interop import InteropCase, PASSWORD, USER
from tolvane import TOLVANED, HomeTestCase, RawClient, connect_data

# The certificate is self-signed: clients are told not to check it.
CLIENT_CONTEXT = ssl.create_default_context()
CLIENT_CONTEXT.check_hostname = False
CLIENT_CONTEXT.verify_mode = ssl.CERT_NONE


def with_certificate(home):
    subprocess.run([TOLVANED, "--home", home, "tls", "self-signed", "localhost"], check=True, capture_output=True)
    return home


class FtpsClients(InteropCase):
    def make_home(self):
        return with_certificate(super().make_home())

    def curl(self, *args):
        return self.run_client(["curl", "-sS", "--fail", "--ssl-reqd", "-k", "-u", "%s:%s" % (USER, PASSWORD),
                                *args])

    def url(self, path):
        return "ftp://127.0.0.1:%d/%s" % (self.port, path)

    def test_curl_lists_downloads_uploads_and_resumes(self):
        self.assertListsFolder(self.curl(self.url("tree/plain/")), "tree/plain")
        self.curl("-o", "got.bin", self.url("big.bin"))
        self.assertEqual(self.read(self.local_path("got.bin")), self.big)
        self.curl("-T", "upload.bin", self.url("put.bin"))
        self.assertEqual(self.read(self.remote_path("put.bin")), self.read(self.local_path("upload.bin")))
        downloaded = self.partial_download("big.bin", 300000)
        uploaded = self.partial_upload("upload.bin", "partial.bin", 200000)
        self.curl("-C", "-", "-o", "big.bin", self.url("big.bin"))
        self.curl("-C", "-", "-T", "upload.bin", self.url("partial.bin"))
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)
        self.assertEqual(self.read(self.remote_path("partial.bin")), uploaded)

    # curl 7.87 and 7.88 start no TLS on an active data connection (curl issue 10666): they wait for
    # bytes in clear, which PROT P never sends, and are refused with 425 instead of waiting for the
    # data time-out.
    def test_curl_active_mode(self):
        version = re.match(r"curl (\d+)\.(\d+)", self.run_client(["curl", "--version"])).groups()
        starts_tls = not (7, 87) <= tuple(map(int, version)) < (8, 0)
        for refused, address in enumerate(("-", "127.0.0.1"), 1):
            with self.subTest(address=address):
                if not starts_tls:
                    waiting = subprocess.run(["curl", "-sS", "--ssl-reqd", "-k", "-u", "%s:%s" % (USER, PASSWORD),
                                              "-P", address, "-o", "active.bin", self.url("big.bin")],
                                             cwd=self.local, env=self.env, capture_output=True, timeout=120)
                    self.assertNotEqual(waiting.returncode, 0)
                    self.assertTrue(self.server.daemon.wait_for_line("Data connection refused: no TLS handshake",
                                                                    count=refused))
                    continue
                self.assertListsFolder(self.curl("-P", address, self.url("tree/plain/")), "tree/plain")
                self.curl("-P", address, "-o", "active.bin", self.url("big.bin"))
                self.assertEqual(self.read(self.local_path("active.bin")), self.big)
                self.curl("-P", address, "-T", "upload.bin", self.url("active.bin"))
                self.assertEqual(self.read(self.remote_path("active.bin")), self.read(self.local_path("upload.bin")))

    # ftplib takes no part in session resumption on its data connections, so this also shows that
    # a data connection from the control connection's address is taken without it.
    def test_ftplib_prot_p_in_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                client = ftplib.FTP_TLS(context=CLIENT_CONTEXT, timeout=30)
                client.connect("127.0.0.1", self.port)
                client.login(USER, PASSWORD)
                client.prot_p()
                client.set_pasv(passive)
                self.assertIn("big.bin", client.nlst())
                received = io.BytesIO()
                client.retrbinary("RETR big.bin", received.write, rest=1000)
                self.assertEqual(received.getvalue(), self.big[1000:])
                client.storbinary("STOR ftplib.bin", io.BytesIO(self.big))
                self.assertEqual(self.read(self.remote_path("ftplib.bin")), self.big)
                self.assertIsInstance(client.sock, ssl.SSLSocket)
                client.quit()

    def lftp(self, commands):
        settings = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no; "
                    "set ftp:ssl-protect-list true; set net:max-retries 1")
        return self.run_client(["lftp", "-c", "%s; open -u %s,%s ftp://127.0.0.1:%d; %s"
                                % (settings, USER, PASSWORD, self.port, commands)])

    def rclone_remote(self):
        return (":ftp,host=127.0.0.1,port=%d,user=%s,explicit_tls=true,no_check_certificate=true,pass=%s:"
                % (self.port, USER, self.run_client(["rclone", "obscure", PASSWORD]).strip()))

    def test_lftp_forced_tls(self):
        listing = self.lftp("cls -1 tree/plain/; get big.bin -o got.bin; put upload.bin -o lftp.bin")
        self.assertListsFolder(listing, "tree/plain")
        self.assertEqual(self.read(self.local_path("got.bin")), self.big)
        self.assertEqual(self.read(self.remote_path("lftp.bin")), self.read(self.local_path("upload.bin")))

    # Both resumes keep the changed start: a download or upload started over would have replaced it.
    def test_lftp_resumes_both_ways_over_tls(self):
        downloaded = self.partial_download("big.bin", 300000)
        uploaded = self.partial_upload("upload.bin", "partial.bin", 200000)
        self.lftp("get -c big.bin -o big.bin; put -c upload.bin -o partial.bin")
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)
        self.assertEqual(self.read(self.remote_path("partial.bin")), uploaded)

    def test_rclone_explicit_tls(self):
        remote = self.rclone_remote()
        names = self.run_client(["rclone", "lsf", remote + "tree/plain"]).splitlines()
        self.assertEqual(sorted(n.rstrip("/") for n in names), sorted(os.listdir(self.remote_path("tree/plain"))))
        self.run_client(["rclone", "copyto", remote + "big.bin", self.local_path("rclone.bin")])
        self.assertEqual(self.read(self.local_path("rclone.bin")), self.big)
        self.run_client(["rclone", "copyto", self.local_path("upload.bin"), remote + "rclone.bin"])
        self.assertEqual(self.read(self.remote_path("rclone.bin")), self.read(self.local_path("upload.bin")))

    # rclone resumes no FTP transfer of its own; its ranged read is the REST a resume rests on, here
    # on a data connection of rclone's FTP library, which takes no part in session resumption.
    def test_rclone_reads_from_an_offset_over_tls(self):
        ranged = subprocess.run(["rclone", "cat", "--offset", "300000", "--count", "200000",
                                 self.rclone_remote() + "big.bin"], cwd=self.local, env=self.env, capture_output=True,
                                timeout=120, check=True).stdout
        self.assertEqual(ranged, self.big[300000:500000])


class FtpsProtocol(HomeTestCase, unittest.TestCase):
    def tls_home(self, extra="", files=None, start=True):
        """A server whose IP home has a certificate (and the extra settings), serving files to "u"."""
        server = TransferHome(self, extra=extra)
        with_certificate(server.home)
        for name, data in (files or {}).items():
            server.write(name, data)
        if start:
            server.start()
        return server

    def secured_client(self, server):
        client = RawClient(server.port)
        client.reply()
        self.assertEqual(client.command("AUTH TLS"), "234 AUTH TLS OK.")
        client.sock = CLIENT_CONTEXT.wrap_socket(client.sock)
        self.addCleanup(client.close)
        return client

    def assert_stranger_refused(self, port):
        """A data connection to the passive port from another address is closed at once."""
        stranger = connect_data(port, source="127.0.0.2")
        self.assertEqual(stranger.recv(1), b"")
        stranger.close()

    def logged_in_client(self, server, user="u"):
        client = self.secured_client(server)
        self.assertEqual(client.command("USER " + user), "331 Need password.")
        self.assertTrue(client.command("PASS pw").startswith("230"))
        return client

    def test_secured_session_commands(self):
        server = self.tls_home(files={"file.txt": b"secret"})
        plain = RawClient(server.port)
        self.addCleanup(plain.close)
        plain.reply()
        self.assertEqual(plain.command("PBSZ 0"), "503 Send AUTH TLS first.")
        self.assertEqual(plain.command("PROT P"), "503 Send AUTH TLS first.")
        features = plain.command("FEAT")
        for feature in (" AUTH TLS\r\n", " PBSZ\r\n", " PROT\r\n"):
            self.assertIn(feature, features)

        client = self.logged_in_client(server)
        self.assertEqual(client.command("PBSZ 0"), "200 PBSZ=0")
        self.assertEqual(client.command("PROT S"), "536 Protection level not supported.")
        self.assertEqual(client.command("CCC"), "534 The control connection stays encrypted.")
        self.assertEqual(client.command("PROT P"), "200 Data connections are private.")
        # A data connection from another address is refused; the client's own then gets the file.
        port = client.pasv()
        self.assert_stranger_refused(port)
        data = connect_data(port)
        self.assertTrue(client.command("RETR file.txt").startswith("150"))
        secured = CLIENT_CONTEXT.wrap_socket(data)
        self.assertEqual(secured.recv(100), b"secret")
        secured.close()
        self.assertEqual(client.reply(), "226 Transfer complete.\r\n")

    def test_curl_over_implicit_tls(self):
        data = os.urandom(300000)
        server = self.tls_home("TlsImplicit=1\n", {"file.bin": data})
        url = "ftps://127.0.0.1:%d/" % server.port
        curl = ["curl", "-sS", "--fail", "-k", "-u", "u:pw"]
        listing = subprocess.run([*curl, url], check=True, capture_output=True, timeout=60).stdout
        self.assertIn(b"file.bin", listing)
        got = subprocess.run([*curl, url + "file.bin"], check=True, capture_output=True, timeout=60).stdout
        self.assertEqual(got, data)
        subprocess.run([*curl, "-T", "-", url + "up.bin"], input=data, check=True, capture_output=True, timeout=60)
        self.assertEqual(open(server.path("up.bin"), "rb").read(), data)
        # A client speaking in clear gets no greeting it could read, and the connection ends.
        plain = RawClient(server.port)
        self.addCleanup(plain.close)
        plain.send("USER u\r\n")
        received = b""
        try:
            while chunk := plain.sock.recv(100):
                received += chunk
        except ConnectionResetError:
            pass
        self.assertNotIn(b"220", received)

    def test_login_in_clear_refused_where_tls_is_required(self):
        server = self.tls_home("TlsPolicy=login\n")
        plain = RawClient(server.port)
        self.addCleanup(plain.close)
        plain.reply()
        self.assertEqual(plain.command("USER u"),
                         "530 This server takes logins only over TLS: send AUTH TLS first.")
        self.assertEqual(plain.command("PASS pw"), "503 Login with USER first.")
        self.logged_in_client(server)

    def test_data_connections_under_each_resumption_policy(self):
        for policy in ("required", "same-address", "off"):
            with self.subTest(policy=policy):
                server = self.tls_home("TlsResumption=%s\n" % policy, {"file.txt": b"secret"})
                client = self.logged_in_client(server)
                client.command("PROT P")
                port = client.pasv()
                self.assert_stranger_refused(port)
                # A data connection with a TLS session of its own, as ftplib makes.
                data = connect_data(port)
                self.assertTrue(client.command("RETR file.txt").startswith("150"))
                secured = CLIENT_CONTEXT.wrap_socket(data)
                if policy == "required":
                    self.assertEqual(secured.recv(100), b"")
                    self.assertEqual(client.reply(), "425 Data connection refused: its TLS session must resume "
                                                     "the control connection's.\r\n")
                    self.assertTrue(server.daemon.wait_for_line("(TlsResumption=required)"))
                else:
                    self.assertEqual(secured.recv(100), b"secret")
                    self.assertEqual(client.reply(), "226 Transfer complete.\r\n")
                secured.close()

    def test_curl_resumes_its_session_where_resumption_is_required(self):
        data = os.urandom(200000)
        server = self.tls_home("TlsResumption=required\nTlsPolicy=data\n", {"file.bin": data})
        url = "ftp://127.0.0.1:%d/" % server.port
        curl = ["curl", "-sS", "--fail", "--ssl-reqd", "-k", "-u", "u:pw"]
        got = subprocess.run([*curl, url + "file.bin"], check=True, capture_output=True, timeout=60).stdout
        self.assertEqual(got, data)
        subprocess.run([*curl, "-T", "-", url + "up.bin"], input=data, check=True, capture_output=True, timeout=60)
        self.assertEqual(server.read("up.bin"), data)

    def test_data_in_clear_refused(self):
        server = self.tls_home(files={"file.txt": b"secret"}, start=False)
        server.user("careful", misc={"TlsPolicy": "data"})
        server.start()
        plain = RawClient(server.port)
        self.addCleanup(plain.close)
        plain.reply()
        self.assertEqual(plain.command("USER careful"),
                         "530 This account takes logins only over TLS: send AUTH TLS first.")
        client = self.logged_in_client(server, "careful")
        client.pasv()
        self.assertEqual(client.command("RETR file.txt"), "521 Data connections must be encrypted: send PROT P.")
        # Under PROT P a client that speaks in clear on the data connection gets nothing, and
        # what it sends is not stored.
        client.command("PROT P")
        data = connect_data(client.pasv())
        self.assertTrue(client.command("RETR file.txt").startswith("150"))
        data.shutdown(socket.SHUT_WR)
        self.assertEqual(data.recv(100), b"")
        data.close()
        self.assertEqual(client.reply(), "425 Can't open data connection.\r\n")
        data = connect_data(client.pasv())
        self.assertTrue(client.command("STOR up.txt").startswith("150"))
        data.sendall(b"uploaded in clear")
        data.close()
        self.assertEqual(client.reply(), "425 Can't open data connection.\r\n")
        self.assertNotEqual(server.read("up.txt") if os.path.exists(server.path("up.txt")) else b"",
                            b"uploaded in clear")

    def test_home_without_certificate_offers_no_tls(self):
        server = TransferHome(self)
        server.start()
        client = RawClient(server.port)
        self.addCleanup(client.close)
        client.reply()
        self.assertNotIn("AUTH", client.command("FEAT"))
        self.assertEqual(client.command("AUTH TLS"), "504 AUTH type not supported.")


if __name__ == "__main__":
    unittest.main()
