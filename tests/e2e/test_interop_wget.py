import os
import unittest
import urllib.parse

from interop import InteropCase, PASSWORD, USER


class Wget(InteropCase):
    """wget downloads only."""

    def url(self, path):
        return "ftp://%s:%s@127.0.0.1:%d/%s" % (USER, PASSWORD, self.port, urllib.parse.quote(path))

    def wget(self, *args, passive=True):
        mode = [] if passive else ["--no-passive-ftp"]
        return self.run_client(["wget", "-nv", "--restrict-file-names=nocontrol", *mode, *args])

    def test_lists_and_downloads_in_both_modes(self):
        self.require("listing dates with May and the year")
        for passive in (True, False):
            with self.subTest(passive=passive):
                self.wget("-O", "index.html", self.url("tree/with space/"), passive=passive)
                with open(self.local_path("index.html"), encoding="utf-8") as f:
                    self.assertListsFolder(urllib.parse.unquote(f.read()), "tree/with space")
                self.wget("-O", "got.bin", self.url("big.bin"), passive=passive)
                self.assertEqual(self.read(self.local_path("got.bin")), self.big)

    def test_resumes_a_download(self):
        downloaded = self.partial_download("big.bin", 300000)
        self.wget("-c", self.url("big.bin"))
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)

    def test_mirrors_a_tree_down_in_both_modes(self):
        self.require("listing dates with May and the year")
        for passive in (True, False):
            with self.subTest(passive=passive):
                down = "down-%s" % passive
                self.wget("-m", "--remove-listing", "-nH", "-P", down, self.url("tree/"), passive=passive)
                self.assertSameTree(self.remote_path("tree"), self.local_path(down, "tree"), times=True)


if __name__ == "__main__":
    unittest.main()
