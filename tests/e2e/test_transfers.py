import ftplib
import hashlib
import io
import os
import random
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

from accounts import TransferHome
from tolvane import ActiveListener, HomeTestCase, connect_data, read_to_end, sha256_file, tree_digest, user_file

KiB, MiB, GiB = 1 << 10, 1 << 20, 1 << 30
FAILED = "426 Data connection closed, transfer failed."
DISK_FULL = "426 Data Connection closed,disk writing error, disk full ?."
COMPLETE = "226 Transfer complete."
REFUSED_PORT = "504 Data connections to that port are refused."
SYNTAX = "501 Syntax error in parameters or arguments."
AFTER_EPSV_ALL = "503 Only EPSV is allowed after EPSV ALL."


def payload(size, seed=1):
    return random.Random(seed).randbytes(size)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def retr(ftp, name, rest=None):
    received = bytearray()
    reply = ftp.retrbinary("RETR " + name, received.extend, blocksize=256 * KiB, rest=rest)
    return reply, bytes(received)


def stor(ftp, command, data, rest=None):
    return ftp.storbinary(command, io.BytesIO(data), blocksize=256 * KiB, rest=rest)


def refused_port(port, timeout=3.0):
    """True once nothing listens on the port any more."""
    deadline = time.time() + timeout
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
        except ConnectionRefusedError:
            return True
        except ConnectionResetError:
            pass  # taken by a listener that was closing: look again
        if time.time() > deadline:
            return False
        time.sleep(0.05)


class TransferTestCase(HomeTestCase, unittest.TestCase):
    settings = {}

    def setUp(self):
        self.home = TransferHome(self, **self.settings)

    def start(self):
        self.daemon = self.home.start()

    def ftp(self, passive=True, user="u"):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.home.port, timeout=20)
        self.addCleanup(ftp.close)
        ftp.login(user, "pw")
        ftp.set_pasv(passive)
        return ftp

    def start_unread_download(self, name="big.bin"):
        """A session whose download runs and blocks because nobody reads it."""
        return self.start_unread_download_as("u", name)

    def start_unread_download_as(self, user, name="big.bin"):
        c = self.home.client(user)
        data_socket = connect_data(c.pasv())
        self.addCleanup(data_socket.close)
        self.assertEqual(c.command("RETR " + name), "150 Using open data connection for transfering file %s." % name)
        self.assertEqual(len(data_socket.recv(1024, socket.MSG_WAITALL)), 1024)
        return c, data_socket

    def local_folder(self):
        folder = tempfile.TemporaryDirectory(prefix="tolvane-local-")
        self.addCleanup(folder.cleanup)
        return folder.name


class RealClients(TransferTestCase):
    def test_curl_downloads_uploads_and_resumes_in_both_modes(self):
        data = payload(3 * MiB + 17)
        self.home.write("dir/data.bin", data)
        self.home.write("empty.bin", b"")
        self.start()
        local = self.local_folder()
        empty = os.path.join(local, "empty")
        open(empty, "wb").close()
        source = os.path.join(local, "source")
        with open(source, "wb") as f:
            f.write(data)
        url = "ftp://u:pw@127.0.0.1:%d/" % self.home.port

        def curl(*args):
            result = subprocess.run(["curl", "-sS", "--max-time", "60", *args], capture_output=True, text=True,
                                    timeout=90)
            self.assertEqual(result.returncode, 0, (args, result.stderr))

        for mode, extra in (("passive", []), ("active", ["--ftp-port", "127.0.0.1"])):
            with self.subTest(mode=mode):
                target = os.path.join(local, "down-" + mode)
                curl(*extra, url + "dir/data.bin", "-o", target)
                self.assertEqual(sha256_file(target), sha256(data))
                target = os.path.join(local, "empty-" + mode)
                curl(*extra, url + "empty.bin", "-o", target)
                self.assertEqual(os.path.getsize(target), 0)
                curl(*extra, "-T", source, url + "up-%s.bin" % mode)
                self.assertEqual(sha256_file(self.home.path("up-%s.bin" % mode)), sha256(data))
                curl(*extra, "-T", empty, url + "upempty-%s.bin" % mode)
                self.assertEqual(self.home.read("upempty-%s.bin" % mode), b"")
                partial = os.path.join(local, "partial-" + mode)
                with open(partial, "wb") as f:
                    f.write(data[:MiB + 5])
                curl(*extra, "-C", "-", url + "dir/data.bin", "-o", partial)
                self.assertEqual(sha256_file(partial), sha256(data))
        self.assertTrue(self.daemon.wait_for_line("REST %d" % (MiB + 5), count=2))

    def test_lftp_mirrors_a_tree_down_and_up_in_both_modes(self):
        tree = self.home.path("tree")
        rng = random.Random(7)
        folders = [""] + ["d%d/" % i for i in range(9)] + ["d0/deep/", "d0/deep/deeper/"]
        for n in range(200):
            size = 0 if n == 0 else (300 * KiB + n if n % 50 == 7 else rng.randrange(1, 40 * KiB))
            self.home.write("tree/%sf%03d.bin" % (folders[n % len(folders)], n), rng.randbytes(size))
        os.makedirs(os.path.join(tree, "empty-dir"))
        # A fixed date outside May keeps the client's date parser out of the test.
        stamp = time.mktime((2024, 1, 2, 3, 4, 0, 0, 0, -1))
        for folder, dirs, names in os.walk(tree):
            for name in names:
                os.utime(os.path.join(folder, name), (stamp, stamp))
        source_files, source_folders = tree_digest(tree)
        self.assertEqual(len(source_files), 200)
        self.start()
        idle = (self.daemon.descriptors(), self.daemon.threads())
        local = self.local_folder()
        for passive in ("on", "off"):
            with self.subTest(passive=passive):
                down = os.path.join(local, "down-" + passive)
                # The server has no NLST, the fallback lftp tries after an empty LIST.
                script = ("set net:max-retries 1; set net:timeout 20; set ftp:ssl-allow no; "
                          "set ftp:list-empty-ok yes; set ftp:passive-mode %s; mirror --parallel=4 --no-perms tree %s; "
                          "mirror -R --parallel=4 --no-perms %s up-%s; quit" % (passive, down, down, passive))
                result = subprocess.run(["lftp", "-u", "u,pw", "-p", str(self.home.port), "-e", script, "127.0.0.1"],
                                        capture_output=True, text=True, timeout=240)
                self.assertEqual(result.returncode, 0, result.stderr[-3000:])
                self.assertEqual(tree_digest(down), (source_files, source_folders))
                self.assertEqual(tree_digest(self.home.path("up-" + passive)), (source_files, source_folders))
                # Hundreds of transfers and listings leave no descriptor or thread behind.
                self.assertEqual(self.daemon.wait_for_resources(*idle), idle)

    def test_ftplib_retr_stor_rest_and_appe_in_both_modes(self):
        data = payload(3 * MiB + 5)
        self.home.write("data.bin", data)
        self.home.write("empty.bin", b"")
        self.start()
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.ftp(passive)
                self.assertEqual(retr(ftp, "data.bin"), (COMPLETE, data))
                self.assertEqual(retr(ftp, "empty.bin"), (COMPLETE, b""))
                self.assertEqual(retr(ftp, "data.bin", rest=1000), (COMPLETE, data[1000:]))
                self.assertEqual(retr(ftp, "data.bin", rest=len(data) - 1), (COMPLETE, data[-1:]))
                name = "up-%s.bin" % passive
                self.assertEqual(stor(ftp, "STOR " + name, data), COMPLETE)
                self.assertEqual(sha256(self.home.read(name)), sha256(data))
                # STORE_overwrite=1: a second STOR replaces the file, shorter or not.
                self.assertEqual(stor(ftp, "STOR " + name, b"short"), COMPLETE)
                self.assertEqual(self.home.read(name), b"short")
                self.assertEqual(stor(ftp, "STOR empty-%s.bin" % passive, b""), COMPLETE)
                self.assertEqual(self.home.read("empty-%s.bin" % passive), b"")
                self.home.write("base.bin", b"a" * 100)
                self.assertEqual(stor(ftp, "STOR base.bin", b"b" * 5, rest=10), COMPLETE)
                self.assertEqual(self.home.read("base.bin"), b"a" * 10 + b"b" * 5 + b"a" * 85)
                self.assertEqual(stor(ftp, "APPE base.bin", b"xyz"), COMPLETE)
                self.assertEqual(self.home.read("base.bin"), b"a" * 10 + b"b" * 5 + b"a" * 85 + b"xyz")
                with self.assertRaises(ftplib.error_perm) as refused:
                    stor(ftp, "APPE missing.bin", b"never")
                self.assertEqual(str(refused.exception), "550 Called APPE for a not existing file or file is busy.")
                self.assertFalse(os.path.exists(self.home.path("missing.bin")))
                self.assertEqual(retr(ftp, "data.bin"), (COMPLETE, data))
                ftp.quit()


class Replies(TransferTestCase):
    def test_replies_and_log_lines_of_each_data_command_in_both_modes(self):
        data = payload(200 * KiB + 3)
        self.home.write("data.bin", data)
        self.home.write("empty.bin", b"")
        self.start()
        c = self.home.client()
        for passive in (True, False):
            with self.subTest(passive=passive):
                sending = ("150 Using open data connection for transfering file %s." if passive else
                           "150 Binary data connection for transfering file %s.")
                self.assertEqual(c.transfer("RETR data.bin", passive), (sending % "data.bin", data, COMPLETE))
                self.assertEqual(c.transfer("RETR empty.bin", passive), (sending % "empty.bin", b"", COMPLETE))
                self.assertEqual(c.transfer("STOR up.bin", passive, upload=data),
                                 ("150 Binary data connection for file up.bin.", b"", COMPLETE))
                self.assertEqual(c.transfer("APPE up.bin", passive, upload=b"tail"),
                                 ("150 Binary data connection for file up.bin.", b"", COMPLETE))
                self.assertEqual(self.home.read("up.bin"), data + b"tail")
                first, listing, final = c.transfer("LIST", passive)
                self.assertEqual((first, final), ("150 Opening ASCII data connection to bin/ls.", COMPLETE))
                self.assertIn(b" data.bin\r\n", listing)
        for line in (' -[1]- Connected, sending file "data.bin" ...',
                     ' -[1]- Closed, sending file "data.bin" successfull ...',
                     ' -[1]- Connected, sending file "up.bin" ...',
                     ' -[1]- Connected, sending file "up.bin" successfull...',
                     ' -[1]- Connected, Transfering List "',
                     ' -[1]- Closed, Transfering List successfull ...'):
            self.assertTrue(self.daemon.wait_for_line(line), line)

    def test_session_log_file_records_downloads_and_listings(self):
        self.home.write("a.txt", b"a")
        self.home.user("logged", logging={"Enabled": "TRUE", "LogSystemMessages": "TRUE", "FilenameMask": "%USER"})
        self.start()
        c = self.home.client("logged")
        self.assertEqual(c.transfer("RETR a.txt")[2], COMPLETE)
        self.assertEqual(c.transfer("STOR up.txt", upload=b"u")[2], COMPLETE)
        self.assertEqual(c.transfer("LIST")[2], COMPLETE)
        self.assertEqual(c.command("QUIT"), "221 Good Bye!")
        self.assertTrue(self.daemon.wait_for_line(" -[1]- Closed connection to 127.0.0.1 ...", count=2))
        with open(os.path.join(self.home.home, "Logging", "logged.log"), encoding="latin-1", newline="") as f:
            log = f.read()
        self.assertIn(' - SYSTEM  <> -[1]- Connected, sending file "a.txt" ...\r\n', log)
        self.assertIn(' - SYSTEM  <> -[1]- Closed, sending file "a.txt" successfull ...\r\n', log)
        self.assertIn(' - SYSTEM  <> -[1]- Closed, Transfering List successfull ...\r\n', log)
        # Uploads report to the server log only.
        self.assertNotIn("up.txt", log)
        self.assertTrue(self.daemon.wait_for_line(' -[1]- Connected, sending file "up.txt" successfull...'))

    def test_a_moving_transfer_keeps_its_session_alive_and_a_stalled_one_does_not(self):
        # Paced to 100 KiB/s, the download moves for about five seconds: more than twice the
        # time-out, with the control connection silent throughout. However slow the machine,
        # the session may only time out after the transfer's own end.
        data = payload(500 * KiB)
        self.home.write("paced.bin", data)
        self.home.sparse("big.bin", 64 * MiB)
        self.home.user("u", misc={"Timeout": "2"}, speed_limit={"Enabled": "Static", "SendingSpeed": "100"})
        self.home.user("fast", misc={"Timeout": "2"})
        self.start()
        c = self.home.client()
        c.sock.settimeout(30)
        self.assertEqual(c.transfer("RETR paced.bin")[1:], (data, COMPLETE))
        self.assertEqual(c.reply(), "421 Connection timed-out.\r\n")
        self.assertTrue(c.closed())
        # A download nobody reads moves nothing: it ends with 426 and its silent session with 421.
        c, download = self.start_unread_download_as("fast")
        c.sock.settimeout(30)
        self.assertEqual(c.reply() + c.reply(), FAILED + "\r\n421 Connection timed-out.\r\n")
        self.assertTrue(c.closed())
        self.assertLess(len(read_to_end(download)), 64 * MiB)

    def test_rest_offsets(self):
        data = payload(1000)
        self.home.write("k.bin", data)
        self.start()
        c = self.home.client()
        self.assertEqual(c.command("REST 100"), "350 Restarting at 100 - Call RETR or STOR for tansfer.")
        self.assertEqual(c.transfer("RETR k.bin", rest=100)[1:], (data[100:], COMPLETE))
        self.assertEqual(c.transfer("RETR k.bin", rest=1000)[1:], (b"", COMPLETE))
        for argument in ("0", "abc"):
            self.assertEqual(c.command("REST " + argument),
                             "350 Restarting at %s - Call RETR or STOR for tansfer." % argument)
            self.assertEqual(c.transfer("RETR k.bin", rest=argument)[1:], (data, COMPLETE))
        # The offset applies to the very next command only.
        data_socket = connect_data(c.pasv())
        c.command("REST 100")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        self.assertEqual(c.command("RETR k.bin"), "150 Using open data connection for transfering file k.bin.")
        self.assertEqual(read_to_end(data_socket), data)
        data_socket.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        self.assertEqual(c.transfer("RETR k.bin", rest=1001)[0], "550 File is smaller than pointer position.")
        # Nonsense offsets get a clear answer: a refusal, or the whole file.
        for argument in ("-1", "99999999999999999999", "-99999999999999999999"):
            with self.subTest(argument=argument):
                self.assertEqual(c.command("REST " + argument),
                                 "350 Restarting at %s - Call RETR or STOR for tansfer." % argument)
                first, body, final = c.transfer("RETR k.bin", rest=argument)
                if first.startswith("150"):
                    self.assertEqual((body, final), (data, COMPLETE))
                else:
                    self.assertRegex(first, r"^5\d\d ")
                self.assertEqual(c.command("NOOP"), "200 Command okay.")
        # The offset of STOR writes into the file without shortening it.
        self.assertEqual(c.transfer("STOR k.bin", upload=b"XY", rest=10)[2], COMPLETE)
        self.assertEqual(self.home.read("k.bin"), data[:10] + b"XY" + data[12:])
        self.assertEqual(c.transfer("STOR k.bin", rest=1001)[0], "550 File is smaller than pointer position.")
        self.assertEqual(c.transfer("STOR missing.bin", rest=10)[0], "550 Called REST for a file not found.")
        self.assertEqual(c.transfer("APPE missing.bin", rest=10)[0], "550 Called REST for a file not found.")
        # APPE writes at the end whatever the offset.
        self.assertEqual(c.transfer("APPE k.bin", upload=b"!", rest=10)[2], COMPLETE)
        self.assertEqual(self.home.read("k.bin"), data[:10] + b"XY" + data[12:] + b"!")
        self.assertFalse(os.path.exists(self.home.path("missing.bin")))

    def test_names_are_found_exactly_relative_to_the_current_directory_and_inside_the_home(self):
        self.home.write("file.txt", b"lower")
        self.home.write("sub/f.txt", b"top sub")
        self.home.write("d1/sub/f.txt", b"nested")
        self.home.write("priv/secret.txt", b"secret")
        with open(os.path.join(self.home.home, "outside.txt"), "wb") as f:
            f.write(b"outside")
        self.home.user("u", rules=[("priv/", "d")])
        self.start()
        c = self.home.client()
        for name in ("FILE.TXT", "missing.txt", "sub/F.TXT", "nosuch/f.txt"):
            c.pasv()
            self.assertEqual(c.command("RETR " + name), "550 File not found.", name)
        first, body, final = c.transfer("RETR sub/f.txt")
        self.assertEqual(first, "150 Using open data connection for transfering file f.txt.")
        self.assertEqual((body, final), (b"top sub", COMPLETE))
        self.assertEqual(c.command("CWD d1"), "250 CWD command successfull.")
        self.assertEqual(c.transfer("RETR sub/f.txt")[1:], (b"nested", COMPLETE))
        self.assertEqual(c.transfer("RETR ../file.txt")[1:], (b"lower", COMPLETE))
        for name in ("../../outside.txt", "../priv/secret.txt"):
            c.pasv()
            self.assertEqual(c.command("RETR " + name), "550 Permission denied.", name)
        # Uploads follow the same rules.
        self.assertEqual(c.transfer("STOR sub/new.txt", upload=b"new")[2], COMPLETE)
        self.assertEqual(self.home.read("d1/sub/new.txt"), b"new")
        self.assertEqual(c.transfer("APPE ../sub/f.txt", upload=b"+")[2], COMPLETE)
        self.assertEqual(self.home.read("sub/f.txt"), b"top sub+")
        for line in ("STOR ../../escaped.txt", "APPE ../../outside.txt", "STOR ../priv/planted.txt",
                     "APPE ../priv/secret.txt"):
            c.pasv()
            self.assertEqual(c.command(line), "550 Permission denied.", line)
        with open(os.path.join(self.home.home, "outside.txt"), "rb") as f:
            self.assertEqual(f.read(), b"outside")
        self.assertFalse(os.path.exists(os.path.join(self.home.home, "files", "escaped.txt")))
        self.assertEqual(sorted(os.listdir(self.home.path("priv"))), ["secret.txt"])
        self.assertEqual(self.home.read("priv/secret.txt"), b"secret")
        # A directory is no file to send: refused, or ended with the failure reply.
        first, body, final = c.transfer("RETR sub")
        if first.startswith("150"):
            self.assertEqual((body, final), (b"", FAILED))
        else:
            self.assertRegex(first, r"^550 ")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")

    def test_letters_gate_the_data_commands(self):
        self.home.write("file.txt", b"x")
        self.home.user("reader", letters="RLI")
        self.home.user("writer", letters="WI")
        self.start()
        reader = self.home.client("reader")
        for line in ("STOR new.txt", "APPE file.txt"):
            reader.pasv()
            self.assertEqual(reader.command(line), "550 Permission denied.", line)
        self.assertEqual(reader.transfer("RETR file.txt")[1:], (b"x", COMPLETE))
        writer = self.home.client("writer")
        for line in ("RETR file.txt", "LIST"):
            writer.pasv()
            self.assertEqual(writer.command(line), "550 Permission denied.", line)
        self.assertEqual(writer.transfer("APPE file.txt", upload=b"y")[2], COMPLETE)
        self.assertEqual(self.home.read("file.txt"), b"xy")
        self.assertFalse(os.path.exists(self.home.path("new.txt")))


class NoOverwrite(TransferTestCase):
    settings = {"store_overwrite": 0}

    def test_existing_files_are_kept_unless_restarted_or_appended(self):
        self.home.write("old.txt", b"0123456789ABCDEF")
        self.start()
        c = self.home.client()
        c.pasv()
        self.assertEqual(c.command("STOR old.txt"), "500 File already exists, delete first.")
        self.assertEqual(self.home.read("old.txt"), b"0123456789ABCDEF")
        self.assertEqual(c.transfer("STOR new.txt", upload=b"new")[2], COMPLETE)
        # A restart rewrites nothing: only an upload resumed where the file ends may go on.
        for offset in (0, 1, 10, 15):
            self.assertEqual(c.transfer("STOR old.txt", upload=b"xy", rest=offset)[0],
                             "500 File already exists, delete first.")
        self.assertEqual(c.transfer("STOR old.txt", upload=b"xy", rest=17)[0],
                         "550 File is smaller than pointer position.")
        self.assertEqual(c.transfer("STOR old.txt", upload=b"xy", rest=16)[2], COMPLETE)
        self.assertEqual(self.home.read("old.txt"), b"0123456789ABCDEFxy")
        self.assertEqual(c.transfer("APPE old.txt", upload=b"!")[2], COMPLETE)
        self.assertEqual(self.home.read("old.txt"), b"0123456789ABCDEFxy!")
        # A name with a drive keeps only its last component, in the reply too.
        self.assertEqual(c.transfer("STOR C:/temp/colon.txt", upload=b"c")[0],
                         "150 Binary data connection for file colon.txt.")
        self.assertEqual(self.home.read("colon.txt"), b"c")


class DataConnections(TransferTestCase):
    def test_pasv_reply_names_its_listener_and_a_second_pasv_closes_the_first(self):
        data = payload(5000)
        self.home.write("data.bin", data)
        self.start()
        c = self.home.client()
        reply = c.command("PASV")
        match = re.fullmatch(r"227 Entering Passive Mode \(127,0,0,1,(0|[1-9]\d*),(0|[1-9]\d*)\)", reply)
        self.assertTrue(match, reply)
        high, low = int(match.group(1)), int(match.group(2))
        self.assertLess(low, 256)
        first_port = high * 256 + low
        waiting = connect_data(first_port)
        second_port = c.pasv()
        if second_port != first_port:  # the system may hand the same port out again
            self.assertTrue(refused_port(first_port))
        self.assertEqual(read_to_end(waiting), b"")
        waiting.close()
        data_socket = connect_data(second_port)
        self.assertEqual(c.command("RETR data.bin"), "150 Using open data connection for transfering file data.bin.")
        self.assertEqual(read_to_end(data_socket), data)
        data_socket.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        self.assertTrue(refused_port(second_port))  # one connection per PASV
        # PORT after PASV closes the listener and goes active.
        third_port = c.pasv()
        self.assertEqual(c.transfer("RETR data.bin", passive=False),
                         ("150 Binary data connection for transfering file data.bin.", data, COMPLETE))
        self.assertTrue(refused_port(third_port))

    def test_a_pasv_after_a_transfer_command_leaves_that_transfer_its_connection(self):
        data = payload(300 * KiB)
        self.home.write("data.bin", data)
        self.start()
        c = self.home.client()
        for pipelined in (True, False):
            with self.subTest(pipelined=pipelined):
                port = c.pasv()
                if pipelined:
                    c.send("RETR data.bin\r\nPASV\r\n")
                    self.assertEqual(c.reply(), "150 Using open data connection for transfering file data.bin.\r\n")
                else:
                    self.assertEqual(c.command("RETR data.bin"),
                                     "150 Using open data connection for transfering file data.bin.")
                    c.send("PASV\r\n")
                self.assertRegex(c.reply(), r"^227 ")
                data_socket = connect_data(port)
                self.assertEqual(read_to_end(data_socket), data)
                data_socket.close()
                self.assertEqual(c.reply(), COMPLETE + "\r\n")

    def test_a_waiting_passive_connection_serves_a_later_command(self):
        self.home.write("a.txt", b"a")
        self.start()
        c = self.home.client()
        data_socket = connect_data(c.pasv())
        time.sleep(1.2)
        self.assertEqual(c.command("LIST"), "150 Opening ASCII data connection to bin/ls.")
        self.assertIn(b" a.txt\r\n", read_to_end(data_socket))
        data_socket.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")

    def test_passive_mode_without_a_listener_is_refused(self):
        self.home.write("a.txt", b"a")
        self.start()
        c = self.home.client()
        self.assertEqual(c.transfer("RETR a.txt")[1:], (b"a", COMPLETE))
        for line in ("RETR a.txt", "STOR b.txt", "APPE a.txt", "LIST"):
            with self.subTest(line=line):
                reply = c.command(line)
                # A 150 line before the refusal is tolerated; the refusal is not.
                if reply.startswith("150"):
                    reply = c.reply()[:-2]
                self.assertEqual(reply, "425 Use PORT or PASV first.")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        self.assertEqual(c.transfer("RETR a.txt")[1:], (b"a", COMPLETE))
        self.assertEqual(c.transfer("RETR a.txt", passive=False)[1:], (b"a", COMPLETE))
        self.assertFalse(os.path.exists(self.home.path("b.txt")))

    def test_port_argument_forms_and_garbage(self):
        data = payload(3000)
        self.home.write("data.bin", data)
        self.start()
        c = self.home.client()
        listener = ActiveListener()
        self.addCleanup(listener.close)
        port = listener.port
        # The data connection goes to the control connection's address, whatever the argument names.
        for argument in (listener.port_argument("10,0,0,7"), str(port), " %d" % port,
                         "x,y,%d,%d" % (port // 256, port % 256), "0,%d" % port):
            with self.subTest(argument=argument):
                self.assertEqual(c.command("PORT " + argument), "200 PORT command succeed.")
                self.assertEqual(c.command("RETR data.bin"),
                                 "150 Binary data connection for transfering file data.bin.")
                connection = listener.accept()
                self.assertEqual(connection.getpeername()[0], "127.0.0.1")
                self.assertEqual(read_to_end(connection), data)
                connection.close()
                self.assertEqual(c.reply(), COMPLETE + "\r\n")
        for argument in ("99999999999999999999", "1,2,3,4,300,300", "1" * 3000):
            with self.subTest(argument=argument):
                self.assertEqual(c.command(("PORT " + argument).rstrip()), "200 PORT command succeed.")
        # Garbage reads as a port below 1024, which is refused like any other privileged port.
        for argument in ("a,b", "", ",,,,,", "-1,-1", "\x01\x7f"):
            with self.subTest(argument=argument):
                self.assertEqual(c.command(("PORT " + argument).rstrip()), REFUSED_PORT)
        self.assertEqual(c.command("NOOP"), "200 Command okay.")

    def test_bounces_to_privileged_and_own_ports_are_refused(self):
        self.home.write("data.bin", b"data")
        self.start()
        c = self.home.client()
        own = self.home.port
        for port in (21, 25, 1023, own):
            for line in ("PORT 127,0,0,1,%d,%d" % (port // 256, port % 256), "EPRT |1|127.0.0.1|%d|" % port):
                with self.subTest(line=line):
                    self.assertEqual(c.command(line), REFUSED_PORT)
        # Refused ports leave the last accepted one in force.
        listener = ActiveListener()
        self.addCleanup(listener.close)
        self.assertEqual(c.command("PORT " + listener.port_argument()), "200 PORT command succeed.")
        self.assertEqual(c.command("PORT 127,0,0,1,0,80"), REFUSED_PORT)
        self.assertEqual(c.command("RETR data.bin"), "150 Binary data connection for transfering file data.bin.")
        connection = listener.accept()
        self.assertEqual(read_to_end(connection), b"data")
        connection.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")

    def test_extended_passive_and_active_modes(self):
        data = payload(100000)
        self.home.write("data.bin", data)
        self.start()
        c = self.home.client()
        reply = c.command("EPSV")
        match = re.fullmatch(r"229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)", reply)
        self.assertTrue(match, reply)
        connection = connect_data(int(match.group(1)))
        self.assertEqual(c.command("RETR data.bin"), "150 Using open data connection for transfering file data.bin.")
        self.assertEqual(read_to_end(connection), data)
        connection.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")

        listener = ActiveListener()
        self.addCleanup(listener.close)
        # The address is checked for its family but, as with PORT, the client's own address is used.
        for address in ("127.0.0.1", "10.0.0.7"):
            self.assertEqual(c.command("EPRT |1|%s|%d|" % (address, listener.port)), "200 EPRT command successful.")
            self.assertEqual(c.command("STOR up.bin"), "150 Binary data connection for file up.bin.")
            connection = listener.accept()
            connection.sendall(data[:5000])
            connection.close()
            self.assertEqual(c.reply(), COMPLETE + "\r\n")
            self.assertEqual(self.home.read("up.bin"), data[:5000])
        for line, reply in (("EPRT |2|::1|%d|" % listener.port, "522 Network protocol not supported, use (1)"),
                            ("EPSV 2", "522 Network protocol not supported, use (1)"),
                            ("EPRT |1|::1|%d|" % listener.port, SYNTAX),
                            ("EPRT |1|1.2.3|%d|" % listener.port, SYNTAX),
                            ("EPRT 127,0,0,1,4,1", SYNTAX),
                            ("EPSV 3", SYNTAX),
                            ("EPSV ALL", "200 EPSV ALL command successful."),
                            ("PASV", AFTER_EPSV_ALL),
                            ("PORT " + listener.port_argument(), AFTER_EPSV_ALL),
                            ("EPRT |1|127.0.0.1|%d|" % listener.port, AFTER_EPSV_ALL)):
            with self.subTest(line=line):
                self.assertEqual(c.command(line), reply)
        connection = connect_data(int(c.command("EPSV")[39:-2]))
        self.assertEqual(c.command("RETR data.bin"), "150 Using open data connection for transfering file data.bin.")
        self.assertEqual(read_to_end(connection), data)
        connection.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")

    def test_a_failed_active_connect_ends_with_426(self):
        self.home.write("data.bin", b"data")
        self.start()
        c = self.home.client()
        # Bound and never listening: connects are refused, and no server of a parallel test can take it.
        blocker = socket.socket()
        self.addCleanup(blocker.close)
        blocker.bind(("127.0.0.1", 0))
        closed = blocker.getsockname()[1]
        for line, first in (("RETR data.bin", "150 Binary data connection for transfering file data.bin."),
                            ("STOR new.bin", "150 Binary data connection for file new.bin."),
                            ("APPE data.bin", "150 Binary data connection for file data.bin."),
                            ("LIST", "150 Opening ASCII data connection to bin/ls.")):
            for argument in ("127,0,0,1,%d,%d" % (closed // 256, closed % 256), "1,2,3,4,300,300"):
                with self.subTest(line=line, argument=argument):
                    self.assertEqual(c.command("PORT " + argument), "200 PORT command succeed.")
                    self.assertEqual(c.command(line), first)
                    self.assertEqual(c.reply(), FAILED + "\r\n")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        self.assertEqual(self.home.read("data.bin"), b"data")
        self.assertEqual(c.transfer("RETR data.bin", passive=False)[1:], (b"data", COMPLETE))

    def test_one_session_runs_a_download_and_an_upload_at_once(self):
        size = 64 * MiB
        self.home.sparse("big.bin", size, [(size - 4, b"last")])
        self.start()
        c, download = self.start_unread_download()
        data = payload(2 * MiB)
        self.assertEqual(c.transfer("STOR up.bin", upload=data),
                         ("150 Binary data connection for file up.bin.", b"", COMPLETE))
        self.assertEqual(sha256(self.home.read("up.bin")), sha256(data))
        received = read_to_end(download)
        self.assertEqual((len(received) + 1024, received[-4:]), (size, b"last"))
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")

    def test_shutdown_ends_running_transfers(self):
        self.home.sparse("big.bin", 64 * MiB)
        self.home.write("two.bin", payload(2 * MiB))
        self.home.user("slow", speed_limit={"Enabled": "Static", "SendingSpeed": "100"})
        self.start()
        unread, _ = self.start_unread_download()
        slow = self.home.client("slow")
        paced = connect_data(slow.pasv())
        self.addCleanup(paced.close)
        self.assertEqual(slow.command("RETR two.bin"), "150 Using open data connection for transfering file two.bin.")
        self.assertTrue(paced.recv(1024))
        uploading = self.home.client()
        upload = connect_data(uploading.pasv())
        self.addCleanup(upload.close)
        self.assertEqual(uploading.command("STOR up.bin"), "150 Binary data connection for file up.bin.")
        upload.sendall(b"u" * 100000)
        self.assertTrue(self.daemon.wait_for_line('Connected, sending file "up.bin" ...'))
        self.assertEqual(self.daemon.stop(), 0)
        for c in (unread, slow, uploading):
            self.assertEqual(c.read_line(), "421 Closing Connection due server shutdown ...\r\n")

    def test_the_passive_listener_serves_only_the_client_address(self):
        data = payload(4000)
        self.home.write("data.bin", data)
        self.start()
        c = self.home.client()
        port = c.pasv()
        try:
            thief = connect_data(port, source="127.0.0.2")
        except OSError as error:
            self.skipTest("no second loopback address: %s" % error)
        self.addCleanup(thief.close)
        client = connect_data(port)
        self.assertEqual(c.command("RETR data.bin"), "150 Using open data connection for transfering file data.bin.")
        self.assertEqual(read_to_end(client), data)
        client.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        thief.settimeout(5)
        self.assertEqual(read_to_end(thief), b"")


class Abort(TransferTestCase):
    def test_abor_ends_a_download_in_both_modes(self):
        self.home.sparse("big.bin", 256 * MiB, [(0, b"start")])
        self.home.write("small.bin", b"small")
        self.start()
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.ftp(passive)
                ftp.voidcmd("TYPE I")
                connection = ftp.transfercmd("RETR big.bin")
                self.assertTrue(connection.recv(65536).startswith(b"start"))
                self.assertEqual(ftp.abort(), FAILED)
                self.assertEqual(ftp.getresp(), "226 ABOR command successful.")
                connection.settimeout(10)
                self.assertLess(len(read_to_end(connection)), 256 * MiB - 65536)
                connection.close()
                self.assertEqual(ftp.voidcmd("NOOP"), "200 Command okay.")
                self.assertEqual(retr(ftp, "small.bin"), (COMPLETE, b"small"))

    def test_abor_of_a_raw_download_and_upload(self):
        self.home.sparse("big.bin", 256 * MiB)
        self.start()
        c = self.home.client()
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("RETR big.bin"), "150 Using open data connection for transfering file big.bin.")
        data_socket.recv(65536)
        self.assertEqual(c.command("ABOR"), FAILED)
        self.assertEqual(c.reply(), "226 ABOR command successful.\r\n")
        self.assertLess(len(read_to_end(data_socket)), 256 * MiB - 65536)
        data_socket.close()
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        # An aborted upload ends at once, as a download does: its data connection is closed.
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("STOR up.bin"), "150 Binary data connection for file up.bin.")
        data_socket.sendall(b"u" * 100000)
        self.assertEqual(c.command("ABOR"), FAILED)
        self.assertEqual(c.reply(), "226 ABOR command successful.\r\n")
        self.assertEqual(read_to_end(data_socket), b"")
        data_socket.close()
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        self.assertEqual(c.transfer("STOR up.bin", upload=b"again")[2], COMPLETE)

    def wait_for_blocks_within_size(self, name):
        """Disk blocks of a file are reserved ahead of an upload and given back once it has
        ended; True once the file holds no more blocks than its bytes need."""
        deadline = time.time() + 10
        while True:
            facts = os.stat(self.home.path(name))
            if facts.st_blocks * 512 <= facts.st_size + 64 * KiB or time.time() > deadline:
                return facts.st_blocks * 512 <= facts.st_size + 64 * KiB
            time.sleep(0.05)

    def test_aborted_and_resumed_uploads_keep_exactly_their_bytes_and_no_reserved_disk(self):
        self.start()
        c = self.home.client()
        whole = payload(6 * MiB, seed=23)
        # Aborted well past the first reservation: what arrived stays, and only that.
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("STOR up.bin"), "150 Binary data connection for file up.bin.")
        data_socket.sendall(whole[:3 * MiB])
        # The file is made once the data connection is taken: wait until all of it is written.
        deadline = time.time() + 10
        while time.time() < deadline:
            if os.path.exists(self.home.path("up.bin")) and os.path.getsize(self.home.path("up.bin")) >= 3 * MiB:
                break
            time.sleep(0.02)
        self.assertEqual(c.command("ABOR"), FAILED)
        self.assertEqual(c.reply(), "226 ABOR command successful.\r\n")
        data_socket.close()
        with open(self.home.path("up.bin"), "rb") as f:
            self.assertEqual(sha256(f.read()), sha256(whole[:3 * MiB]))
        self.assertTrue(self.wait_for_blocks_within_size("up.bin"))
        # Resumed at its end, by REST and STOR, then by APPE.
        self.assertEqual(c.transfer("STOR up.bin", upload=whole[3 * MiB:5 * MiB], rest=3 * MiB)[2], COMPLETE)
        self.assertTrue(self.wait_for_blocks_within_size("up.bin"))
        self.assertEqual(c.transfer("APPE up.bin", upload=whole[5 * MiB:])[2], COMPLETE)
        with open(self.home.path("up.bin"), "rb") as f:
            self.assertEqual(sha256(f.read()), sha256(whole))
        self.assertTrue(self.wait_for_blocks_within_size("up.bin"))
        # A restart inside the file writes over its bytes and leaves its length.
        self.assertEqual(c.transfer("STOR up.bin", upload=b"#" * MiB, rest=MiB)[2], COMPLETE)
        with open(self.home.path("up.bin"), "rb") as f:
            self.assertEqual(sha256(f.read()), sha256(whole[:MiB] + b"#" * MiB + whole[2 * MiB:]))
        self.assertTrue(self.wait_for_blocks_within_size("up.bin"))

    def test_abor_with_nothing_running(self):
        self.home.write("a.txt", b"a")
        self.start()
        c = self.home.client()
        self.assertEqual(c.command("ABOR"), "226 ABOR command successful.")
        self.assertEqual(c.transfer("RETR a.txt")[1:], (b"a", COMPLETE))
        self.assertEqual(c.command("ABOR"), "226 ABOR command successful.")
        self.assertEqual(c.transfer("STOR b.txt", upload=b"b")[2], COMPLETE)
        self.assertEqual(c.command("ABOR"), "226 ABOR command successful.")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        self.assertEqual(self.home.read("b.txt"), b"b")


class Ratio(TransferTestCase):
    def trailer(self, ratio, credit):
        return "226-Server is running ratio %s\r\n226-Current Credit is %d\r\n226 Transfer complete." % (ratio, credit)

    def test_credit_is_spent_by_downloads_and_earned_by_uploads(self):
        for size in (300, 301, 500, 501):
            self.home.write("%d.bin" % size, payload(size, size))
        self.home.user("bytes", ratio={"RatioEnabled": "TRUE", "RatioType": "Bytes per Session", "Upload": "1",
                                       "Download": "3", "Credit": "500"})
        self.home.user("files", ratio={"RatioEnabled": "TRUE", "RatioType": "Files per Session", "Upload": "1",
                                       "Download": "2", "Credit": "1"})
        self.home.user("zero", ratio={"RatioEnabled": "TRUE", "RatioType": "Bytes per Session", "Upload": "0",
                                      "Download": "3", "Credit": "0"})
        self.home.user("saved", ratio={"RatioEnabled": "TRUE", "RatioType": "Bytes per Sessions", "Upload": "1",
                                       "Download": "1", "Credit": "1000"})
        self.start()
        refused = "550 Not enough credit for downloading this file, sorry."
        c = self.home.client("bytes")
        c.pasv()
        self.assertEqual(c.command("RETR 501.bin"), refused)
        # What a restart skips needs no credit.
        self.assertEqual(c.transfer("RETR 501.bin", rest=1)[1:], (payload(501, 501)[1:], COMPLETE))
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/3, counting Bytes per Session", 0))
        c = self.home.client("bytes")
        self.assertEqual(c.transfer("RETR 500.bin")[1:], (payload(500, 500), COMPLETE))
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/3, counting Bytes per Session", 0))
        c.pasv()
        self.assertEqual(c.command("RETR 300.bin"), refused)
        self.assertEqual(c.transfer("STOR up.bin", upload=b"u" * 100)[2], COMPLETE)
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/3, counting Bytes per Session", 300))
        c.pasv()
        self.assertEqual(c.command("RETR 301.bin"), refused)
        self.assertEqual(c.transfer("RETR 300.bin")[1:], (payload(300, 300), COMPLETE))
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/3, counting Bytes per Session", 0))

        c = self.home.client("files")
        self.assertEqual(c.transfer("RETR 501.bin")[2], COMPLETE)
        c.pasv()
        self.assertEqual(c.command("RETR 300.bin"), refused)
        self.assertEqual(c.transfer("STOR up2.bin", upload=b"u" * 5000)[2], COMPLETE)
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/2, counting Files per Session", 2))
        self.assertEqual(c.transfer("RETR 300.bin")[2], COMPLETE)
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/2, counting Files per Session", 1))

        # An Upload part of 0 earns nothing and divides nothing.
        c = self.home.client("zero")
        self.assertEqual(c.transfer("STOR up3.bin", upload=b"u" * 100)[2], COMPLETE)
        self.assertEqual(c.transfer("LIST")[2], self.trailer("0/3, counting Bytes per Session", 0))

        # A ratio counted over sessions keeps the credit left at the end of the session.
        c = self.home.client("saved")
        self.assertEqual(c.transfer("RETR 300.bin")[2], COMPLETE)
        self.assertEqual(c.command("QUIT"), "221 Good Bye!")
        self.assertTrue(self.daemon.wait_for_line(" -[5]- Closed connection to 127.0.0.1 ...", count=2))
        with open(user_file(self.home.home, self.home.ip_home, "saved"), encoding="latin-1") as f:
            self.assertRegex(f.read(), r"(?m)^Credit=700\r?$")


    def test_credit_is_taken_at_retr_and_shared_sessions_change_it_by_differences(self):
        self.home.write("1000.bin", payload(1000, 7))
        self.home.write("small.bin", payload(500, 5))
        self.home.write("large.bin", payload(200 * 1024, 6))
        shared = {"RatioEnabled": "TRUE", "RatioType": "Bytes per Sessions", "Upload": "1", "Download": "1",
                  "Credit": "1000"}
        self.home.user("shared", ratio=shared)
        self.home.user("single", ratio=dict(shared, RatioType="Bytes per Session"))
        self.start()
        account = user_file(self.home.home, self.home.ip_home, "shared")
        refused = "550 Not enough credit for downloading this file, sorry."

        # Two sessions hold one credit: what the first takes, the second cannot take again.
        first, second = self.home.client("shared"), self.home.client("shared")
        first_port, second_port = first.pasv(), second.pasv()
        self.assertEqual(first.command("RETR 1000.bin"), "150 Using open data connection for transfering file 1000.bin.")
        self.assertEqual(second.command("RETR 1000.bin"), refused)
        self.assertEqual(read_to_end(connect_data(first_port)), payload(1000, 7))
        self.assertEqual(first.reply(), COMPLETE + "\r\n")
        connect_data(second_port).close()
        # The session that ends last does not write back the credit it read at login.
        self.assertEqual(first.command("QUIT"), "221 Good Bye!")
        self.assertEqual(second.command("QUIT"), "221 Good Bye!")
        for number in (1, 2):
            self.assertTrue(self.daemon.wait_for_line(" -[%d]- Closed connection to 127.0.0.1 ..." % number))
        with open(account, encoding="latin-1") as f:
            self.assertRegex(f.read(), r"(?m)^Credit=0\r?$")

        # A file swapped in after RETR cannot send more than RETR took credit for.
        c = self.home.client("single")
        port = c.pasv()
        self.assertEqual(c.command("RETR small.bin"), "150 Using open data connection for transfering file small.bin.")
        os.replace(self.home.path("large.bin"), self.home.path("small.bin"))
        received = read_to_end(connect_data(port))
        final = c.reply()
        self.assertLessEqual(len(received), 500)
        self.assertIn(final, (COMPLETE + "\r\n", "426 Data connection closed, transfer failed.\r\n"))
        self.assertEqual(c.transfer("LIST")[2], self.trailer("1/1, counting Bytes per Session", 1000 - len(received)))


class IpHomeLimit(TransferTestCase):
    settings = {"max_transfers": 1}

    def test_max_transfers_refuses_a_second_transfer_and_recovers(self):
        self.home.sparse("big.bin", 256 * MiB)
        self.home.write("small.bin", b"small")
        self.home.user("lister", letters="LI")
        self.start()
        busy = "500 Max Transfers on server reached , try later."
        a, a_data = self.start_unread_download()
        b = self.home.client()
        for line in ("RETR small.bin", "STOR x.bin", "APPE small.bin"):
            self.assertEqual(b.command(line), busy, line)
        # The slot is asked for before the letters: a full IP home answers first.
        lister = self.home.client("lister")
        for line in ("RETR small.bin", "STOR x.bin"):
            self.assertEqual(lister.command(line), busy, line)
        a.pasv()
        self.assertEqual(a.command("RETR small.bin"), busy)
        # A listing is no file transfer.
        self.assertEqual(b.transfer("LIST")[2], COMPLETE)
        a_data.close()
        self.assertEqual(a.reply(), FAILED + "\r\n")

        def when_free(attempt):
            # The slot comes back when the data socket's worker ends, which may be a moment after the
            # transfer's last reply; a slot that never comes back fails here.
            deadline = time.time() + 5
            while True:
                result = attempt()
                if (result if isinstance(result, str) else result[0]) != busy or time.time() > deadline:
                    return result
                time.sleep(0.05)

        # Refused commands give their slot back.
        self.assertEqual(when_free(lambda: lister.command("RETR small.bin")), "550 Permission denied.")
        b.pasv()
        self.assertEqual(when_free(lambda: b.command("RETR missing.bin")), "550 File not found.")
        self.assertEqual(b.transfer("RETR small.bin")[1:], (b"small", COMPLETE))
        self.assertEqual(when_free(lambda: b.command("RETR small.bin")), "425 Use PORT or PASV first.")
        self.assertEqual(when_free(lambda: b.transfer("RETR small.bin"))[1:], (b"small", COMPLETE))
        self.assertFalse(os.path.exists(self.home.path("x.bin")))
        # A session that ends takes its transfer and its slot with it.
        c, c_data = self.start_unread_download()
        c.close()
        self.assertEqual(when_free(lambda: b.transfer("RETR small.bin"))[1:], (b"small", COMPLETE))


class ServerLimit(TransferTestCase):
    settings = {"settings": {"MaximumTransfers": "1"}}

    def test_maximum_transfers_of_the_server(self):
        self.home.sparse("big.bin", 256 * MiB)
        self.home.write("small.bin", b"small")
        self.start()
        a, a_data = self.start_unread_download()
        self.assertTrue(self.daemon.wait_for_line('Connected, sending file "big.bin"'))
        b = self.home.client()
        port = b.pasv()
        self.assertEqual(b.command("RETR small.bin"), "421 Too many file transfers in progress, please try later.")
        self.assertTrue(refused_port(port))
        port = b.pasv()
        self.assertEqual(b.command("STOR new.bin"), "421 Too many file transfers in progress, please try later.")
        self.assertTrue(refused_port(port))
        self.assertFalse(os.path.exists(self.home.path("new.bin")))
        a_data.close()
        self.assertEqual(a.reply(), FAILED + "\r\n")
        self.assertEqual(b.transfer("RETR small.bin")[1:], (b"small", COMPLETE))


class SpeedLimit(TransferTestCase):
    def test_static_limit_paces_a_download(self):
        data = payload(2 * MiB)
        self.home.write("two.bin", data)
        self.home.user("slow", speed_limit={"Enabled": "Static", "SendingSpeed": "100", "ReceivingSpeed": ""})
        self.start()
        c = self.home.client("slow")
        started = time.monotonic()
        first, body, final = c.transfer("RETR two.bin")
        elapsed = time.monotonic() - started
        self.assertEqual((body == data, final), (True, COMPLETE))
        rate = len(data) / KiB / elapsed
        self.assertTrue(80 <= rate <= 120, "%.1f KiB/s" % rate)


class LargeFile(TransferTestCase):
    def test_five_gib_sparse_file_is_sent_whole(self):
        size = 5 * GiB
        if os.environ.get("TOLVANE_SKIP_LARGE"):
            self.skipTest("TOLVANE_SKIP_LARGE is set")
        if shutil.disk_usage(self.home.root).free < 256 * MiB:
            self.skipTest("too little room on the temporary disk")
        marks = [(0, b"head"), (4 * GiB - 3, b"across 4 GiB"), (size - 600, b"late mark"), (size - 5, b"tail!")]
        path = self.home.sparse("huge.bin", size, marks)
        if os.stat(path).st_blocks * 512 > 64 * MiB:
            self.skipTest("the temporary file system keeps no sparse files")
        expected = {}
        hasher = threading.Thread(target=lambda: expected.setdefault("digest", sha256_file(path)))
        hasher.start()
        self.start()
        ftp = self.ftp()
        digest, count = hashlib.sha256(), [0]

        def take(block):
            digest.update(block)
            count[0] += len(block)

        self.assertEqual(ftp.retrbinary("RETR huge.bin", take, blocksize=MiB), COMPLETE)
        hasher.join()
        self.assertEqual((count[0], digest.hexdigest()), (size, expected["digest"]))
        # Offsets and sizes beyond 32 bits.
        c = self.home.client()
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("REST %d" % (size - 1000)),
                         "350 Restarting at %d - Call RETR or STOR for tansfer." % (size - 1000))
        self.assertEqual(c.command("RETR huge.bin"), "150 Using open data connection for transfering file huge.bin.")
        tail = read_to_end(data_socket, limit=2000)
        data_socket.close()
        with open(path, "rb") as f:
            f.seek(size - 1000)
            self.assertEqual(tail, f.read())
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        self.assertIn(b"group 5368709120 ", c.transfer("LIST")[1])


class BadInput(TransferTestCase):
    """Clients that misbehave on the data connection; after each case the server is back to its idle
    number of descriptors and threads."""

    def setUp(self):
        super().setUp()
        self.home.write("small.bin", b"small")

    def start(self):
        super().start()
        self.idle = (self.daemon.descriptors(), self.daemon.threads())

    def assert_back_to_idle(self, *sessions):
        for session in sessions:
            self.assertEqual(session.command("QUIT"), "221 Good Bye!")
            session.close()
        self.assertEqual(self.daemon.wait_for_resources(*self.idle), self.idle)
        c = self.home.client()
        self.assertEqual(c.transfer("RETR small.bin")[1:], (b"small", COMPLETE))
        self.assertEqual(c.command("QUIT"), "221 Good Bye!")
        c.close()
        self.assertEqual(self.daemon.wait_for_resources(*self.idle), self.idle)

    def test_a_passive_connection_without_a_command(self):
        self.start()
        c = self.home.client()
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("QUIT"), "221 Good Bye!")
        self.assertTrue(c.closed())
        self.assertEqual(read_to_end(data_socket), b"")
        data_socket.close()
        # Without QUIT: the client just goes away.
        c = self.home.client()
        data_socket = connect_data(c.pasv())
        c.close()
        self.assertEqual(read_to_end(data_socket), b"")
        data_socket.close()
        # A listener nobody connected to ends with its session too.
        c = self.home.client()
        port = c.pasv()
        self.assertEqual(c.command("QUIT"), "221 Good Bye!")
        self.assertTrue(refused_port(port))
        self.assert_back_to_idle()

    def test_an_upload_cut_short_keeps_the_bytes_received(self):
        data = payload(3 * MiB)
        self.start()
        c = self.home.client()
        self.assertEqual(c.transfer("STOR cut.bin", upload=data)[2], COMPLETE)
        self.assertEqual(sha256(self.home.read("cut.bin")), sha256(data))
        # A reset instead of an orderly close.
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("STOR reset.bin"), "150 Binary data connection for file reset.bin.")
        data_socket.sendall(data)
        data_socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        data_socket.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        stored = self.home.read("reset.bin")
        self.assertEqual(stored, data[:len(stored)])
        self.assert_back_to_idle(c)

    def test_a_download_nobody_reads_ends_with_its_session(self):
        size = 256 * MiB
        self.home.sparse("big.bin", size)
        self.start()
        for ending in ("QUIT", "close"):
            with self.subTest(ending=ending):
                c, data_socket = self.start_unread_download()
                if ending == "QUIT":
                    c.send("QUIT\r\n")
                    replies = []
                    try:
                        while True:
                            replies.append(c.read_line())
                    except (EOFError, ConnectionResetError):
                        pass
                    self.assertIn("221 Good Bye!\r\n", replies)
                    self.assertLessEqual(set(replies), {"221 Good Bye!\r\n", FAILED + "\r\n"})
                else:
                    c.close()
                # The server lets go of the transfer while its data connection is still unread.
                self.assertEqual(self.daemon.wait_for_resources(*self.idle), self.idle)
                self.assertLess(len(read_to_end(data_socket)), size)
        self.assert_back_to_idle()

    def test_a_file_deleted_during_its_download(self):
        data = os.urandom(MiB) * 32
        path = self.home.write("doomed.bin", data)
        self.start()
        c = self.home.client()
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("RETR doomed.bin"),
                         "150 Using open data connection for transfering file doomed.bin.")
        head = data_socket.recv(MiB)
        os.remove(path)
        received = head + read_to_end(data_socket)
        data_socket.close()
        final = c.reply()[:-2]
        if final == COMPLETE:
            self.assertEqual(sha256(received), sha256(data))
        else:
            self.assertEqual(final, FAILED)
            self.assertEqual(received, data[:len(received)])
        c.pasv()
        self.assertEqual(c.command("RETR doomed.bin"), "550 File not found.")
        self.assert_back_to_idle(c)

    def test_a_file_is_opened_by_its_command(self):
        path = self.home.write("gone.bin", b"gone")
        os.makedirs(self.home.path("folder"))
        self.start()
        c = self.home.client()
        # Removed between the 150 and the data connection: what the command opened is sent.
        port = c.pasv()
        self.assertEqual(c.command("RETR gone.bin"), "150 Using open data connection for transfering file gone.bin.")
        os.remove(path)
        data_socket = connect_data(port)
        self.assertEqual(read_to_end(data_socket), b"gone")
        data_socket.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        # An upload onto a directory cannot open its file either.
        port = c.pasv()
        reply = c.command("STOR folder")
        if reply.startswith("150"):
            data_socket = connect_data(port)
            try:
                data_socket.sendall(b"x")
            except OSError:
                pass
            data_socket.close()
            self.assertEqual(c.reply(), DISK_FULL + "\r\n")
        else:
            self.assertRegex(reply, r"^5\d\d ")
        self.assertTrue(os.path.isdir(self.home.path("folder")))
        self.assert_back_to_idle(c)

    def test_a_full_disk_ends_the_upload_with_the_disk_error(self):
        disk = os.path.join(self.home.home, "disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk], capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a small file system: %s" % mounted.stderr.decode(errors="replace"))
        self.addCleanup(subprocess.run, ["umount", "-l", disk])
        self.home.user("disk", root=disk + "/")
        self.start()
        data = payload(4 * MiB)
        c = self.home.client("disk")
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("STOR big.bin"), "150 Binary data connection for file big.bin.")
        try:
            data_socket.sendall(data)
        except OSError:
            pass
        data_socket.close()
        self.assertEqual(c.reply(), DISK_FULL + "\r\n")
        self.assertTrue(self.daemon.wait_for_line(' Closed, sending file "big.bin" failed...'))
        with open(os.path.join(disk, "big.bin"), "rb") as f:
            stored = f.read()
        self.assertLessEqual(len(stored), MiB)
        self.assertEqual(stored, data[:len(stored)])
        self.assertEqual(c.command("DELE big.bin"), "250 Delete command successfull.")
        self.assertEqual(c.transfer("STOR small.bin", upload=b"fits")[2], COMPLETE)
        with open(os.path.join(disk, "small.bin"), "rb") as f:
            self.assertEqual(f.read(), b"fits")
        self.assert_back_to_idle(c)


if __name__ == "__main__":
    unittest.main()
