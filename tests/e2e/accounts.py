"""A server home with the accounts the login and path tests need."""
import os

from tolvane import (Daemon, RawClient, free_port, group_file, prepare_home, user_file, write_account, write_ip_home,
                     write_settings)

FULL = "RWDECLMrcI"


class AccountHome:
    def __init__(self, test):
        self.home = test.make_home()
        self.port = free_port()
        self.ip_home = prepare_home(self.home, self.port)
        self.files = os.path.join(self.home, "files")
        self.outside = os.path.join(self.home, "outside.txt")
        with open(self.outside, "w") as f:
            f.write("planted outside every home\n")
        self.alice_root = self.folder("alice", "pub", "priv", "docs-target")
        for name in ("a.txt", "pub/p.txt", "priv/secret.txt"):
            with open(os.path.join(self.alice_root, name), "w") as f:
                f.write(name)
        os.symlink(os.path.join(self.alice_root, "docs-target"), os.path.join(self.alice_root, "docs.lnk"))
        self.user("alice", "Secret", self.alice_root, [self.alice_root + "," + FULL, self.alice_root + "priv/,d"],
                  misc={"ShowRelativePath": "TRUE"})
        self.full_root = self.folder("full", "sub")
        with open(os.path.join(self.full_root, "f.txt"), "w") as f:
            f.write("f")
        self.user("full", "pw", self.full_root, [self.full_root + "," + FULL])
        self.reader_root = self.folder("reader", "sub")
        with open(os.path.join(self.reader_root, "r.txt"), "w") as f:
            f.write("r")
        self.user("reader", "pw", self.reader_root, [self.reader_root + ",RLI"], misc={"ShowRelativePath": "TRUE"})
        self.group_root = self.folder("staff")
        write_account(group_file(self.home, self.ip_home, "staff"), root=self.group_root,
                      rules=[self.group_root + "," + FULL], misc={"ShowRelativePath": "TRUE"})
        write_account(user_file(self.home, self.ip_home, "bob", group="staff"), password="bobpw")
        self.user("anonymous", "", self.folder("anon"), [os.path.join(self.files, "anon") + "/,RLI"],
                  misc={"ShowRelativePath": "TRUE"})
        self.user("dora", "pw", self.alice_root, [], misc={"DisableAccount": "TRUE"})
        self.user("multi", "pw", self.alice_root, [], misc={"Allow": "TRUE", "MultipleLogins": "1"})
        self.user("solo", "pw", self.alice_root, [], misc={"MaxUsers": "1"})
        self.user("walled", "pw", self.alice_root, [], ip_rules=["Allow:10.*.*.*", "Deny:127.0.0.*"])
        self.user("homeless", "pw", os.path.join(self.files, "missing") + "/", [])
        message = os.path.join(self.home, "message.txt")
        with open(message, "wb") as f:
            f.write(b"Hello\r\nLast line")
        self.user("greeted", "pw", self.alice_root, [], misc={"LoginMessage": message})
        self.user("x" * 49, "pw", self.alice_root, [])

    def folder(self, *names):
        root = os.path.join(self.files, names[0])
        for sub in names[1:]:
            os.makedirs(os.path.join(root, sub), exist_ok=True)
        os.makedirs(root, exist_ok=True)
        return root + "/"

    def user(self, name, password, root, rules, misc=None, ip_rules=()):
        write_account(user_file(self.home, self.ip_home, name), password=password, root=root, rules=rules,
                      misc=misc, ip_rules=ip_rules)

    def limited_ip_home(self, max_users):
        """A second IP home with a user limit, holding the user "limited"."""
        port = free_port()
        title = "127.0.0.1-%d" % port
        write_ip_home(self.home, title, "127.0.0.1", port, extra="")
        path = os.path.join(self.home, "Database", title + ".FTP_IPHome")
        with open(path) as f:
            text = f.read().replace("MaxUsers=\n", "MaxUsers=%d\n" % max_users)
        with open(path, "w") as f:
            f.write(text)
        write_account(user_file(self.home, title, "limited"), password="pw", root=self.alice_root)
        return port

    def start(self, test):
        daemon = Daemon(self.home)
        test.addCleanup(daemon.stop)
        test.assertTrue(daemon.wait_for_line(" - Server is Online ..."), daemon.output())
        return daemon


class TransferHome:
    """A server home for the data path: the user "u" (password "pw", full rights, relative paths) in
    files/u/; more accounts on request. ip_settings go to the served IP home (max_transfers, ...)."""

    def __init__(self, test, settings=None, **ip_settings):
        self.test = test
        self.home = test.make_home()
        self.port = free_port()
        self.ip_home = prepare_home(self.home, self.port, **ip_settings)
        if settings:
            write_settings(self.home, "FTPServer-Options", settings)
        self.root = self.folder("u")
        self.user("u")
        self.daemon = None

    def folder(self, name):
        root = os.path.join(self.home, "files", name) + "/"
        os.makedirs(root, exist_ok=True)
        return root

    def user(self, name, root=None, letters=FULL, relative=True, misc=None, rules=(), **sections):
        """An account on root with the given letters; rules add (folder below root, letters) pairs."""
        root = root or self.root
        misc = dict(misc or {})
        if relative:
            misc.setdefault("ShowRelativePath", "TRUE")
        write_account(user_file(self.home, self.ip_home, name), password="pw", root=root,
                      rules=[root + "," + letters] + [root + folder + "," + more for folder, more in rules],
                      misc=misc, **sections)

    def path(self, name):
        return os.path.join(self.root, name)

    def write(self, name, data):
        """A file under the root of "u"; returns its path."""
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def sparse(self, name, size, marks=()):
        """A sparse file of the given size with (offset, bytes) marks written into it."""
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.truncate(size)
            for offset, data in marks:
                f.seek(offset)
                f.write(data)
        return path

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def start(self):
        self.daemon = Daemon(self.home)
        self.test.addCleanup(self.stop_cleanly)
        self.test.assertTrue(self.daemon.wait_for_line(" - Server is Online ..."), self.daemon.output())
        return self.daemon

    def stop_cleanly(self):
        # A sanitizer that found something ends the process with another status.
        self.test.assertEqual(self.daemon.stop(), 0, "tolvaned exit status")

    def client(self, user="u", password="pw", timeout=10.0):
        """A logged-in raw control connection."""
        client = RawClient(self.port, timeout=timeout)
        self.test.addCleanup(client.close)
        reply = client.login(user, password)
        self.test.assertEqual(reply, '230 User "%s" logged in.' % user)
        return client
