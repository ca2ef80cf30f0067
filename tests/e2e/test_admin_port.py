"""The admin port that windows attach to from other machines: TLS, the admin password before anything."""
import hashlib
import socket
import ssl
import subprocess
import unittest

from tolvane import TOLVANED, Daemon, HomeTestCase, free_port, prepare_home, wait_for_port, write_settings


class AdminPort(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.home = self.make_home()
        prepare_home(self.home, free_port())
        self.admin_port = free_port()
        self.readers = {}
        for words, given in ((["tls", "self-signed", "localhost"], None), (["admin", "password"], "s3cret pass\n")):
            done = subprocess.run([TOLVANED, "--home", self.home, *words], input=given, capture_output=True,
                                  text=True, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
        write_settings(self.home, "Admin", {"Port": self.admin_port, "Address": "127.0.0.1"})
        self.daemon = Daemon(self.home)
        self.addCleanup(self.daemon.stop)
        self.assertTrue(self.daemon.wait_for_line(" - Server is Online ..."), self.daemon.output())
        self.assertTrue(wait_for_port(self.admin_port))

    def connect(self):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        connection = context.wrap_socket(socket.create_connection(("127.0.0.1", self.admin_port), timeout=10))
        self.addCleanup(connection.close)
        self.readers[connection] = connection.makefile("rb")
        return connection

    def frame(self, connection):
        reader = self.readers[connection]
        header = reader.readline()
        if not header:
            return None
        kind, length = header.split()
        return kind.decode(), reader.read(int(length)).decode()

    def assert_ends(self, connection):
        try:
            self.assertEqual(connection.recv(100), b"")
        except (ConnectionResetError, ssl.SSLError):
            pass

    def test_nothing_but_the_right_password_is_heard_first(self):
        shown = subprocess.run([TOLVANED, "--home", self.home, "admin", "fingerprint"], capture_output=True,
                               text=True, timeout=60).stdout
        connection = self.connect()
        digest = hashlib.sha256(connection.getpeercert(binary_form=True)).hexdigest().upper()
        self.assertEqual(shown, "SHA-256 %s\n" % ":".join(digest[i:i + 2] for i in range(0, len(digest), 2)))

        connection.sendall(b"status\n")
        self.assertEqual(self.frame(connection), ("error", "log in first\n"))
        self.assert_ends(connection)

        overlong = self.connect()
        overlong.sendall(b"login " + b"a" * 600 + b"\n")
        self.assertEqual(self.frame(overlong), ("error", "log in first\n"))
        self.assert_ends(overlong)

        wrong = self.connect()
        wrong.sendall(b"login " + b"wrong".hex().encode() + b"\n")
        self.assertEqual(self.frame(wrong), ("error", "wrong admin password\n"))
        self.assert_ends(wrong)

        # Without TLS nothing is answered at all.
        with socket.create_connection(("127.0.0.1", self.admin_port), timeout=15) as plain:
            plain.sendall(b"login " + b"s3cret pass".hex().encode() + b"\n")
            try:
                self.assertNotIn(b"ok", plain.recv(100))
            except ConnectionResetError:
                pass

        right = self.connect()
        right.sendall(b"login " + b"s3cret pass".hex().encode() + b"\n")
        self.assertEqual(self.frame(right), ("ok", "logged in\n"))
        right.sendall(b"status\n")
        kind, text = self.frame(right)
        self.assertEqual(kind, "ok")
        self.assertIn("state      online\n", text)
        right.sendall(b"watch\n")
        self.assertEqual(self.frame(right), ("ok", "watching\n"))
        kind, rows = self.frame(right)
        self.assertEqual((kind, rows.split("\t")[:2]), ("rows", ["state", "1"]))


if __name__ == "__main__":
    unittest.main()
