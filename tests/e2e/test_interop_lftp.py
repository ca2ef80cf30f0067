import os
import unittest

from interop import InteropCase, PASSWORD, USER


class Lftp(InteropCase):
    def lftp(self, script, passive=True):
        settings = "set cmd:fail-exit yes; set xfer:clobber on; set net:max-retries 1; set ftp:passive-mode %s; " % (
            "on" if passive else "off")
        return self.run_client(["lftp", "-u", "%s,%s" % (USER, PASSWORD), "-p", str(self.port),
                                "-e", settings + script + "; quit", "127.0.0.1"])

    def test_lists_downloads_and_uploads_in_both_modes(self):
        self.require("LIST of a named folder")
        for passive in (True, False):
            with self.subTest(passive=passive):
                listing = self.lftp('ls "tree/with space"; get big.bin -o got.bin; put upload.bin -o put.bin',
                                    passive)
                self.assertListsFolder(listing, "tree/with space")
                self.assertEqual(self.read(self.local_path("got.bin")), self.big)
                self.assertEqual(self.read(self.remote_path("put.bin")), self.read(self.local_path("upload.bin")))

    def test_resumes_a_download_and_an_upload_and_fetches_in_segments(self):
        self.require("SIZE")
        downloaded = self.partial_download("big.bin", 300000)
        uploaded = self.partial_upload("upload.bin", "partial.bin", 200000)
        self.lftp("get -c big.bin; put -c upload.bin -o partial.bin; set pget:min-chunk-size 64k; "
                  "pget -n 4 big.bin -o segments.bin")
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)
        self.assertEqual(self.read(self.remote_path("partial.bin")), uploaded)
        # Four connections at once, each from its own REST offset, each closed at its segment's end.
        self.assertEqual(self.read(self.local_path("segments.bin")), self.big)

    def test_mirrors_a_tree_down_and_up_in_both_modes(self):
        for passive in (True, False):
            with self.subTest("down", passive=passive):
                self.require("NLST", "listing dates with May and the year")
                down = "down-%s" % passive
                self.lftp("mirror tree " + down, passive)
                # lftp gives each file the mode its listing line shows.
                self.assertSameTree(self.remote_path("tree"), self.local_path(down), times=True, modes=True)
            with self.subTest("up", passive=passive):
                self.require("NLST", "MFMT")
                up = "up-%s" % passive
                self.lftp("mirror -R %s %s" % (self.local_tree(), up), passive)
                self.assertSameTree(self.remote_path("tree"), self.remote_path(up), times=True)


if __name__ == "__main__":
    unittest.main()
