import os
import subprocess
import unittest

from accounts import AccountHome
from tolvane import BANNER, HomeTestCase, RawClient


class Session:
    def __init__(self, test, port, user, password):
        self.client = RawClient(port)
        test.addCleanup(self.client.close)
        self.client.read_exactly(len(BANNER))
        self.client.read_line()
        self.send("USER " + user)
        test.assertTrue(self.send("PASS " + password).startswith("230"))

    def send(self, line):
        self.client.send(line + "\r\n")
        line = reply = self.client.read_line()
        while line[3:4] == "-":
            line = self.client.read_line()
            reply += line
        return reply.rstrip("\r\n")


class Paths(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.accounts = AccountHome(self)
        self.accounts.start(self)

    def session(self, user, password="pw"):
        return Session(self, self.accounts.port, user, password)

    def test_navigation_in_relative_mode(self):
        s = self.session("alice", "Secret")
        self.assertEqual(s.send("CWD pub"), "250 CWD command successfull.")
        self.assertEqual(s.send("PWD"), '257 "/pub/" is current directory.')
        self.assertEqual(s.send("CWD /"), "250 CWD command successfull.")
        self.assertEqual(s.send("PWD"), '257 "/" is current directory.')
        self.assertEqual(s.send("CWD Pub"), "550 Directory not found.")
        self.assertEqual(s.send("CWD priv"), "550 Permission denied.")
        self.assertEqual(s.send("PWD"), '257 "/" is current directory.')
        self.assertEqual(s.send("CWD docs"), "250 CWD command successfull.")
        self.assertEqual(s.send("PWD"), '257 "/docs-target/" is current directory.')
        self.assertEqual(s.send("CDUP"), "250 CWD command successfull.")
        self.assertEqual(s.send("CDUP"), "550 Permission denied.")
        self.assertEqual(s.send("CWD pub/../pub//"), "250 CWD command successfull.")
        self.assertEqual(s.send("CWD .."), "250 CWD command successfull.")
        self.assertEqual(s.send("PWD"), '257 "/" is current directory.')

    def test_navigation_in_full_path_mode(self):
        root = self.accounts.full_root
        s = self.session("full")
        self.assertEqual(s.send("PWD"), '257 "/%s" is current directory.' % root)
        self.assertEqual(s.send("CWD sub"), "250 CWD command successfull.")
        self.assertEqual(s.send("PWD"), '257 "/%ssub/" is current directory.' % root)
        self.assertEqual(s.send("CWD " + root), "250 CWD command successfull.")
        self.assertEqual(s.send("CWD /"), "550 Permission denied.")
        self.assertEqual(s.send("CDUP"), "550 Permission denied.")
        self.assertEqual(s.send("CWD /no/such/dir"), "550 Directory not found.")

    def test_file_commands_and_their_replies(self):
        s = self.session("alice", "Secret")
        self.assertEqual(s.send("MKD new"), '257 Directory "new" has been created.')
        # An existing name answers 550, a name that cannot be made 500.
        self.assertEqual(s.send("MKD new"), '550 Failed to create directory "new"')
        self.assertEqual(s.send("MKD a.txt"), '550 Failed to create directory "a.txt"')
        self.assertEqual(s.send("MKD nowhere/new"), '500 Failed to create directory "nowhere/new"')
        self.assertEqual(s.send("RMD a.txt"), "550 Specified directory not found.")
        self.assertEqual(s.send("DELE new"), "550 Specified file not found.")
        self.assertEqual(s.send("DELE A.TXT"), "550 Specified file not found.")
        self.assertEqual(s.send("RMD pub"), "500 Could not delete directory.")
        self.assertEqual(s.send("RNTO x"), "550 Call RNFR before using this command.")
        self.assertEqual(s.send("RNFR a.txt"), "350 File found, ready for destination.")
        self.assertEqual(s.send("RNFR missing"), "550 No such file or directory found.")
        self.assertEqual(s.send("RNTO b.txt"), "550 Call RNFR before using this command.")
        self.assertEqual(s.send("RNFR a.txt"), "350 File found, ready for destination.")
        self.assertEqual(s.send("RNTO b.txt"), "250 RNTO command succesful.")
        self.assertEqual(s.send("RNTO c.txt"), "550 Call RNFR before using this command.")
        self.assertEqual(s.send("RNFR new"), "350 Directory found, ready for destination.")
        self.assertEqual(s.send("RNTO pub"), "550 Could not rename file or directory.")
        self.assertEqual(s.send("RNTO c.txt"), "550 Call RNFR before using this command.")
        self.assertEqual(s.send("DELE b.txt"), "250 Delete command successfull.")
        self.assertEqual(s.send("RMD new"), "250 RMD command successfull.")
        self.assertEqual(s.send("DELE priv/secret.txt"), "550 Permission denied.")
        self.assertTrue(os.path.exists(os.path.join(self.accounts.alice_root, "priv", "secret.txt")))
        self.assertEqual(sorted(os.listdir(self.accounts.alice_root)), ["docs-target", "docs.lnk", "priv", "pub"])

    def test_letters_gate_every_file_command(self):
        s = self.session("reader")
        for line in ["DELE r.txt", "MKD x", "RMD sub", "RNFR r.txt", "RNFR sub", "RNTO x"]:
            self.assertEqual(s.send(line), "550 Permission denied.", line)
        self.assertTrue(os.path.exists(os.path.join(self.accounts.reader_root, "r.txt")))
        # A grant on upload/ does not reach UPLOAD/: on this file system that is another folder.
        root = self.accounts.folder("cased", "upload", "UPLOAD")
        with open(os.path.join(root, "UPLOAD", "keep.txt"), "w") as f:
            f.write("keep")
        self.accounts.user("cased", "pw", root, [root + ",RLI", root + "upload/,RWDLMI"],
                           misc={"ShowRelativePath": "TRUE"})
        s = self.session("cased")
        self.assertEqual(s.send("MKD upload/made"), '257 Directory "upload/made" has been created.')
        for line in ["MKD UPLOAD/made", "DELE UPLOAD/keep.txt", "MKD Upload/made"]:
            self.assertEqual(s.send(line), "550 Permission denied.", line)
        self.assertEqual(sorted(os.listdir(os.path.join(root, "UPLOAD"))), ["keep.txt"])

    def test_traversal_is_refused_in_both_modes(self):
        outside_before = open(self.accounts.outside).read()
        attempts = ["CWD ..", "CWD ../../etc", "CWD /../..", "DELE ../outside.txt", "DELE ../../outside.txt",
                    "MKD ../x", "MKD ../../x", "RMD ../full", "DELE /../../outside.txt", "DELE sub/../../../outside.txt",
                    "MKD //..//x", "MKD /./../x", "CWD pub/..", "CWD sub/../.."]
        for user, password in (("alice", "Secret"), ("full", "pw")):
            s = self.session(user, password)
            home = self.accounts.alice_root if user == "alice" else self.accounts.full_root
            for line in attempts:
                reply = s.send(line)
                if reply.startswith("250") or reply.startswith("257"):
                    self.assertEqual(s.send("PWD")[:6 + (0 if user == "alice" else len(home))],
                                     ('257 "/' + ("" if user == "alice" else home)))
                    s.send("CWD " + ("/" if user == "alice" else home))
            self.assertEqual(s.send("RNFR " + ("a.txt" if user == "alice" else "f.txt")).split()[0], "350")
            self.assertEqual(s.send("RNTO ../../tmp/escaped"), "550 Permission denied.")
        self.assertEqual(open(self.accounts.outside).read(), outside_before)
        self.assertFalse(os.path.exists(os.path.join(self.accounts.home, "x")))
        self.assertFalse(os.path.exists(os.path.join(self.accounts.files, "x")))
        self.assertFalse(os.path.exists("/tmp/escaped"))
        self.assertTrue(os.path.isdir(self.accounts.full_root))

    def test_hostile_names_get_a_clear_refusal(self):
        s = self.session("alice", "Secret")
        for verb in ["CWD", "DELE", "MKD", "RMD", "RNFR", "RNTO"]:
            for name in ["", "bad\x00name", "bad\rname", "x" * 10000, "...", "....", "./.", "a/..", "/"]:
                reply = s.send("%s %s" % (verb, name))
                self.assertRegex(reply, r"^[25]\d\d ", (verb, name))
        self.assertEqual(s.send("NOOP"), "200 Command okay.")
        # A CR ends the argument: "MKD bad\rname" made "bad" and "RMD bad\rname" removed it again.
        self.assertEqual(sorted(os.listdir(self.accounts.alice_root)), ["a.txt", "docs-target", "docs.lnk", "priv", "pub"])

    def test_lftp_navigates_and_makes_a_directory(self):
        script = "set net:max-retries 1; set net:timeout 5; cd pub; pwd; mkdir made; cd made; pwd; cd /; rmdir pub/made"
        result = subprocess.run(["lftp", "-u", "alice,Secret", "-p", str(self.accounts.port), "-e", script + "; quit",
                                 "127.0.0.1"], capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("/pub/made", result.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.accounts.alice_root, "pub", "made")))


if __name__ == "__main__":
    unittest.main()
