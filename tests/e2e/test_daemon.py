import ftplib
import os
import signal
import socket
import time
import unittest

from tolvane import BANNER, Daemon, HomeTestCase, RawClient, free_port, prepare_home, wait_for_port, write_ip_home

HELP = ("214-Supported commands listing :\r\n"
        "214-ABOR APPE CDUP CWD  DELE HELP LIST MKD\r\n"
        "214-NOOP PASS PASV PORT QUIT REST RETR RMD\r\n"
        "214-RNFR RNTO STOR SYST USER\r\n"
        "214 Listing complete")


def snapshot(home):
    entries = {}
    for root, dirs, files in os.walk(home):
        for name in dirs + files:
            path = os.path.join(root, name)
            stat = os.stat(path)
            entries[os.path.relpath(path, home)] = (stat.st_mtime_ns, stat.st_size)
    return entries


class FreshHome(HomeTestCase, unittest.TestCase):
    def test_first_start_creates_the_layout_and_a_second_start_writes_nothing(self):
        home = self.make_home()
        daemon = Daemon(home, "--offline")
        self.assertTrue(daemon.wait_for_line("Server-Sockets"))
        self.assertEqual(daemon.stop(), 0)
        self.assertEqual(sorted(snapshot(home)), sorted([
            "Database", "Database/[Full Machine]", "Database/[Full Machine]/Users",
            "Database/[Full Machine]/Groups", "Database/[Full Machine].FTP_IPHome", "Logging"]))
        with open(os.path.join(home, "Database", "[Full Machine].FTP_IPHome"), "rb") as f:
            self.assertEqual(f.read().replace(b"\r\n", b"\n"),
                             b"[ServerSettings]\nServerName=Tolvane Daemon\nServerIP=All IP's\n"
                             b"ServerPort=21\nMaxUsers=\nMaxTransfers=\n")
        before = snapshot(home)
        time.sleep(0.05)
        daemon = Daemon(home, "--offline")
        self.assertTrue(daemon.wait_for_line("Server-Sockets"))
        self.assertEqual(daemon.stop(), 0)
        self.assertEqual(snapshot(home), before)

    def test_deleted_default_ip_home_file_stays_deleted(self):
        home = self.make_home()
        daemon = Daemon(home, "--offline")
        self.assertTrue(daemon.wait_for_line("Server-Sockets"))
        daemon.stop()
        os.remove(os.path.join(home, "Database", "[Full Machine].FTP_IPHome"))
        daemon = Daemon(home, "--offline")
        self.assertTrue(daemon.wait_for_line("No IP Home found,check your server configuration."))
        self.assertTrue(daemon.wait_for_line("If problem still exists please reinstall ..."))
        daemon.stop()
        self.assertFalse(os.path.exists(os.path.join(home, "Database", "[Full Machine].FTP_IPHome")))

    def test_a_database_that_is_a_file_ends_the_start_with_a_message(self):
        home = self.make_home()
        open(os.path.join(home, "Database"), "w").close()
        daemon = Daemon(home)
        code = daemon.process.wait(5)
        self.assertNotEqual(code, 0)
        self.assertIn("Failed to create UserDatabase directory, terminating (DATABASE)",
                      daemon.process.stderr.read())


class Serving(HomeTestCase, unittest.TestCase):
    def start(self, *args):
        home = self.make_home()
        port = free_port()
        prepare_home(home, port)
        daemon = Daemon(home, *args)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(",successfully."), daemon.output())
        return home, port, daemon

    def test_greeting_help_and_login_requirement_seen_by_ftplib(self):
        _, port, daemon = self.start()
        ftp = ftplib.FTP()
        welcome = ftp.connect("127.0.0.1", port, timeout=5)
        self.assertEqual(welcome, BANNER.replace("\r\n", "\n") + "220 Server ready...")
        self.assertEqual(ftp.sendcmd("HELP"), HELP.replace("\r\n", "\n"))
        with self.assertRaises(ftplib.error_perm) as refused:
            ftp.sendcmd("NOOP")
        self.assertEqual(str(refused.exception), "530 User not logged in.")
        ftp.close()
        self.assertTrue(daemon.wait_for_line("-[1]- Closed connection to 127.0.0.1 ..."))

    def test_offline_start_refuses_after_the_banner(self):
        _, port, daemon = self.start("--offline")
        client = RawClient(port)
        self.assertEqual(client.read_exactly(len(BANNER)), BANNER)
        self.assertEqual(client.read_line(), "421 Server is temporarly unavailable. Try later\r\n")
        self.assertTrue(client.closed())

    def test_signals_switch_online_state_and_reload_ip_homes(self):
        home, port, daemon = self.start()
        daemon.signal(signal.SIGUSR1)
        self.assertTrue(daemon.wait_for_line(" - Server is offline ..."))
        client = RawClient(port)
        client.read_exactly(len(BANNER))
        self.assertEqual(client.read_line(), "421 Server is temporarly unavailable. Try later\r\n")
        daemon.signal(signal.SIGUSR1)
        self.assertTrue(daemon.wait_for_line(" - Server is already offline ..."))
        daemon.signal(signal.SIGUSR2)
        self.assertTrue(daemon.wait_for_line(" - Server is Online ..."))

        second = free_port()
        write_ip_home(home, "127.0.0.1-%d" % second, "127.0.0.1", second)
        daemon.signal(signal.SIGHUP)
        self.assertTrue(wait_for_port(second))
        client = RawClient(port)
        self.assertEqual(client.read_exactly(len(BANNER)), BANNER)
        self.assertEqual(client.read_line(), "220 Server ready...\r\n")

    def test_sigterm_ends_every_session_and_exits_promptly(self):
        _, port, daemon = self.start()
        clients = [RawClient(port) for _ in range(20)]
        for client in clients:
            client.read_exactly(len(BANNER))
            client.read_line()
        started = time.time()
        self.assertEqual(daemon.stop(), 0)
        self.assertLess(time.time() - started, 2.0)
        for client in clients:
            self.assertTrue(client.closed())


class IpHomes(HomeTestCase, unittest.TestCase):
    def test_disabled_one_is_skipped_and_two_is_served(self):
        home = self.make_home()
        skipped, served = free_port(), free_port()
        write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1)
        write_ip_home(home, "a-skipped", "127.0.0.1", skipped, disabled=1)
        write_ip_home(home, "b-served", "127.0.0.1", served, disabled=2)
        daemon = Daemon(home)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(" - a-skipped-(127.0.0.1:%d) ,disabled." % skipped))
        self.assertTrue(daemon.wait_for_line(" - b-served-(127.0.0.1:%d) ,successfully." % served))
        self.assertTrue(wait_for_port(served))
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", skipped), timeout=1).close()

    def test_second_ip_home_on_the_same_port_fails_and_the_first_serves(self):
        home = self.make_home()
        port = free_port()
        write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1)
        write_ip_home(home, "first", "127.0.0.1", port)
        write_ip_home(home, "second", "127.0.0.1", port)
        # Addresses that are no dotted quad must not end up listening on some other address.
        bad = {"third": "not-an-address", "fourth": "localhost", "fifth": "999.1.1.1", "sixth": "1.2.3", "seventh": "abc"}
        bad_ports = {}
        for title, address in bad.items():
            bad_ports[title] = free_port()
            write_ip_home(home, title, address, bad_ports[title])
        daemon = Daemon(home)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(" - first-(127.0.0.1:%d) ,successfully." % port))
        self.assertTrue(daemon.wait_for_line(" - second-(127.0.0.1:%d) ,failed." % port))
        for title, address in bad.items():
            self.assertTrue(daemon.wait_for_line(" - %s-(%s:%d) ,failed." % (title, address, bad_ports[title])),
                            daemon.output())
        self.assertFalse(any(",successfully." in line and "127.0.0.1" not in line for line in daemon.output()))
        client = RawClient(port)
        self.assertEqual(client.read_exactly(len(BANNER)), BANNER)

    def test_junk_ip_home_file_reads_as_defaults(self):
        home = self.make_home()
        write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1)
        with open(os.path.join(home, "Database", "junk.FTP_IPHome"), "wb") as f:
            f.write(os.urandom(4096) + b"\n[ServerSettings]\nno equals sign here\nServerPort=" + b"9" * 1000)
        daemon = Daemon(home)
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(") ,failed."))
        self.assertIsNone(daemon.process.poll())


if __name__ == "__main__":
    unittest.main()
