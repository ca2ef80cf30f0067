import calendar
import os
import re
import stat
import subprocess
import time
import unittest

from accounts import TransferHome
from tolvane import HomeTestCase, connect_data, read_to_end

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
SIX_MONTHS = 15778476
COMPLETE = "226 Transfer complete."
OPENING = "150 Opening ASCII data connection to bin/ls."


def stamp(*fields):
    """A local time as seconds since the epoch."""
    return time.mktime(tuple(fields) + (0, 0, -1))


def date(mtime):
    """As ls -l shows it: the time for the last six months, the year for older and future entries."""
    t = time.localtime(mtime)
    recent = time.time() - SIX_MONTHS < mtime <= time.time()
    return "%s %2d %s" % (MONTHS[t.tm_mon - 1], t.tm_mday,
                          "%02d:%02d" % (t.tm_hour, t.tm_min) if recent else " %d" % t.tm_year)


def line(kind, size, mtime, name, path=None):
    mode = stat.filemode(os.stat(path).st_mode)[1:] if path else "rw-r--r--"
    return "%s%s   1 user     group %10d %s %s" % (kind, mode, size, date(mtime), name)


def lines(listing):
    """The lines of a listing, sorted (the order is the file system's); the size of directories is
    whatever the system reports, so it is blanked out."""
    text = listing.decode("latin-1")
    if text:
        assert text.endswith("\r\n"), text[-200:]
    result = []
    for entry in text.split("\r\n")[:-1]:
        if entry.startswith("d"):
            entry = entry[:30] + "<size>" + entry[40:]
        result.append(entry)
    return sorted(result)


class Listing(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.home = TransferHome(self)
        target = os.path.join(self.home.home, "files", "target")
        os.makedirs(target)
        with open(os.path.join(target, "file.txt"), "w") as f:
            f.write("target")
        self.target = target
        self.files = [  # name, size, time
            ("a.txt", 1234, stamp(2024, 1, 5, 9, 7, 0)),
            ("may.txt", 0, stamp(2024, 5, 31, 14, 30, 0)),
            ("with space.txt", 5, stamp(2023, 10, 10, 10, 10, 0)),
            ("a.b.lnk", 3, stamp(2024, 7, 4, 12, 0, 0)),
            (".hidden", 7, stamp(2024, 3, 3, 3, 3, 0)),
        ]
        for name, size, mtime in self.files:
            self.home.write(name, b"x" * size)
        self.home.sparse("big.bin", 5000000000)
        self.files.append(("big.bin", 5000000000, stamp(2023, 12, 24, 23, 59, 0)))
        self.future = time.time() + 400 * 86400
        self.recent = time.time() - 86400
        self.files += [("old-may.txt", 4, stamp(2020, 5, 17, 10, 0, 0)), ("future.txt", 6, self.future),
                       ("recent.sh", 6, self.recent)]
        self.home.write("old-may.txt", b"x" * 4)
        self.home.write("future.txt", b"x" * 6)
        self.home.write("recent.sh", b"x" * 6)
        os.chmod(self.home.path("recent.sh"), 0o710)
        self.home.write("sub/inner.txt", b"inner")
        os.makedirs(self.home.path(".hdir"))
        os.makedirs(self.home.path("empty"))
        self.folders = [("sub", stamp(2024, 2, 29, 0, 5, 0)), (".hdir", stamp(2024, 11, 11, 11, 11, 0)),
                        ("empty", stamp(2022, 8, 1, 23, 0, 0))]
        for name, _, mtime in self.files + [(name, 0, mtime) for name, mtime in self.folders]:
            os.utime(self.home.path(name), (mtime, mtime))
        os.symlink(target, self.home.path("docs.lnk"))
        os.symlink(os.path.join(target, "file.txt"), self.home.path("UP.LNK"))
        self.home.user("full", relative=False)
        self.home.user("hider", misc={"HideHidden": "TRUE"})
        self.home.user("ratio", ratio={"RatioEnabled": "TRUE", "RatioType": "Bytes per Session", "Upload": "1",
                                       "Download": "3", "Credit": "5000"})
        self.home.user("nolist", letters="RWI")
        self.daemon = self.home.start()

    def expected(self, hide_hidden=False):
        entries = [(name, line("-", size, mtime, name, self.home.path(name))) for name, size, mtime in self.files]
        entries += [(name, line("d", 0, mtime, name, self.home.path(name))) for name, mtime in self.folders]
        result = [text[:30] + "<size>" + text[40:] if text.startswith("d") else text
                  for name, text in entries if not (hide_hidden and name.startswith("."))]
        # Links show as empty lines with relative paths.
        return sorted(result + ["", ""])

    def test_exact_lines_in_both_modes(self):
        c = self.home.client()
        for passive in (True, False):
            with self.subTest(passive=passive):
                first, listing, final = c.transfer("LIST", passive)
                self.assertEqual((first, final), (OPENING, COMPLETE))
                self.assertEqual(lines(listing), self.expected())
        shown = listing.decode("latin-1").split("\r\n")
        # Month names of the C locale; the year for entries older than six months and for those in the future.
        self.assertIn("-rw-r--r--   1 user     group       1234 Jan  5  2024 a.txt", shown)
        self.assertIn("-rw-r--r--   1 user     group          0 May 31  2024 may.txt", shown)
        self.assertIn("-rw-r--r--   1 user     group          4 May 17  2020 old-may.txt", shown)
        self.assertIn("-rw-r--r--   1 user     group          6 %s future.txt" % date(self.future), shown)
        self.assertRegex(date(self.future), r"^\w\w\w [ \d]\d  \d{4}$")
        self.assertIn("-rwx--x---   1 user     group          6 %s recent.sh" % date(self.recent), shown)
        self.assertRegex(date(self.recent), r"^\w\w\w [ \d]\d \d\d:\d\d$")
        # Options change nothing; a path lists that folder, or that one file.
        self.assertEqual(lines(c.transfer("LIST -la")[1]), self.expected())
        inner = [line("-", 5, os.stat(self.home.path("sub/inner.txt")).st_mtime, "inner.txt")]
        for command in ("LIST sub", "LIST -l -a sub", "LIST sub/", "LIST /sub", "LIST sub/inner.txt"):
            self.assertEqual(lines(c.transfer(command)[1]), inner, command)
        self.assertEqual(c.transfer("LIST /empty"), (OPENING, b"", COMPLETE))
        self.assertEqual(c.command("CWD sub"), "250 CWD command successfull.")
        self.assertEqual(lines(c.transfer("LIST")[1]), inner)
        self.assertEqual(lines(c.transfer("LIST ..")[1]), self.expected())
        self.assertEqual(c.command("CWD /empty"), "250 CWD command successfull.")
        self.assertEqual(c.transfer("LIST", passive=False), (OPENING, b"", COMPLETE))

    def test_nlst_names_and_the_checks_of_a_listed_path(self):
        self.home.write("-x", b"dash")
        self.home.write("sub/deeper/日本 é.txt", b"utf")
        self.home.write("locked/secret.txt", b"s")
        self.home.write("blind/seen.txt", b"s")
        self.home.user("ruled", rules=[("locked/", "d"), ("blind/", "RWI")])
        c = self.home.client()
        # Shell links are left out in relative mode, as LIST shows them as empty lines.
        shown = sorted([name for name, _, _ in self.files] + [name for name, _ in self.folders] +
                       ["-x", "blind", "locked"])
        for command in ("NLST", "NLST -a", "NLST .", "NLST -l ."):
            first, body, final = c.transfer(command)
            self.assertEqual((first, final), (OPENING, COMPLETE), command)
            self.assertEqual(sorted(body.decode("utf-8").split("\r\n")[:-1]), shown, command)
        for command in ("NLST sub", "NLST sub/", "NLST -a sub"):
            self.assertEqual(sorted(c.transfer(command)[1].split(b"\r\n")), [b"", b"sub/deeper", b"sub/inner.txt"])
        self.assertEqual(c.transfer("NLST sub/deeper/")[1].decode("utf-8"), "sub/deeper/日本 é.txt\r\n")
        self.assertEqual(c.transfer("NLST /sub/inner.txt")[1], b"/sub/inner.txt\r\n")
        # A leading word is an option unless an entry has that name.
        self.assertEqual(c.transfer("NLST -x")[1], b"-x\r\n")
        self.assertEqual(lines(c.transfer("LIST -x")[1]), [line("-", 4, os.stat(self.home.path("-x")).st_mtime, "-x")])
        for command in ("LIST missing", "NLST missing", "LIST sub/missing.txt"):
            self.assertEqual(c.transfer(command)[0], "550 No such file or directory found.", command)
        # A listed folder gets the checks of a CWD to it and needs its own L; a listed file the L of its folder.
        ruled = self.home.client("ruled")
        for command in ("LIST locked", "NLST locked", "LIST locked/secret.txt", "LIST blind", "NLST blind/",
                        "LIST blind/seen.txt", "LIST ..", "NLST ../..", "LIST ../v"):
            with self.subTest(command=command):
                self.assertEqual(ruled.transfer(command)[0], "550 Permission denied.")
        self.assertEqual(ruled.transfer("NLST sub/deeper")[1].decode("utf-8"), "sub/deeper/日本 é.txt\r\n")
        nolist = self.home.client("nolist")
        nolist.pasv()
        self.assertEqual(nolist.command("NLST sub"), "550 Permission denied.")

    def test_names_with_line_breaks_cannot_forge_lines(self):
        os.makedirs(self.home.path("forge"))
        self.home.write("forge/plain.txt", b"p")
        self.home.write("forge/evil\r\n-rwxrwxrwx   1 user     group          1 Jan  1  2020 fake.txt", b"e")
        self.home.write("forge/line\nbreak", b"e")
        c = self.home.client()
        self.assertEqual([entry[54:] for entry in lines(c.transfer("LIST forge")[1])], ["plain.txt"])
        self.assertEqual(c.transfer("NLST forge")[1], b"forge/plain.txt\r\n")
        facts = c.transfer("MLSD forge")[1].decode("latin-1").split("\r\n")
        self.assertEqual(sorted(entry.split("; ", 1)[1] for entry in facts[:-1]), [".", "plain.txt"])

    def test_sizes_times_and_machine_facts(self):
        self.home.user("reader", letters="RLI")
        c = self.home.client()

        def utc(mtime):
            return time.strftime("%Y%m%d%H%M%S", time.gmtime(mtime))

        def facts(name, kind, perm, size=None):
            status = os.stat(self.home.path(name))
            return "type=%s;%smodify=%s;perm=%s;unique=%xU%x;UNIX.mode=%04o; %s" % (
                kind, "" if size is None else "size=%d;" % size, utc(status.st_mtime), perm, status.st_dev,
                status.st_ino, status.st_mode & 0o7777, name)

        for line, reply in (("SIZE a.txt", "213 1234"), ("SIZE big.bin", "213 5000000000"),
                            ("SIZE sub/inner.txt", "213 5"), ("SIZE sub", "550 File not found."),
                            ("SIZE missing", "550 File not found."), ("SIZE ../../etc/passwd", "550 Permission denied."),
                            ("MDTM may.txt", "213 " + utc(stamp(2024, 5, 31, 14, 30, 0))),
                            ("MDTM sub", "550 File not found."),
                            ("MFMT 20200517100000 with space.txt", "213 Modify=20200517100000; with space.txt"),
                            ("MDTM with space.txt", "213 20200517100000"),
                            ("MDTM 20210102030405.250 a.txt", "213 Modify=20210102030405; a.txt"),
                            ("MFMT 20201301000000 a.txt", "501 Syntax error in parameters or arguments."),
                            ("MFMT 20200101000000 sub", "550 File not found."),
                            ("MFMT 20200101000000 ../../etc/passwd", "550 Permission denied.")):
            with self.subTest(line=line):
                self.assertEqual(c.command(line), reply)
        self.assertEqual(os.stat(self.home.path("with space.txt")).st_mtime, calendar.timegm((2020, 5, 17, 10, 0, 0)))
        self.assertEqual(os.stat(self.home.path("a.txt")).st_mtime, calendar.timegm((2021, 1, 2, 3, 4, 5)))

        self.assertEqual(c.command("MLST a.txt"),
                         "250- Listing a.txt\r\n %s\r\n250 End." % facts("a.txt", "file", "adfrw", 1234))
        self.assertEqual(c.command("MLST sub"), "250- Listing sub\r\n %s\r\n250 End." % facts("sub", "dir", "cdeflmp"))
        self.assertEqual(c.command("MLST"),
                         "250- Listing /\r\n %s\r\n250 End." % facts(".", "cdir", "celmp").replace("; .", "; /"))
        self.assertEqual(c.command("MLST missing"), "550 No such file or directory found.")
        first, body, final = c.transfer("MLSD")
        self.assertEqual((first, final), (OPENING, COMPLETE))
        listed = body.decode("latin-1").split("\r\n")
        self.assertEqual(listed[-1], "")
        self.assertEqual(len(listed) - 1, len(self.files) + len(self.folders) + 1)  # no links in relative mode
        for expected in (facts(".", "cdir", "celmp"), facts("a.txt", "file", "adfrw", 1234),
                         facts("sub", "dir", "cdeflmp"), facts(".hidden", "file", "adfrw", 7)):
            self.assertIn(expected, listed)
        self.assertEqual(c.transfer("MLSD a.txt")[0], "550 No such file or directory found.")
        self.assertEqual(c.command("OPTS MLST size;type;"), "200 MLST OPTS type;size;")
        self.assertEqual(sorted(c.transfer("MLSD sub")[1].split(b"\r\n")),
                         [b"", b"type=cdir; .", b"type=file;size=5; inner.txt"])

        # An account without W may see but not set times; its perm facts say so.
        reader = self.home.client("reader")
        for line, reply in (("SIZE a.txt", "213 1234"), ("MFMT 20200101000000 a.txt", "550 Permission denied."),
                            ("MDTM 20200101000000 a.txt", "550 Permission denied.")):
            with self.subTest(line=line):
                self.assertEqual(reader.command(line), reply)
        self.assertEqual(reader.command("MLST sub/inner.txt"),
                         "250- Listing sub/inner.txt\r\n %s\r\n250 End." %
                         facts("sub/inner.txt", "file", "r", 5))
        hider = self.home.client("hider")
        self.assertNotIn(b".hidden", hider.transfer("MLSD")[1])

    def test_hidden_entries_and_links(self):
        hider = self.home.client("hider")
        self.assertEqual(lines(hider.transfer("LIST")[1]), self.expected(hide_hidden=True))
        full = self.home.client("full")
        listing = lines(full.transfer("LIST")[1])
        links = [entry for entry in listing if entry.startswith("l")]
        self.assertEqual(len(links), 2, listing)
        prefix = r"^lrwxrwxrwx   1 user     group [ \d]{9}\d (%s) [ \d]\d ( \d{4}|\d\d:\d\d) " % "|".join(MONTHS)
        links.sort(key=lambda entry: " docs -> " in entry)
        self.assertRegex(links[0], prefix + re.escape("UP -> " + os.path.join(self.target, "file.txt")) + "$")
        self.assertRegex(links[1], prefix + re.escape("docs -> " + self.target) + "/?$")
        self.assertEqual([entry for entry in listing if not entry.startswith("l")],
                         [entry for entry in self.expected() if entry])

    def test_ratio_trailer_and_permission(self):
        c = self.home.client("ratio")
        first, listing, final = c.transfer("LIST")
        self.assertEqual(final, "226-Server is running ratio 1/3, counting Bytes per Session\r\n"
                                "226-Current Credit is 5000\r\n" + COMPLETE)
        self.assertEqual(lines(listing), self.expected())
        c = self.home.client("nolist")
        c.pasv()
        self.assertEqual(c.command("LIST"), "550 Permission denied.")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")

    def test_a_directory_that_vanished_lists_empty(self):
        c = self.home.client()
        self.assertEqual(c.command("CWD empty"), "250 CWD command successfull.")
        os.rmdir(self.home.path("empty"))
        for passive in (True, False):
            self.assertEqual(c.transfer("LIST", passive), (OPENING, b"", COMPLETE))

    def test_curl_lists_the_same_lines(self):
        for extra in ([], ["--ftp-port", "127.0.0.1"]):
            result = subprocess.run(["curl", "-sS", "--max-time", "20", *extra,
                                     "ftp://u:pw@127.0.0.1:%d/" % self.home.port], capture_output=True, timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)
            # curl ends the lines of an ASCII listing with LF alone.
            self.assertEqual(lines(result.stdout.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")), self.expected())

    def test_a_long_listing_to_a_slow_reader_arrives_whole(self):
        names = ["entry-%05d.txt" % i for i in range(20000)]
        for name in names:
            open(self.home.path("empty/" + name), "w").close()
        c = self.home.client()
        self.assertEqual(c.command("CWD empty"), "250 CWD command successfull.")
        data_socket = connect_data(c.pasv())
        self.assertEqual(c.command("LIST"), OPENING)
        time.sleep(0.5)
        listing = read_to_end(data_socket)
        data_socket.close()
        self.assertEqual(c.reply(), COMPLETE + "\r\n")
        self.assertEqual([entry[54:] for entry in lines(listing)], names)


if __name__ == "__main__":
    unittest.main()
