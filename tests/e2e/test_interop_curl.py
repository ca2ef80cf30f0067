import os
import unittest
import urllib.parse

from interop import BIG_TIME, InteropCase, PASSWORD, USER


class Curl(InteropCase):
    def url(self, path):
        return "ftp://127.0.0.1:%d/%s" % (self.port, urllib.parse.quote(path))

    def curl(self, *args, passive=True):
        mode = [] if passive else ["-P", "-"]
        return self.run_client(["curl", "-sS", "--fail", "-u", "%s:%s" % (USER, PASSWORD), *mode, *args])

    def test_lists_downloads_and_uploads_in_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                listing = self.curl(self.url("tree/with space/"), passive=passive)
                self.assertListsFolder(listing, "tree/with space")
                self.curl("-o", "got.bin", self.url("big.bin"), passive=passive)
                self.assertEqual(self.read(self.local_path("got.bin")), self.big)
                self.curl("-T", "upload.bin", self.url("tree/日本/put.bin"), passive=passive)
                self.assertEqual(self.read(self.remote_path("tree/日本/put.bin")),
                                 self.read(self.local_path("upload.bin")))

    def test_names_whole_paths_in_one_command(self):
        self.require("LIST of a named folder")
        nested = "tree/日本/東京/" + sorted(os.listdir(self.remote_path("tree/日本/東京")))[0]
        listing = self.curl("--ftp-method", "nocwd", self.url("tree/with space/"))
        self.assertListsFolder(listing, "tree/with space")
        self.curl("--ftp-method", "nocwd", "-o", "nested.bin", self.url(nested))
        self.assertEqual(self.read(self.local_path("nested.bin")), self.read(self.remote_path(nested)))

    def test_lists_names_only(self):
        self.require("NLST")
        names = self.curl("-l", self.url("tree/日本/")).splitlines()
        self.assertEqual(sorted(names), sorted(os.listdir(self.remote_path("tree/日本"))))

    def test_resumes_a_download_and_an_upload(self):
        self.require("SIZE")
        downloaded = self.partial_download("big.bin", 300000)
        uploaded = self.partial_upload("upload.bin", "partial.bin", 200000)
        self.curl("-C", "-", "-o", "big.bin", self.url("big.bin"))
        self.curl("-C", "-", "-T", "upload.bin", self.url("partial.bin"))
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)
        self.assertEqual(self.read(self.remote_path("partial.bin")), uploaded)

    def test_keeps_the_file_time(self):
        self.require("MDTM")
        self.curl("-R", "-o", "timed.bin", self.url("big.bin"))
        self.assertEqual(int(os.stat(self.local_path("timed.bin")).st_mtime), BIG_TIME)


if __name__ == "__main__":
    unittest.main()
