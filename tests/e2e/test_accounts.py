"""The account commands of tolvaned: accounts they write serve logins with exactly their rights."""
import os
import subprocess
import unittest

from tolvane import TOLVANED, Daemon, HomeTestCase, free_port, write_ip_home

PASSWORD = "Sesame-42"


class AccountCommands(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.home = self.make_home()
        # The default home stays off so that no test binds port 21.
        write_ip_home(self.home, "[Full Machine]", "All IP's", 21, disabled=1)
        self.port = free_port()
        self.title = "127.0.0.1-%d" % self.port
        self.files = os.path.join(self.home, "files")
        os.makedirs(os.path.join(self.files, "up"))
        with open(os.path.join(self.files, "hello.txt"), "w") as f:
            f.write("hello\n")

    def run_command(self, *args, stdin=None):
        return subprocess.run([TOLVANED, "--home", self.home, *args], input=stdin, capture_output=True, text=True,
                              timeout=10)

    def ok(self, *args, stdin=None):
        result = self.run_command(*args, stdin=stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def fails(self, code, *args, stdin=None):
        before = self.snapshot()
        result = self.run_command(*args, stdin=stdin)
        self.assertEqual(result.returncode, code, (args, result.stdout, result.stderr))
        self.assertTrue(result.stderr.startswith("tolvaned: "), result.stderr)
        self.assertEqual(self.snapshot(), before, "a failed command changed the database")
        return result.stderr

    def snapshot(self):
        database = os.path.join(self.home, "Database")
        state = {}
        for folder, _, names in os.walk(database):
            state[folder] = None
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    state[os.path.join(folder, name)] = f.read()
        return state

    def user_file(self, name):
        return os.path.join(self.home, "Database", self.title, "Users", name + ".FTP_User")

    def add_alice(self):
        self.ok("iphome", "add", "127.0.0.1", str(self.port))
        self.ok("user", "add", "alice", "--iphome", self.title, "--password-stdin", "--root", self.files,
                "--rule", self.files + ":RLI", "--rule", os.path.join(self.files, "up") + ":RWLI",
                "--relative-paths", stdin=PASSWORD + "\n")

    def start(self):
        daemon = Daemon(self.home)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(" - Server is Online ..."), daemon.output())
        return daemon

    def curl(self, user, password, path, *args):
        url = "ftp://%s:%s@127.0.0.1:%d%s" % (user, password, self.port, path)
        return subprocess.run(["curl", "-sS", "--max-time", "10", *args, url], capture_output=True, text=True,
                              timeout=20)

    def upload(self, user, password, path):
        source = os.path.join(self.home, "upload.txt")
        with open(source, "w") as f:
            f.write("uploaded\n")
        return self.curl(user, password, path, "-T", source)

    def test_created_account_logs_in_with_its_rights(self):
        self.add_alice()
        self.start()
        listing = self.curl("alice", PASSWORD, "/")
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertIn("hello.txt", listing.stdout)
        self.assertIn("up", listing.stdout)
        allowed = self.upload("alice", PASSWORD, "/up/")
        self.assertEqual(allowed.returncode, 0, allowed.stderr)
        self.assertTrue(os.path.isfile(os.path.join(self.files, "up", "upload.txt")))
        refused = self.upload("alice", PASSWORD, "/")
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn("550", refused.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.files, "upload.txt")))
        self.assertNotEqual(self.curl("alice", "wrong", "/").returncode, 0)

    def test_rename_set_password_and_remove(self):
        self.add_alice()
        self.start()
        self.ok("user", "rename", "alice", "carol", "--iphome", self.title)
        self.assertNotEqual(self.curl("alice", PASSWORD, "/").returncode, 0)
        self.assertEqual(self.curl("carol", PASSWORD, "/").returncode, 0)
        self.ok("user", "set", "carol", "--iphome", self.title, "--password-stdin", stdin="New-pass\n")
        self.assertNotEqual(self.curl("carol", PASSWORD, "/").returncode, 0)
        self.assertEqual(self.curl("carol", "New-pass", "/").returncode, 0)
        self.ok("user", "remove", "carol", "--iphome", self.title)
        self.assertFalse(os.path.exists(self.user_file("carol")))
        self.assertNotEqual(self.curl("carol", "New-pass", "/").returncode, 0)

    def test_set_keeps_what_it_is_not_told_to_change(self):
        self.add_alice()
        self.ok("user", "set", "alice", "--iphome", self.title, "--ip-rule", "Deny:10.*.*.*", "--max-users", "3",
                "--timeout-minutes", "5", "--ratio", "files-session:1:2:3", "--log", "%USER",
                "--log-content", "commands,system", "--speed", "static:10:20:30.5",
                "--speed-rule", "Monday-8:00-17:30-1,2,3")
        with open(self.user_file("alice"), "rb") as f:
            before = f.read()
        self.ok("user", "set", "alice", "--iphome", self.title)
        with open(self.user_file("alice"), "rb") as f:
            self.assertEqual(f.read(), before)
        text = before.decode()
        for line in ("Password=" + PASSWORD, "AccessingRules2=%s/up/,RWLI" % self.files, "AccessingRules3=ERROR",
                     "IPAccessRule0=Deny:10.*.*.*", "IPAccessRule1=ERROR", "MaxUsers=3", "Timeout=300",
                     "RatioEnabled=TRUE", "RatioType=Files per Session", "Credit=3", "FilenameMask=%USER",
                     "LogFTPCommands=TRUE", "LogFTPReplies=FALSE", "ListingSpeed=30.5", "Enabled=Static",
                     "DynamicSpeedLimitRule0=Monday-8:00-17:30-1,2,3", "ShowRelativePath=TRUE"):
            self.assertIn(line + "\n", text)
        shown = self.ok("user", "show", "alice", "--iphome", self.title)
        self.assertIn("password:          set", shown)
        self.assertNotIn(PASSWORD, shown)

    def test_groups_and_iphomes(self):
        self.add_alice()
        self.ok("group", "add", "staff", "--iphome", self.title, "--root", self.files, "--rule", self.files + ":RLI")
        self.ok("user", "add", "bob", "--iphome", self.title, "--group", "staff", "--password-stdin", stdin="b\n")
        self.assertEqual(self.ok("user", "list", "--iphome", self.title), "alice\t-\nbob\tstaff\n")
        self.assertEqual(self.ok("group", "list", "--iphome", self.title), "staff\t1 members\n")
        self.assertIn("members:           bob", self.ok("group", "show", "staff", "--iphome", self.title))
        self.fails(1, "user", "add", "bob", "--iphome", self.title, "--root", self.files)
        self.ok("group", "remove", "staff", "--iphome", self.title)
        self.assertEqual(self.ok("user", "list", "--iphome", self.title), "alice\t-\n")
        self.assertIn(self.title, self.ok("iphome", "list"))
        self.assertIn("port:              %d" % self.port, self.ok("iphome", "show", self.title))
        self.fails(1, "iphome", "add", "127.0.0.1", str(self.port))
        self.fails(1, "iphome", "remove", "[Full Machine]")
        self.ok("iphome", "remove", self.title)
        self.assertFalse(os.path.exists(os.path.join(self.home, "Database", self.title)))
        self.assertNotIn(self.title, self.ok("iphome", "list"))

    def test_bad_input_changes_nothing(self):
        self.add_alice()
        at = ("--iphome", self.title)
        for name in ("a/b", "..", ".", "x" * 300, "alice", ""):
            self.fails(1, "user", "add", name, *at, "--root", self.files)
        for name in ("a/b", "..", "x" * 300, ""):
            self.fails(1, "group", "add", name, *at)
        self.fails(1, "user", "rename", "alice", "../evil", *at)
        self.fails(1, "user", "rename", "alice", "x" * 300, *at)
        self.fails(1, "user", "add", "dave", *at, "--root", os.path.join(self.home, "missing"))
        self.fails(1, "user", "set", "alice", *at, "--root", os.path.join(self.home, "missing"))
        self.fails(1, "user", "remove", "nobody", *at)
        self.fails(1, "user", "list", "--iphome", "10.0.0.1-21")
        self.fails(2, "user", "add", "dave", *at)
        self.fails(2, "user", "add", "dave", *at, "--root", "relative/dir")
        self.fails(2, "user", "add", "dave", *at, "--root", self.files, "--rule", self.files + ":RWX")
        self.fails(2, "user", "add", "dave", *at, "--root", self.files, "--ip-rule", "Maybe:1.2.3.4")
        self.fails(2, "user", "add", "dave", *at, "--root", self.files, "--ip-rule", "Allow:1.2.3")
        self.fails(2, "user", "set", "alice", *at, "--ratio", "bytes-session:1:x:3")
        self.fails(2, "user", "set", "alice", *at, "--speed", "fast")
        self.fails(2, "user", "set", "alice", *at, "--login-message", "a\nb")
        self.fails(2, "user", "add", "dave", *at, "--password", "plain")
        self.fails(1, "user", "add", "dave", *at, "--root", self.files, "--password-stdin", stdin="")
        # A new user needs a password, or an explicit --no-password; one the file cannot keep is refused.
        self.fails(2, "user", "add", "dave", *at, "--root", self.files)
        self.fails(2, "user", "add", "dave", *at, "--root", self.files, "--password-stdin", "--no-password", stdin="p\n")
        for password in ("\n", " padded\n", "padded\t\n"):
            self.fails(1, "user", "add", "dave", *at, "--root", self.files, "--password-stdin", stdin=password)
            self.fails(1, "user", "set", "alice", *at, "--password-stdin", stdin=password)
        # Names with control characters would forge lines of "user list".
        for name in ("eve\nmallory\t-", "tab\tname", "esc\x1b[2J"):
            self.fails(1, "user", "add", name, *at, "--root", self.files, "--no-password")
            self.fails(1, "user", "rename", "alice", name, *at)
        self.fails(2, "iphome", "add", "127.0.0.300", "21")
        self.fails(2, "iphome", "add", "127.0.0.1", "70000")
        self.fails(2, "user", "frobnicate")
        self.fails(2, "user")
        self.assertFalse(os.path.exists(self.user_file("dave")))

    def test_concurrent_sets_keep_each_others_changes(self):
        self.add_alice()
        at = ("--iphome", self.title)
        for round in range(1, 9):
            runs = [subprocess.Popen([TOLVANED, "--home", self.home, "user", "set", "alice", *at, *args],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    for args in (("--max-users", str(round)), ("--timeout-minutes", str(round)),
                                 ("--multiple-logins", str(round)))]
            for run in runs:
                self.assertEqual(run.wait(10), 0, run.stderr.read())
                run.stderr.close()
            with open(self.user_file("alice")) as f:
                text = f.read()
            for line in ("MaxUsers=%d" % round, "Timeout=%d" % (round * 60), "MultipleLogins=%d" % round):
                self.assertIn(line + "\n", text, "round %d" % round)
        self.ok("user", "add", "nopass", *at, "--root", self.files, "--no-password")
        with open(self.user_file("nopass")) as f:
            self.assertIn("Password=\n", f.read())

    def test_help_at_every_level(self):
        for args in (("--help",), ("iphome", "--help"), ("user", "--help"), ("group", "--help"),
                     ("iphome", "add", "--help"), ("user", "add", "--help"), ("user", "set", "--help"),
                     ("group", "remove", "--help")):
            result = self.run_command(*args)
            self.assertEqual(result.returncode, 0, args)
            self.assertIn("Usage: tolvaned", result.stdout)


if __name__ == "__main__":
    unittest.main()
