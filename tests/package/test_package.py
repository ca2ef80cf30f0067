"""Builds the Debian package once and checks what it holds, lintian's verdict and the unit."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

CPACK_CONFIG = os.environ["CPACK_CONFIG"]
VERSION = os.environ["TOLVANE_VERSION"]

FILES = {
    "./etc/logrotate.d/tolvane": "-rw-r--r--",
    "./lib/systemd/system/tolvaned.service": "-rw-r--r--",
    "./usr/bin/tolvane": "-rwxr-xr-x",
    "./usr/sbin/tolvaned": "-rwxr-xr-x",
    "./usr/share/applications/tolvane.desktop": "-rw-r--r--",
    "./usr/share/doc/tolvane/changelog.gz": "-rw-r--r--",
    "./usr/share/doc/tolvane/copyright": "-rw-r--r--",
    "./usr/share/man/man1/tolvane.1.gz": "-rw-r--r--",
    "./usr/share/man/man8/tolvaned.8.gz": "-rw-r--r--",
}

# lintian tags of the information level only; anything of warning level or worse fails:
LINTIAN_FAILS = re.compile(r"^[EW]: ", re.MULTILINE)


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=600, **options)


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="tolvane-package-")
        built = run("cpack", "--config", CPACK_CONFIG, "-G", "DEB", "-B", cls.folder)
        if built.returncode != 0:
            raise AssertionError(built.stdout + built.stderr)
        cls.deb = os.path.join(cls.folder, "tolvane_%s_amd64.deb" % VERSION)
        cls.tree = os.path.join(cls.folder, "tree")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.tree], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def control_file(self, name):
        return run("dpkg-deb", "--info", self.deb, name).stdout

    def test_contents_dependencies_and_maintainer_scripts(self):
        listing = run("dpkg-deb", "-c", self.deb).stdout.splitlines()
        files = {line.split()[-1]: line.split()[0] for line in listing if not line.startswith("d")}
        self.assertEqual(files, FILES)
        self.assertEqual((self.field("Package"), self.field("Version"), self.field("Architecture")),
                         ("tolvane", VERSION, "amd64"))
        depends = {re.sub(r" \(.*\)", "", part.strip()) for part in self.field("Depends").split(",")}
        self.assertLessEqual({"adduser", "libc6", "libstdc++6", "libsystemd0", "libqt6core6", "libqt6widgets6",
                              "qt6-qpa-plugins"}, depends)
        self.assertEqual(self.control_file("conffiles").split(), ["/etc/logrotate.d/tolvane"])
        postinst, postrm = self.control_file("postinst"), self.control_file("postrm")
        self.assertIn("adduser --system --group", postinst)
        self.assertIn("deb-systemd-helper enable tolvaned.service", postinst)
        for leftover in ("rm -rf /var/lib/tolvane", "deluser --quiet --system tolvane", "deb-systemd-helper purge"):
            self.assertIn(leftover, postrm)
        for script in ("postinst", "prerm", "postrm"):
            self.assertEqual(run("sh", "-n", "-c", self.control_file(script)).returncode, 0, script)

        packaged = os.path.join(self.tree, "usr/sbin/tolvaned")
        self.assertEqual(run(packaged, "--version").stdout, "tolvaned (Tolvane-D) %s\n" % VERSION)
        self.assertNotIn(".debug_info", run("objdump", "-h", packaged).stdout)

    def test_lintian_finds_nothing_of_warning_level(self):
        checked = run("lintian", "--no-tag-display-limit", self.deb)
        self.assertEqual(LINTIAN_FAILS.findall(checked.stdout), [], checked.stdout)

    def test_the_unit_verifies_with_the_packaged_binary_and_man_page(self):
        with open(os.path.join(self.tree, "lib/systemd/system/tolvaned.service")) as f:
            unit = f.read()
        self.assertIn("ExecStart=/usr/sbin/tolvaned --home /var/lib/tolvane\n", unit)
        for setting in ("Type=notify", "User=tolvane", "StateDirectory=tolvane", "NoNewPrivileges=yes",
                        "AmbientCapabilities=CAP_NET_BIND_SERVICE", "ExecReload=/bin/kill -HUP $MAINPID"):
            self.assertIn(setting + "\n", unit)
        # systemd-analyze wants the program and the documentation where the unit says they are.
        folder = os.path.join(self.folder, "unit")
        os.makedirs(folder)
        path = os.path.join(folder, "tolvaned.service")
        with open(path, "w") as f:
            f.write(unit.replace("/usr/sbin/tolvaned", os.path.join(self.tree, "usr/sbin/tolvaned")))
        environment = dict(os.environ, MANPATH=os.path.join(self.tree, "usr/share/man"))
        verified = run("systemd-analyze", "verify", path, env=environment)
        self.assertEqual((verified.returncode, verified.stdout + verified.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
