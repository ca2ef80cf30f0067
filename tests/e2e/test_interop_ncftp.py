import os
import unittest

from interop import InteropCase, PASSWORD, USER


class Ncftp(InteropCase):
    """ncftpls, ncftpget and ncftpput; only downloads resume."""

    def ncftp(self, program, *args, passive=True):
        return self.run_client([program, "-u", USER, "-p", PASSWORD, "-P", str(self.port), "-t", "60",
                                "-F" if passive else "-E", *args])

    def url(self, path):
        return "ftp://127.0.0.1/" + path

    def test_lists_downloads_and_uploads_in_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                listing = self.ncftp("ncftpls", "-l", self.url("tree/with space/"), passive=passive)
                self.assertListsFolder(listing, "tree/with space")
                os.makedirs(self.local_path("got"), exist_ok=True)
                self.ncftp("ncftpget", "-Z", "127.0.0.1", "got", "/big.bin", passive=passive)
                self.assertEqual(self.read(self.local_path("got", "big.bin")), self.big)
                self.ncftp("ncftpput", "127.0.0.1", "/tree/日本", "upload.bin", passive=passive)
                self.assertEqual(self.read(self.remote_path("tree/日本/upload.bin")),
                                 self.read(self.local_path("upload.bin")))

    def test_resumes_a_download(self):
        # Not an upload: ncftpput -z sends REST with the served size and then the whole file from its
        # start (its sendfile path ignores the offset), whatever the server does.
        self.require("SIZE")
        downloaded = self.partial_download("big.bin", 300000)
        self.ncftp("ncftpget", "-z", "127.0.0.1", ".", "/big.bin")
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)

    def test_mirrors_a_tree_down_and_up_in_both_modes(self):
        for passive in (True, False):
            with self.subTest("down", passive=passive):
                self.require("LIST of a named folder")
                down = "down-%s" % passive
                os.makedirs(self.local_path(down))
                self.ncftp("ncftpget", "-R", "-T", "127.0.0.1", down, "/tree", passive=passive)
                self.assertSameTree(self.remote_path("tree"), self.local_path(down, "tree"), times=True)
            with self.subTest("up", passive=passive):
                self.require("MFMT")
                up = "up-%s" % passive
                os.makedirs(self.remote_path(up))
                self.ncftp("ncftpput", "-R", "127.0.0.1", "/" + up, self.local_tree(), passive=passive)
                self.assertSameTree(self.remote_path("tree"), self.remote_path(up, "source"), times=True)


if __name__ == "__main__":
    unittest.main()
