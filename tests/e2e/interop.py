"""Real FTP clients against tolvaned: a served tree, local working folders, tree comparison and a probe of
which commands the server answers, so that a client whose needs the server does not meet yet is skipped
with the missing command named."""
import calendar
import os
import random
import shutil
import subprocess
import tempfile
import time
import unittest

from accounts import TransferHome
from tolvane import HomeTestCase, RawClient, tree_digest

os.environ["TZ"] = "UTC"  # the server and every client read listing times in the same zone
time.tzset()

USER, PASSWORD = "u", "pw"
UNSUPPORTED = "500 Command not supported."

# Folders of the tree; files go in all of them but the empty one.
FOLDERS = ["plain", "plain/a", "plain/a/b", "with space", "with space/inner dir", "café", "café/été", "日本",
           "日本/東京", "-dash", "-dash/-inner"]
EMPTY = "empty"
NAMES = ["f%03d.txt", "with space %03d.txt", "é%03d.bin", "日本%03d.dat", "-%03d.txt"]
# A time with seconds, for the clients that copy file times by MDTM.
BIG_TIME = calendar.timegm((2021, 5, 3, 4, 5, 37))
# The trees are smaller under a sanitizer, where every transfer costs many times more.
TREE_FILES = 60 if os.environ.get("TOLVANE_SANITIZER") else 300


def now_minute():
    return int(time.time()) // 60 * 60


def file_time(index, now):
    """Times a listing can carry exactly: old ones (the listing shows the year, May among them) fall on
    midnight, recent ones (the listing shows the time) on a whole minute within the last four months."""
    if index % 2 == 0:
        return calendar.timegm((2020 + index % 5, 1 + index % 12, 1 + index % 28, 0, 0, 0))
    return now - (index % 120) * 86400 - (index % 60) * 60 - 3600


def file_data(index):
    """Mostly small files; every 50th is a few hundred KiB so that it takes many reads."""
    size = 300 * 1024 + index if index % 50 == 7 else random.Random(index).randrange(0, 4096)
    return random.Random(-index).randbytes(size)


def build_tree(root, count=TREE_FILES):
    """The mirror tree under root: count files spread over nested folders, and one empty folder."""
    now = now_minute()
    os.makedirs(os.path.join(root, EMPTY))
    for folder in FOLDERS:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    for index in range(count):
        folder = FOLDERS[index % len(FOLDERS)]
        path = os.path.join(root, folder, NAMES[index % len(NAMES)] % index)
        with open(path, "wb") as f:
            f.write(file_data(index))
        stamp = file_time(index, now)
        os.utime(path, (stamp, stamp))


def tree_stats(root, field):
    """Relative path -> field(os.stat) of each file under root."""
    stats = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            stats[os.path.relpath(path, root)] = field(os.stat(path))
    return stats


def whole_seconds(stat):
    return int(stat.st_mtime)


def mode_bits(stat):
    return stat.st_mode & 0o7777


def differences(expected, actual):
    """A short account of where two {path: value} maps differ; empty when they are the same."""
    missing = sorted(set(expected) - set(actual))
    extra = sorted(set(actual) - set(expected))
    changed = sorted(path for path in set(expected) & set(actual) if expected[path] != actual[path])
    if not (missing or extra or changed):
        return ""
    return "missing %d %s, extra %d %s, different %d %s" % (len(missing), missing[:5], len(extra), extra[:5],
                                                             len(changed), changed[:5])


class ServerAbilities:
    """What the running server answers, learnt on one raw session in a folder holding a file from May 2020."""

    def __init__(self, port, probe_folder):
        client = RawClient(port, timeout=10.0)
        try:
            client.login(USER, PASSWORD)
            self.missing = set()
            for verb, line in (("SIZE", "SIZE probe/may.txt"), ("MDTM", "MDTM probe/may.txt"),
                               ("MFMT", "MFMT 20200517000000 probe/may.txt")):
                if client.command(line).startswith(UNSUPPORTED):
                    self.missing.add(verb)
            for verb in ("NLST", "MLSD"):
                first, _, _ = client.transfer(verb + " probe")
                if first == UNSUPPORTED:
                    self.missing.add(verb)
            if self.listing(client, "NLST probe/*.txt") != "probe/may.txt\r\n":
                self.missing.add("NLST with a wildcard")
            if "may.txt" not in self.listing(client, "LIST probe"):
                self.missing.add("LIST of a named folder")
            client.command("CWD probe")
            if " May 17  2020 may.txt" not in self.listing(client, "LIST"):
                self.missing.add("listing dates with May and the year")
            client.command("CWD /")
            if not client.command("MKD probe").startswith("550 "):
                self.missing.add("550 to MKD of an existing folder")
            client.command("QUIT")
        finally:
            client.close()
        shutil.rmtree(probe_folder)

    @staticmethod
    def listing(client, command):
        _, body, _ = client.transfer(command)
        return (body or b"").decode("utf-8", "replace")


class InteropCase(HomeTestCase, unittest.TestCase):
    """A server home whose user "u" (password "pw", full rights) has the mirror tree in "tree", and a local
    working folder; clients run with their own empty home folder, so no user configuration is read."""

    def setUp(self):
        self.local = tempfile.mkdtemp(prefix="tolvane-client-")
        self.addCleanup(shutil.rmtree, self.local, True)
        self.server = TransferHome(self)
        self.port = self.server.port
        self.remote = self.server.root
        build_tree(os.path.join(self.remote, "tree"))
        self.big = random.Random(5).randbytes(1 << 20)
        os.utime(self.server.write("big.bin", self.big), (BIG_TIME, BIG_TIME))
        with open(self.local_path("upload.bin"), "wb") as f:
            f.write(random.Random(6).randbytes(1 << 20))
        probe = self.server.write("probe/may.txt", b"may")
        stamp = calendar.timegm((2020, 5, 17, 0, 0, 0))
        os.utime(probe, (stamp, stamp))
        self.server.start()
        self.abilities = ServerAbilities(self.port, os.path.dirname(probe))
        self.env = dict(os.environ, HOME=os.path.join(self.local, ".home"), LC_ALL="C.UTF-8")
        os.makedirs(self.env["HOME"])

    def require(self, *needs):
        """Skips the test while the server lacks any of the named commands or behaviours."""
        lacking = [need for need in needs if need in self.abilities.missing]
        if lacking:
            self.skipTest("the server lacks " + ", ".join(lacking))

    def run_client(self, args, input=None, cwd=None, timeout=120):
        """Runs a client to its end; fails the test, with the client's output, unless it exits 0."""
        result = subprocess.run(args, input=input, cwd=cwd or self.local, env=self.env, capture_output=True,
                                timeout=timeout)
        self.assertEqual(result.returncode, 0, "%s exited %d:\n%s\n%s" % (
            args[0], result.returncode, result.stdout.decode("utf-8", "replace")[-3000:],
            result.stderr.decode("utf-8", "replace")[-3000:]))
        return result.stdout.decode("utf-8", "replace")

    def local_tree(self):
        """A local copy of the served tree, file times included, to upload from."""
        source = self.local_path("source")
        if not os.path.isdir(source):
            shutil.copytree(self.remote_path("tree"), source)
        return source

    def local_path(self, *parts):
        return os.path.join(self.local, *parts)

    def remote_path(self, *parts):
        return os.path.join(self.remote, *parts)

    def assertSameTree(self, expected_root, actual_root, times=False, modes=False):
        """Same folders and same file contents; the same file times and mode bits too when asked."""
        expected_files, expected_folders = tree_digest(expected_root)
        actual_files, actual_folders = tree_digest(actual_root)
        self.assertEqual("", differences(dict.fromkeys(expected_folders), dict.fromkeys(actual_folders)), "folders")
        self.assertEqual("", differences(expected_files, actual_files), "file contents")
        if times:
            self.assertEqual("", differences(tree_stats(expected_root, whole_seconds),
                                             tree_stats(actual_root, whole_seconds)), "file times")
        if modes:
            self.assertEqual("", differences(tree_stats(expected_root, mode_bits),
                                             tree_stats(actual_root, mode_bits)), "file modes")

    def partial_download(self, name, keep):
        """A local file holding the first keep bytes of the served file, changed so that a resumed download
        shows: the result is the local start and the served rest; a repeated download gives the served file.
        Returns the content a resume must produce."""
        with open(self.remote_path(name), "rb") as f:
            served = f.read()
        start = bytes(b ^ 0xFF for b in served[:keep])
        with open(self.local_path(os.path.basename(name)), "wb") as f:
            f.write(start)
        return start + served[keep:]

    def partial_upload(self, local_name, remote_name, keep):
        """The upload resumes from a served file that holds a changed start of the local file; returns the
        content a resumed upload leaves on the server."""
        with open(self.local_path(local_name), "rb") as f:
            data = f.read()
        start = bytes(b ^ 0xFF for b in data[:keep])
        with open(self.remote_path(remote_name), "wb") as f:
            f.write(start)
        return start + data[keep:]

    def assertListsFolder(self, listing, folder):
        """The listing names every entry of the served folder and nothing of its parent."""
        for name in os.listdir(self.remote_path(folder)):
            self.assertIn(name, listing)
        self.assertNotIn("big.bin", listing)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()
