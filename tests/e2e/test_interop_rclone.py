import os
import subprocess
import unittest

from interop import InteropCase, PASSWORD, USER


class Rclone(InteropCase):
    """rclone's ftp backend, configured by environment variables: passive mode only, no resume."""

    def setUp(self):
        super().setUp()
        obscured = subprocess.run(["rclone", "obscure", PASSWORD], capture_output=True, check=True, text=True)
        self.env.update(RCLONE_CONFIG=os.path.join(self.env["HOME"], "rclone.conf"), RCLONE_CONFIG_T_TYPE="ftp",
                        RCLONE_CONFIG_T_HOST="127.0.0.1", RCLONE_CONFIG_T_PORT=str(self.port),
                        RCLONE_CONFIG_T_USER=USER, RCLONE_CONFIG_T_PASS=obscured.stdout.strip())

    def rclone(self, *args):
        return self.run_client(["rclone", "--retries", "1", "--low-level-retries", "1", *args])

    def test_lists_downloads_and_uploads(self):
        self.require("LIST of a named folder")
        self.assertListsFolder(self.rclone("lsf", "t:tree/with space"), "tree/with space")
        self.rclone("copyto", "t:big.bin", self.local_path("got.bin"))
        self.assertEqual(self.read(self.local_path("got.bin")), self.big)
        self.rclone("copyto", self.local_path("upload.bin"), "t:tree/日本/put.bin")
        self.assertEqual(self.read(self.remote_path("tree/日本/put.bin")), self.read(self.local_path("upload.bin")))

    def test_mirrors_a_tree_down_and_up(self):
        self.require("LIST of a named folder")
        # rclone lists with MLSD when FEAT offers it, else with LIST, whose lines it must date right.
        for listing in ("MLSD", "LIST"):
            with self.subTest("down", listing=listing):
                self.require(listing if listing == "MLSD" else "listing dates with May and the year")
                down = self.local_path("down-" + listing)
                self.rclone("copy", "--create-empty-src-dirs", *(["--ftp-disable-mlsd"] if listing == "LIST" else []),
                            "t:tree", down)
                self.assertSameTree(self.remote_path("tree"), down, times=True)
        with self.subTest("up"):
            self.require("550 to MKD of an existing folder", "MFMT")
            self.rclone("copy", "--create-empty-src-dirs", self.local_tree(), "t:up")
            self.assertSameTree(self.remote_path("tree"), self.remote_path("up"), times=True)


if __name__ == "__main__":
    unittest.main()
