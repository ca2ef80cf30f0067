import unittest

from interop import InteropCase, PASSWORD, USER


class Busybox(InteropCase):
    """busybox ftpget and ftpput: one file each run, passive mode only; only downloads resume."""

    def busybox(self, applet, *args):
        return self.run_client(["busybox", applet, "-u", USER, "-p", PASSWORD, "-P", str(self.port), "127.0.0.1",
                                *args])

    def test_downloads_and_uploads(self):
        self.busybox("ftpget", "got.bin", "big.bin")
        self.assertEqual(self.read(self.local_path("got.bin")), self.big)
        self.busybox("ftpput", "tree/日本/put.bin", "upload.bin")
        self.assertEqual(self.read(self.remote_path("tree/日本/put.bin")), self.read(self.local_path("upload.bin")))

    def test_resumes_a_download(self):
        self.require("SIZE")
        downloaded = self.partial_download("big.bin", 300000)
        self.busybox("ftpget", "-c", "big.bin", "big.bin")
        self.assertEqual(self.read(self.local_path("big.bin")), downloaded)


if __name__ == "__main__":
    unittest.main()
