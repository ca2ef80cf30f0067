import os
import unittest

from interop import BIG_TIME, InteropCase, PASSWORD, USER


class Tnftp(InteropCase):
    """tnftp reads its commands from standard input and exits 0 whatever happened, so every test checks
    what it printed or transferred."""

    def tnftp(self, *commands, passive=True):
        script = ["user %s %s" % (USER, PASSWORD), "binary", "prompt off", "passive %s" % ("on" if passive else "off"),
                  *commands, "quit"]
        return self.run_client(["tnftp", "-n", "-v", "127.0.0.1", str(self.port)],
                               input="\n".join(script).encode() + b"\n")

    def test_lists_downloads_and_uploads_in_both_modes(self):
        self.require("LIST of a named folder")
        for passive in (True, False):
            with self.subTest(passive=passive):
                self.tnftp('ls "tree/with space" listing.txt', "get big.bin got.bin", "put upload.bin put.bin",
                           passive=passive)
                with open(self.local_path("listing.txt"), encoding="utf-8") as f:
                    self.assertListsFolder(f.read(), "tree/with space")
                self.assertEqual(self.read(self.local_path("got.bin")), self.big)
                self.assertEqual(self.read(self.remote_path("put.bin")), self.read(self.local_path("upload.bin")))

    def test_fetches_a_folder_by_name_pattern_with_file_times(self):
        self.require("NLST with a wildcard", "MDTM")
        os.makedirs(self.local_path("many"))
        os.utime(self.remote_path("tree/日本/東京"))
        self.tnftp("lcd many", "cd tree/日本", "mget *", "lcd ..", "cd /", "get big.bin timed.bin")
        files = [name for name in os.listdir(self.remote_path("tree/日本")) if name != "東京"]
        self.assertEqual(sorted(os.listdir(self.local_path("many"))), sorted(files))
        for name in files:
            self.assertEqual(self.read(self.local_path("many", name)), self.read(self.remote_path("tree/日本", name)))
        self.assertEqual(int(os.stat(self.local_path("timed.bin")).st_mtime), BIG_TIME)

    def test_resumes_a_download(self):
        downloaded = self.partial_download("big.bin", 300000)
        self.tnftp("reget big.bin")
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)


if __name__ == "__main__":
    unittest.main()
