import calendar
import ftplib
import io
import os
import time
import unittest

from interop import BIG_TIME, InteropCase, PASSWORD, USER


def fact_time(text):
    return calendar.timegm(time.strptime(text[:14], "%Y%m%d%H%M%S"))


class Ftplib(InteropCase):
    """Python's ftplib: the tree is walked with MLSD and its times set with MFMT, as a mirroring script does."""

    def connect(self, passive=True):
        ftp = ftplib.FTP()
        ftp.encoding = "utf-8"
        ftp.connect("127.0.0.1", self.port, timeout=30)
        self.addCleanup(ftp.close)
        ftp.login(USER, PASSWORD)
        ftp.set_pasv(passive)
        return ftp

    def download(self, ftp, name, path, rest=None):
        with open(path, "ab" if rest else "wb") as f:
            ftp.retrbinary("RETR " + name, f.write, rest=rest)

    def upload(self, ftp, command, path, offset=0):
        with open(path, "rb") as f:
            f.seek(offset)
            ftp.storbinary(command, f)

    def mirror_down(self, ftp, folder, local):
        os.makedirs(local)
        for name, facts in ftp.mlsd(folder, ["type", "modify"]):
            path = os.path.join(local, name)
            if facts["type"] == "dir":
                self.mirror_down(ftp, folder + "/" + name, path)
            elif facts["type"] == "file":
                self.download(ftp, folder + "/" + name, path)
                stamp = fact_time(facts["modify"])
                os.utime(path, (stamp, stamp))

    def mirror_up(self, ftp, local, folder):
        ftp.mkd(folder)
        for name in os.listdir(local):
            path = os.path.join(local, name)
            if os.path.isdir(path):
                self.mirror_up(ftp, path, folder + "/" + name)
            else:
                self.upload(ftp, "STOR " + folder + "/" + name, path)
                ftp.sendcmd("MFMT %s %s/%s" % (time.strftime("%Y%m%d%H%M%S", time.gmtime(os.stat(path).st_mtime)),
                                               folder, name))

    def test_lists_downloads_and_uploads_in_both_modes(self):
        self.require("NLST", "LIST of a named folder")
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.connect(passive)
                self.assertEqual(sorted(ftp.nlst("tree/with space")),
                                 sorted("tree/with space/" + name for name in os.listdir(
                                     self.remote_path("tree/with space"))))
                lines = []
                ftp.dir("tree/with space", lines.append)
                self.assertListsFolder("\n".join(lines), "tree/with space")
                self.download(ftp, "big.bin", self.local_path("got.bin"))
                self.assertEqual(self.read(self.local_path("got.bin")), self.big)
                self.upload(ftp, "STOR tree/日本/put.bin", self.local_path("upload.bin"))
                self.assertEqual(self.read(self.remote_path("tree/日本/put.bin")),
                                 self.read(self.local_path("upload.bin")))
                ftp.quit()
        with self.subTest("wildcard"):
            self.require("NLST with a wildcard")
            ftp = self.connect()
            self.assertEqual(sorted(ftp.nlst("tree/日本/*.dat")),
                             sorted("tree/日本/" + name for name in os.listdir(self.remote_path("tree/日本"))
                                    if name.endswith(".dat")))
            self.assertEqual(ftp.nlst("tree/日本/*.none"), [])
            with self.assertRaisesRegex(ftplib.error_perm, "^550 No such file or directory found.$"):
                ftp.nlst("tree/missing/*.dat")

    def test_resumes_a_download_and_an_upload_by_size(self):
        self.require("SIZE", "MDTM")
        downloaded = self.partial_download("big.bin", 300000)
        uploaded = self.partial_upload("upload.bin", "partial.bin", 200000)
        ftp = self.connect()
        self.assertEqual(ftp.size("big.bin"), len(self.big))
        self.assertEqual(ftp.sendcmd("MDTM big.bin"), "213 " + time.strftime("%Y%m%d%H%M%S", time.gmtime(BIG_TIME)))
        self.download(ftp, "big.bin", self.local_path("big.bin"), rest=os.path.getsize(self.local_path("big.bin")))
        self.upload(ftp, "APPE partial.bin", self.local_path("upload.bin"), ftp.size("partial.bin"))
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)
        self.assertEqual(self.read(self.remote_path("partial.bin")), uploaded)

    def test_mirrors_a_tree_down_and_up_in_both_modes(self):
        for passive in (True, False):
            with self.subTest("down", passive=passive):
                self.require("MLSD")
                down = "down-%s" % passive
                self.mirror_down(self.connect(passive), "tree", self.local_path(down))
                self.assertSameTree(self.remote_path("tree"), self.local_path(down), times=True)
            with self.subTest("up", passive=passive):
                self.require("MFMT")
                up = "up-%s" % passive
                self.mirror_up(self.connect(passive), self.local_tree(), up)
                self.assertSameTree(self.remote_path("tree"), self.remote_path(up), times=True)


if __name__ == "__main__":
    unittest.main()
