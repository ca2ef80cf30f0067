"""Clients that try to reach what their rules do not grant, in both path modes: traversal,
absolute and doubled-slash paths, links planted inside a home, data-connection tricks, password
guessing and overlong arguments."""
import os
import socket
import sys
import time
import unittest

from robust import HEAVY  # noqa: F401 - also sets the import path
from accounts import FULL
from tolvane import (BANNER, Daemon, HomeTestCase, RawClient, connect_data, free_port, prepare_home, read_to_end,
                     user_file, write_account, write_settings)

COMPLETE = "226 Transfer complete."
SECRET = b"outside every home\n"


class HostileHome:
    """Two accounts on the same kind of root, one with relative paths, one with full paths. Each
    root holds links that lead out of it and links that stay inside it."""

    def __init__(self, test):
        self.home = test.make_home()
        self.port = free_port()
        self.ip_home = prepare_home(self.home, self.port)
        self.outside = os.path.join(self.home, "outside") + "/"
        os.makedirs(self.outside)
        with open(self.outside + "secret.txt", "wb") as f:
            f.write(SECRET)
        self.roots = {}
        for user, relative in (("rel", True), ("abs", False)):
            root = os.path.join(self.home, "files", user) + "/"
            os.makedirs(root + "sub")
            with open(root + "sub/in.txt", "wb") as f:
                f.write(b"inside")
            os.symlink(self.outside, root + "escape")
            os.symlink(self.outside + "secret.txt", root + "passwd")
            os.symlink(self.outside + "created.txt", root + "dangling")
            os.symlink(root + "sub", root + "inner")
            os.symlink(root + "sub/in.txt", root + "innerfile")
            write_account(user_file(self.home, self.ip_home, user), password="pw", root=root,
                          rules=[root + "," + FULL], misc={"ShowRelativePath": "TRUE"} if relative else {})
            self.roots[user] = root

    def outside_state(self):
        with open(self.outside + "secret.txt", "rb") as f:
            return sorted(os.listdir(self.outside)), f.read()


class HostileTestCase(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.hostile = HostileHome(self)
        self.daemon = Daemon(self.hostile.home)
        self.addCleanup(self.stop_cleanly)
        self.assertTrue(self.daemon.wait_for_line(" - Server is Online ..."), self.daemon.output())
        self.idle = (self.daemon.descriptors(), self.daemon.threads())

    def stop_cleanly(self):
        self.assertEqual(self.daemon.stop(), 0, "tolvaned exit status")

    def client(self, user):
        client = RawClient(self.hostile.port, timeout=10)
        self.addCleanup(client.close)
        self.assertEqual(client.login(user, "pw"), '230 User "%s" logged in.' % user)
        return client


class Paths(HostileTestCase):
    def escapes(self, user):
        """Names of the outside folder as each mode could spell them."""
        outside = self.hostile.outside
        return ["../../outside/", "/../../outside/", "//..//..//outside//", "sub/../../../outside/",
                "./sub/./../../../outside/", outside, "/" + outside, outside.replace("/", "//"), "escape/",
                "escape//", "inner/../escape/", "/escape/", "inner/../../" + user + "/escape/"]

    def test_no_command_reaches_outside_the_rules_in_either_mode(self):
        before = self.hostile.outside_state()
        for user in ("rel", "abs"):
            c = self.client(user)
            home_pwd = c.command("PWD")
            for folder in self.escapes(user):
                with self.subTest(user=user, folder=folder):
                    for verb in ("RETR", "APPE"):
                        first = c.transfer(verb + " " + folder + "secret.txt", upload=b"x" if verb == "APPE" else None)[0]
                        self.assertRegex(first, r"^5\d\d ", verb)
                    # A relative-mode path that merely looks absolute may start an upload inside the home,
                    # where no such folder exists to take it.
                    self.assertNotEqual(c.transfer("STOR " + folder + "new.txt", upload=b"x")[2], COMPLETE)
                    for line in ("CWD " + folder, "MKD " + folder + "made", "DELE " + folder + "secret.txt",
                                 "RNFR " + folder + "secret.txt", "RMD " + folder, "SIZE " + folder + "secret.txt",
                                 "MDTM " + folder + "secret.txt", "MFMT 20200101000000 " + folder + "secret.txt",
                                 "MLST " + folder, "MLST " + folder + "secret.txt", "LIST " + folder,
                                 "NLST " + folder + "secret.txt", "MLSD " + folder):
                        self.assertRegex(c.command(line), r"^5\d\d ", line)
                    self.assertEqual(c.command("PWD"), home_pwd)
                    self.assertEqual(c.command("RNFR sub/in.txt"), "350 File found, ready for destination.")
                    self.assertRegex(c.command("RNTO " + folder + "moved.txt"), r"^5\d\d ")
            # Links to files and dangling links are judged where they lead.
            for line in ("RETR passwd", "APPE passwd", "STOR passwd", "STOR dangling", "APPE dangling"):
                with self.subTest(user=user, line=line):
                    self.assertEqual(c.transfer(line, upload=b"" if line[0] != "R" else None)[0],
                                     "550 Permission denied.")
            for line in ("SIZE passwd", "MDTM passwd", "MLST passwd", "MFMT 20200101000000 passwd",
                         "MDTM 20200101000000 passwd"):
                with self.subTest(user=user, line=line):
                    self.assertEqual(c.command(line), "550 Permission denied.")
            self.assertEqual(self.hostile.outside_state(), before)

    def test_links_inside_the_home_keep_working(self):
        for user in ("rel", "abs"):
            with self.subTest(user=user):
                root = self.hostile.roots[user]
                c = self.client(user)
                self.assertEqual(c.transfer("RETR innerfile")[1:], (b"inside", COMPLETE))
                self.assertEqual(c.command("SIZE innerfile"), "213 6")
                self.assertEqual(c.transfer("RETR inner/in.txt")[1:], (b"inside", COMPLETE))
                self.assertEqual(c.transfer("STOR inner/new.txt", upload=b"new")[2], COMPLETE)
                with open(root + "sub/new.txt", "rb") as f:
                    self.assertEqual(f.read(), b"new")
                self.assertEqual(c.command("CWD inner"), "250 CWD command successfull.")
                self.assertEqual(c.transfer("LIST")[2], COMPLETE)
                self.assertEqual(c.command("CDUP"), "250 CWD command successfull.")
                # Deleting a link removes the link, never what it leads to.
                self.assertEqual(c.command("DELE passwd"), "250 Delete command successfull.")
                self.assertFalse(os.path.lexists(root + "passwd"))
        self.assertEqual(self.hostile.outside_state(), (["secret.txt"], SECRET))


class DataConnections(HostileTestCase):
    def test_a_stranger_on_the_passive_port_cannot_feed_an_upload(self):
        c = self.client("rel")
        port = c.pasv()
        try:
            thief = connect_data(port, source="127.0.0.2")
        except OSError as error:
            self.skipTest("no second loopback address: %s" % error)
        self.addCleanup(thief.close)
        try:
            thief.sendall(b"forged" * 1000)
        except OSError:
            pass
        client = connect_data(port)
        self.assertEqual(c.command("STOR up.txt"), "150 Binary data connection for file up.txt.")
        client.sendall(b"genuine")
        client.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        with open(self.hostile.roots["rel"] + "up.txt", "rb") as f:
            self.assertEqual(f.read(), b"genuine")


class Renames(HostileTestCase):
    def ruled_account(self, user):
        """The account with a denied folder, a denied folder one level down and a read-only folder."""
        root = self.hostile.roots[user]
        for folder, name in (("secret", "s.txt"), ("parent/denied", "d.txt"), ("ro", "admin.txt"), ("free", "f.txt")):
            os.makedirs(root + folder, exist_ok=True)
            with open(root + folder + "/" + name, "wb") as f:
                f.write(b"kept")
        write_account(user_file(self.hostile.home, self.hostile.ip_home, user), password="pw", root=root,
                      rules=[root + "," + FULL, root + "secret,d", root + "parent/denied,d", root + "ro,RLI"],
                      misc={"ShowRelativePath": "TRUE"} if user == "rel" else {})
        return root

    def test_a_rename_cannot_carry_a_folder_out_from_under_its_rule(self):
        for user in ("rel", "abs"):
            with self.subTest(user=user):
                root = self.ruled_account(user)
                before = sorted(os.listdir(root))
                c = self.client(user)
                for source, target in (("secret", "opened"), ("parent", "moved"), ("ro", "rw"), ("ro", "sub/ro")):
                    self.assertEqual(c.command("RNFR " + source), "350 Directory found, ready for destination.")
                    self.assertEqual(c.command("RNTO " + target), "550 Permission denied.", source)
                self.assertEqual(sorted(os.listdir(root)), before)
                for line in ("RETR opened/s.txt", "RETR moved/denied/d.txt", "RETR secret/s.txt"):
                    self.assertRegex(c.transfer(line)[0], r"^550 ", line)
                self.assertRegex(c.transfer("STOR ro/new.txt", upload=b"x")[0], r"^550 ")
                self.assertEqual(c.command("DELE ro/admin.txt"), "550 Permission denied.")
                # A folder no rule restricts, and a file, still move.
                self.assertEqual(c.command("RNFR free"), "350 Directory found, ready for destination.")
                self.assertEqual(c.command("RNTO sub/free"), "250 RNTO command succesful.")
                self.assertEqual(c.command("RNFR sub/free/f.txt"), "350 File found, ready for destination.")
                self.assertEqual(c.command("RNTO g.txt"), "250 RNTO command succesful.")
                self.assertTrue(os.path.exists(root + "g.txt"))

    def test_every_rnfr_and_rnto_ends_a_pending_rename(self):
        root = self.hostile.roots["rel"]
        with open(root + "a.txt", "wb") as f:
            f.write(b"a")
        c = self.client("rel")
        for failing in ("RNTO ../x", "RNFR missing", "RNTO escape/x", "RNFR ../../outside/secret.txt"):
            with self.subTest(failing=failing):
                self.assertEqual(c.command("RNFR a.txt"), "350 File found, ready for destination.")
                self.assertRegex(c.command(failing), r"^550 ")
                self.assertEqual(c.command("RNTO b.txt"), "550 Call RNFR before using this command.")
                self.assertEqual(sorted(os.listdir(root)).count("a.txt"), 1)
        self.assertEqual(self.hostile.outside_state(), (["secret.txt"], SECRET))


class SwappedLinks(HostileTestCase):
    """A local user who can write in a home swaps a link in after the command was checked."""

    def swap_for_link(self, path, target):
        os.rename(path, path + ".away")
        os.symlink(target, path)

    def test_what_a_command_checked_is_what_its_transfer_uses(self):
        outside = self.hostile.outside
        for user in ("rel", "abs"):
            with self.subTest(user=user):
                root = self.hostile.roots[user]
                os.makedirs(root + "pub")
                with open(root + "pub/f", "wb") as f:
                    f.write(b"public")
                c = self.client(user)
                # A download: the file is swapped for a link outside between 150 and the connection.
                port = c.pasv()
                self.assertEqual(c.command("RETR pub/f"), "150 Using open data connection for transfering file f.")
                self.swap_for_link(root + "pub/f", outside + "secret.txt")
                data = connect_data(port)
                self.assertEqual(read_to_end(data), b"public")
                data.close()
                self.assertEqual(c.reply(), COMPLETE + "\r\n")
                # An upload: a link to outside is planted under the new name after the 150.
                port = c.pasv()
                self.assertEqual(c.command("STOR pub/new.txt"), "150 Binary data connection for file pub/new.txt.")
                os.symlink(outside + "pwned.txt", root + "pub/new.txt")
                data = connect_data(port)
                try:
                    data.sendall(b"pwned")
                except OSError:
                    pass
                data.close()
                self.assertEqual(c.reply(), "426 Data Connection closed,disk writing error, disk full ?.\r\n")
                # A listing: the working folder is swapped after the 150, then before the command.
                self.assertEqual(c.command("CWD pub"), "250 CWD command successfull.")
                port = c.pasv()
                self.assertEqual(c.command("LIST"), "150 Opening ASCII data connection to bin/ls.")
                self.swap_for_link(root + "pub", outside)
                data = connect_data(port)
                listing = read_to_end(data)
                data.close()
                self.assertEqual(c.reply(), COMPLETE + "\r\n")
                self.assertIn(b" f.away\r\n", listing)
                self.assertNotIn(b"secret", listing)
                c.pasv()
                self.assertEqual(c.command("LIST"), "550 Permission denied.")
                self.assertEqual(self.hostile.outside_state(), (["secret.txt"], SECRET))


class Passwords(HomeTestCase, unittest.TestCase):
    LIMIT = 5

    def setUp(self):
        self.hostile = HostileHome(self)
        write_settings(self.hostile.home, "FailedLogins", {"FirstDelayMs": 20, "LargestDelayMs": 80,
                                                           "Limit": self.LIMIT, "WindowSeconds": 600,
                                                           "BlockSeconds": 3600})
        self.daemon = Daemon(self.hostile.home)
        self.addCleanup(lambda: self.assertEqual(self.daemon.stop(), 0, "tolvaned exit status"))
        self.assertTrue(self.daemon.wait_for_line(" - Server is Online ..."), self.daemon.output())
        self.idle = (self.daemon.descriptors(), self.daemon.threads())

    def attempt(self, user, password, source="127.0.0.1"):
        client = RawClient.__new__(RawClient)
        client.sock = socket.create_connection(("127.0.0.1", self.hostile.port), timeout=10,
                                               source_address=(source, 0))
        client.buffer = b""
        try:
            reply = client.login(user, password)
            # A refused login ends its connection: every guess costs a new one.
            return reply, reply.startswith("530 ") and client.closed()
        finally:
            client.close()

    def test_guessing_from_one_address_is_slowed_then_refused_and_leaves_no_trace(self):
        began = time.time()
        for guess in range(self.LIMIT):
            self.assertEqual(self.attempt("rel", "guess%d" % guess), ("530 Wrong User/Password combination.", True))
        sys.stderr.write("\n%d password guesses, %.1f per second\n" % (self.LIMIT, self.LIMIT / (time.time() - began)))
        # An unknown user is a failure like a wrong password: the same reply, the same count.
        refused = ("530 Wrong User/Password combination.", True)
        for user, password in (("rel", "pw"), ("nobody", "x"), ("rel", "pw")):
            self.assertEqual(self.attempt(user, password), refused)
        self.assertEqual(self.daemon.count("Too many failed logins from 127.0.0.1, refused for 3600 seconds ..."), 1)
        self.assertFalse(any("guess" in line for line in self.daemon.output()))
        try:
            other = self.attempt("rel", "pw", source="127.0.0.2")
        except OSError as error:
            self.skipTest("no second loopback address: %s" % error)
        self.assertEqual(other, ('230 User "rel" logged in.', False))
        self.assertEqual(self.daemon.wait_for_resources(*self.idle), self.idle)


class ControlCharacters(HostileTestCase):
    def test_control_characters_reach_no_log_raw_and_replies_keep_them(self):
        write_account(user_file(self.hostile.home, self.hostile.ip_home, "logged"), password="pw",
                      root=self.hostile.roots["rel"], rules=[self.hostile.roots["rel"] + "," + FULL],
                      logging={"Enabled": "TRUE", "FilenameMask": "%USER", "LogFTPCommands": "TRUE",
                               "LogFTPReplies": "TRUE", "LogSystemMessages": "TRUE"})
        c = self.client("logged")
        # Replies on the wire stay as they were; only log text is escaped.
        self.assertEqual(c.command("TYPE \x1b[2JI"), "200 TYPE has been set to \x1b[2JI")
        self.assertRegex(c.command("\x1b[31mNOOP"), r"^5\d\d ")
        self.assertEqual(c.command("QUIT"), "221 Good Bye!")
        raw = RawClient(self.hostile.port, timeout=10)
        self.addCleanup(raw.close)
        raw.read_exactly(len(BANNER))
        raw.read_line()
        self.assertEqual(raw.command("USER \x1b]0;owned\x07\x1b[2J"), "331 Need password.")
        # The first session has ended and the second one's USER is logged: both are checked below.
        self.assertTrue(self.daemon.wait_for_line("Closed connection to 127.0.0.1 ...", timeout=20))
        self.assertTrue(self.daemon.wait_for_line("USER ^[]0;owned^G^[[2J", timeout=20), self.daemon.output()[-5:])
        with open(os.path.join(self.hostile.home, "Logging", "logged.log"), encoding="latin-1") as f:
            session_log = f.read()
        for text, where in ("\n".join(self.daemon.output()), "terminal"), (session_log, "session log"):
            with self.subTest(where=where):
                self.assertFalse(any(c < " " and c not in "\r\n" or c == "\x7f" for c in text), repr(text[-2000:]))
                self.assertIn("^[[2J", text)
        self.assertIn("TYPE ^[[2JI", session_log)
        self.assertIn("USER ^[]0;owned^G^[[2J", "\n".join(self.daemon.output()))


class OverlongArguments(HostileTestCase):
    # Every verb the server knows; PORT and PASV last, so that no later command opens a transfer.
    VERBS = ["USER", "PASS", "HELP", "SITE", "NOOP", "RNFR", "RNTO", "SYST", "APPE", "MKD", "DELE", "RMD", "REST",
             "CDUP", "PWD", "LIST", "CWD", "RETR", "STOR", "TYPE", "ABOR", "XYZW", "PORT", "PASV"]

    def one_reply_each(self, c, verbs):
        for verb in verbs:
            for argument in ("x" * (4096 - len(verb) - 1), "/" * 2000 + "../" * 600, "\xff" * 3000):
                with self.subTest(verb=verb, size=len(argument)):
                    reply = c.command(verb + " " + argument).split("\r\n")[-1]
                    if reply.startswith("150 "):  # LIST in active mode: the connect to the client fails
                        reply = c.reply()[:-2]
                    self.assertRegex(reply, r"^[2-5]\d\d ")
            with self.subTest(verb=verb, size="over the line limit"):
                c.send(verb + " " + "y" * 5000 + "\r\n")
                self.assertEqual(c.reply(), "500 Command line too long.\r\n")
                c.send(verb + " " + "z" * (1 << 20) + "\r\n")
                self.assertEqual(c.reply(), "500 Command line too long.\r\n")
            self.assertRegex(c.command("NOOP"), r"^(200|530) ")

    def test_every_verb_answers_overlong_arguments_once_before_and_after_login(self):
        raw = RawClient(self.hostile.port, timeout=10)
        self.addCleanup(raw.close)
        raw.read_exactly(len(BANNER))
        raw.read_line()
        self.one_reply_each(raw, self.VERBS)
        for user in ("rel", "abs"):
            root = self.hostile.roots[user]
            entries = sorted(os.listdir(root))
            c = self.client(user)
            self.one_reply_each(c, self.VERBS)
            self.assertEqual(c.command("QUIT " + "q" * 4000), "221 Good Bye!")
            self.assertEqual(sorted(os.listdir(root)), entries)
        # The raw session still open holds its socket, and no thread while it is quiet.
        descriptors, threads = self.daemon.wait_for_resources(self.idle[0] + 1, self.idle[1])
        self.assertEqual(descriptors, self.idle[0] + 1)
        self.assertLessEqual(threads, self.idle[1])


if __name__ == "__main__":
    unittest.main()
