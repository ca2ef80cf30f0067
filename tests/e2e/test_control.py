"""`tolvaned ctl` against a live server with real clients connected, and the service user."""
import json
import os
import pwd
import re
import signal
import socket
import stat
import subprocess
import time
import unittest

from accounts import TransferHome
from tolvane import (TOLVANED, Daemon, HomeTestCase, RawClient, connect_data, free_port, prepare_home, read_to_end,
                     user_file, write_account, write_ip_home)

MiB = 1 << 20
COMPLETE = "226 Transfer complete."
KICKED = "421 You have been kicked from the system, Have a nice day :)\r\n"


def ctl(home, *words, as_user=None):
    """Runs `tolvaned ctl` on a home; as_user runs it as that account."""
    def become():
        entry = pwd.getpwnam(as_user)
        os.setgroups([])
        os.setgid(entry.pw_gid)
        os.setuid(entry.pw_uid)
    return subprocess.run([TOLVANED, "--home", home, "ctl", *words], capture_output=True, text=True, timeout=60,
                          preexec_fn=become if as_user else None)


def listing(home, what):
    answer = ctl(home, what, "--json")
    if answer.returncode != 0:
        raise AssertionError(answer.stderr)
    return json.loads(answer.stdout)


def login(port):
    client = RawClient(port)
    try:
        return client.login("u", "pw")
    finally:
        client.close()


def control_socket(home):
    return os.path.join(home, "tolvaned.sock")


class ControlTestCase(HomeTestCase, unittest.TestCase):
    def setUp(self):
        self.home = TransferHome(self)
        self.path = self.home.home

    def start(self):
        self.daemon = self.home.start()

    def open_download(self, user, name):
        """A session of `user` whose download of `name` runs; the client has read its first KiB."""
        c = self.home.client(user)
        data = connect_data(c.pasv())
        self.addCleanup(data.close)
        self.assertEqual(c.command("RETR " + name), "150 Using open data connection for transfering file %s." % name)
        self.assertEqual(len(data.recv(1024, socket.MSG_WAITALL)), 1024)
        return c, data

    def transfer_of(self, user_session_id):
        for transfer in listing(self.path, "transfers"):
            if transfer["connection"] == user_session_id:
                return transfer
        raise AssertionError("no transfer of connection %s" % user_session_id)

    def wait_until_listed(self, what, count):
        for _ in range(500):
            rows = listing(self.path, what)
            if len(rows) == count:
                return rows
            time.sleep(0.02)
        raise AssertionError("%s never had %d rows: %r" % (what, count, rows))


class Listings(ControlTestCase):
    def test_sessions_transfers_requests_and_status_show_what_runs(self):
        self.home.sparse("big.bin", 64 * MiB)
        self.home.user("v")
        self.start()
        downloading, _ = self.open_download("u", "big.bin")
        self.home.client("v")

        sessions = listing(self.path, "sessions")
        self.assertEqual(sorted(s["user"] for s in sessions), ["u", "v"])
        for s in sessions:
            self.assertEqual((s["address"], s["folder"], s["ratio"]), ("127.0.0.1", self.home.root, False))
            self.assertEqual(s["ip_home"], "127.0.0.1:%d" % self.home.port)
        self.assertEqual(len({s["id"] for s in sessions}), 2)
        u = next(s for s in sessions if s["user"] == "u")
        self.assertGreaterEqual(u["downloaded_bytes"], 1024)

        transfers = listing(self.path, "transfers")
        self.assertEqual(len(transfers), 1)
        self.assertEqual((transfers[0]["direction"], transfers[0]["file"], transfers[0]["connection"]),
                         ("download", "big.bin", u["connection"]))
        self.assertGreaterEqual(transfers[0]["bytes"], 1024)
        self.assertIsNone(transfers[0]["limit_bytes_per_second"])
        self.assertNotIn(transfers[0]["id"], {s["id"] for s in sessions})

        requests = listing(self.path, "requests")
        self.assertEqual([(r["address"], r["succeeded"]) for r in requests], [("127.0.0.1", "Yes")] * 2)

        status = listing(self.path, "status")
        self.assertEqual((status["online"], status["pid"], status["sessions"], status["transfers"]),
                         (True, self.daemon.process.pid, 2, 1))

        text = ctl(self.path, "sessions").stdout.splitlines()
        self.assertEqual(text[0].split(), ["ID", "USER", "ADDRESS", "IDLE", "CONNECTED", "IP", "HOME", "FOLDER"])
        self.assertEqual(len(text), 3)
        text = ctl(self.path, "transfers").stdout.splitlines()
        self.assertEqual(text[1].split()[2::4], ["download", "big.bin"])
        downloading.close()


class Actions(ControlTestCase):
    def test_kick_during_a_transfer_ends_session_and_transfer_and_a_second_kick_does_nothing(self):
        self.home.sparse("big.bin", 64 * MiB)
        self.start()
        c, data = self.open_download("u", "big.bin")
        bystander = self.home.client("u")
        sessions = listing(self.path, "sessions")
        session = next(s for s in sessions if s["connection"] == "1")
        other = next(s for s in sessions if s["connection"] != "1")
        transfer = listing(self.path, "transfers")[0]

        answer = ctl(self.path, "kick", str(session["id"]))
        self.assertEqual((answer.returncode, answer.stdout), (0, "kicked session %d (u)\n" % session["id"]))
        self.assertEqual(c.read_line(), KICKED)
        self.assertTrue(c.closed())
        self.assertLess(len(read_to_end(data)), 64 * MiB - 1024)
        self.wait_until_listed("transfers", 0)
        self.assertEqual([s["id"] for s in listing(self.path, "sessions")], [other["id"]])

        for words in (("kick", session["id"]), ("close-transfer", transfer["id"]),
                      ("speed", transfer["id"], "10k"), ("credit", session["id"], "+1")):
            answer = ctl(self.path, *map(str, words))
            self.assertEqual(answer.returncode, 1, words)
            self.assertRegex(answer.stderr, r"^tolvaned ctl: (session|transfer) \d+ has ended; nothing done\n$")
        self.assertEqual(bystander.command("NOOP"), "200 Command okay.")
        self.assertEqual(self.daemon.count("Kicked User : u - IP : 127.0.0.1"), 1)

    def test_speed_change_is_the_transfers_new_limit_and_lifting_it_lets_the_file_through(self):
        data = os.urandom(3 * MiB)
        self.home.write("three.bin", data)
        self.home.user("slow", speed_limit={"Enabled": "Static", "SendingSpeed": "1"})
        self.start()
        c, stream = self.open_download("slow", "three.bin")
        transfer = listing(self.path, "transfers")[0]
        self.assertEqual(transfer["limit_bytes_per_second"], 1024)

        self.assertEqual(ctl(self.path, "speed", str(transfer["id"]), "64k").stdout,
                         "transfer %d: limit 65536 bytes/s\n" % transfer["id"])
        self.assertEqual(self.transfer_of(transfer["connection"])["limit_bytes_per_second"], 65536)
        self.assertEqual(ctl(self.path, "speed", str(transfer["id"]), "0").stdout,
                         "transfer %d: no limit\n" % transfer["id"])
        self.assertIsNone(self.transfer_of(transfer["connection"])["limit_bytes_per_second"])
        # At 1 KiB/s the rest would take most of an hour; without a limit it comes at once.
        self.assertEqual(read_to_end(stream), data[1024:])
        self.assertEqual(c.reply(), COMPLETE + "\r\n")

        for words, error in ((("speed", transfer["id"], "4294967296"), "not a rate"),
                             (("speed", transfer["id"], "-5"), "not a rate"),
                             (("speed", 999, "1k"), "no transfer 999")):
            answer = ctl(self.path, *map(str, words))
            self.assertEqual(answer.returncode, 1)
            self.assertIn(error, answer.stderr)

    def test_close_transfer_fails_the_download_and_keeps_the_session(self):
        self.home.sparse("big.bin", 64 * MiB)
        self.start()
        c, data = self.open_download("u", "big.bin")
        session = listing(self.path, "sessions")[0]
        transfer = listing(self.path, "transfers")[0]
        answer = ctl(self.path, "close-transfer", str(session["id"]))
        self.assertEqual((answer.returncode, answer.stderr), (1, "tolvaned ctl: %d is not a transfer\n" % session["id"]))
        self.assertEqual(ctl(self.path, "close-transfer", str(transfer["id"])).stdout,
                         "closed transfer %d\n" % transfer["id"])
        self.assertLess(len(read_to_end(data)), 64 * MiB - 1024)
        self.assertEqual(c.reply(), "426 Data connection closed, transfer failed.\r\n")
        self.assertEqual(c.command("NOOP"), "200 Command okay.")
        self.assertEqual(listing(self.path, "transfers"), [])

    def test_credit_given_buys_a_download_and_a_session_without_ratio_has_none(self):
        self.home.write("300.bin", b"x" * 300)
        self.home.user("ratio", ratio={"RatioEnabled": "TRUE", "RatioType": "Bytes per Session", "Upload": "1",
                                       "Download": "1", "Credit": "0"})
        self.start()
        c = self.home.client("ratio")
        plain = self.home.client("u")
        sessions = {s["user"]: s for s in listing(self.path, "sessions")}
        c.pasv()
        self.assertEqual(c.command("RETR 300.bin"), "550 Not enough credit for downloading this file, sorry.")
        ratio_id = str(sessions["ratio"]["id"])
        self.assertEqual(ctl(self.path, "credit", ratio_id, "+500").stdout, "session %s: credit 500\n" % ratio_id)
        self.assertEqual(ctl(self.path, "credit", ratio_id, "-100").stdout, "session %s: credit 400\n" % ratio_id)
        self.assertEqual(c.transfer("RETR 300.bin")[1:], (b"x" * 300, COMPLETE))
        self.assertEqual(next(s for s in listing(self.path, "sessions") if s["user"] == "ratio")["credit"], 100)

        answer = ctl(self.path, "credit", str(sessions["u"]["id"]), "+500")
        self.assertEqual((answer.returncode, answer.stderr),
                         (1, "tolvaned ctl: session %d runs no ratio: it has no credit to change\n" % sessions["u"]["id"]))
        for amount in ("0", "+", "5x", "--5"):
            self.assertIn("not a credit change", ctl(self.path, "credit", ratio_id, amount).stderr)
        self.assertEqual(plain.command("NOOP"), "200 Command okay.")

    def test_offline_online_and_reload_act_on_the_running_server(self):
        self.start()
        self.assertEqual(ctl(self.path, "offline").stdout, "offline\n")
        self.assertEqual(ctl(self.path, "offline").stderr, "tolvaned ctl: already offline\n")
        refused = RawClient(self.home.port)
        refused.read_exactly(len("220-Tolvane-D v0.2 --*** Beta ***--\r\n"))
        self.assertIn("421 Server is temporarly unavailable. Try later\r\n", refused.read_exactly(4096))
        self.assertFalse(listing(self.path, "status")["online"])
        self.assertEqual(ctl(self.path, "online").stdout, "online\n")
        self.assertEqual(self.home.client("u").command("NOOP"), "200 Command okay.")

        port = free_port()
        write_ip_home(self.path, "127.0.0.1-%d" % port, "127.0.0.1", port)
        self.assertEqual(ctl(self.path, "reload").stdout, "reloaded: 2 IP homes\n")
        with socket.create_connection(("127.0.0.1", port), timeout=5):
            pass
        self.assertTrue(self.daemon.wait_for_line(" - Creating Server-Sockets ...", count=2))
        self.assertEqual(self.daemon.count(" - Server is offline ..."), 1)


class ControlSocket(ControlTestCase):
    def test_the_socket_is_the_servers_alone_and_bad_requests_are_refused(self):
        self.start()
        path = control_socket(self.path)
        mode = os.stat(path)
        self.assertEqual((stat.S_IMODE(mode.st_mode), mode.st_uid), (0o600, os.getuid()))
        if os.getuid() == 0:
            os.chmod(self.path, 0o755)
            self.assertIn("Permission denied", ctl(self.path, "status", as_user="nobody").stderr)
            os.chmod(path, 0o666)  # past the file mode, the server still checks who is asking
            answer = ctl(self.path, "status", as_user="nobody")
            self.assertEqual((answer.returncode, answer.stderr), (1, "tolvaned ctl: refused: only the server's own "
                                                                     "user and root may administer it\n"))
        for request in (b"\n", b"status\x00\n", b"sta tus  x\n", b"a" * 600 + b"\n", b" ".join([b"x"] * 9) + b"\n",
                        b"status\xff\n", b"status"):
            with socket.socket(socket.AF_UNIX) as client:
                client.settimeout(10)
                client.connect(path)
                client.sendall(request)
                if not request.endswith(b"\n"):
                    client.shutdown(socket.SHUT_WR)
                self.assertEqual(read_to_end(client), b"error\nmalformed request\n", request)
        self.assertEqual(ctl(self.path).returncode, 2)
        self.assertEqual(ctl(self.path, "status").returncode, 0)

    def test_a_home_too_deep_for_a_socket_name_is_served_without_one(self):
        deep = os.path.join(self.make_home(), "d" * 120)
        daemon = Daemon(deep, "--demo")
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(" - Server is Online ..."), daemon.output())
        with open(os.path.join(deep, "Settings.ini")) as settings:
            self.assertIn("OnlineAtStartup=1", settings.read())
        answer = ctl(deep, "status")
        self.assertEqual(answer.returncode, 1)
        self.assertIn("File name too long", answer.stderr)
        self.assertEqual(daemon.stop(), 0)
        self.assertIn("tolvaned: warning: cannot make the control socket %s/tolvaned.sock: File name too long; "
                      "'tolvaned ctl' cannot reach this server\n" % deep, daemon.process.stderr.read())

    def test_the_window_on_a_served_home_says_so(self):
        window = os.path.join(os.path.dirname(TOLVANED), "tolvane")
        if not os.path.exists(window):
            self.skipTest("the window is not built")
        self.start()
        environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        opened = subprocess.run([window, "--home", self.path], capture_output=True, text=True, timeout=30,
                                env=environment)
        self.assertEqual((opened.returncode, opened.stderr),
                         (1, "tolvane: A running tolvaned serves the server home %s.\nAdminister it with 'tolvaned "
                             "ctl', or stop it before opening the window.\n" % self.path))

    def test_a_second_server_on_the_home_is_refused_and_a_dead_servers_socket_is_replaced(self):
        self.start()
        second = subprocess.run([TOLVANED, "--home", self.path], capture_output=True, text=True, timeout=30)
        self.assertEqual(second.returncode, 1)
        self.assertIn("tolvaned: another tolvaned serves %s; administer it with 'tolvaned ctl'\n" % self.path,
                      second.stderr)
        self.daemon.process.kill()
        self.daemon.process.wait()
        self.assertTrue(os.path.exists(control_socket(self.path)))
        self.assertNotEqual(ctl(self.path, "status").returncode, 0)
        self.start()
        self.assertEqual(listing(self.path, "status")["pid"], self.daemon.process.pid)
        self.assertEqual(self.daemon.stop(), 0)
        self.assertFalse(os.path.exists(control_socket(self.path)))


@unittest.skipUnless(os.getuid() == 0, "dropping to another user needs root")
class ServiceUser(HomeTestCase, unittest.TestCase):
    def test_root_binds_then_serves_as_nobody_for_good(self):
        home = TransferHome(self)
        nobody = pwd.getpwnam("nobody")
        for folder, _, files in os.walk(home.home):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                os.chown(name, nobody.pw_uid, nobody.pw_gid)
        os.chmod(home.home, 0o755)
        daemon = Daemon(home.home, "--user", "nobody")
        self.addCleanup(daemon.stop)
        self.assertTrue(daemon.wait_for_line(" - Server is Online ..."), daemon.output())
        with open("/proc/%d/status" % daemon.process.pid) as f:
            status = dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)
        self.assertEqual(status["Uid"].split(), [str(nobody.pw_uid)] * 4)
        self.assertEqual(status["Gid"].split(), [str(nobody.pw_gid)] * 4)
        self.assertEqual(status["Groups"].strip(), "")
        self.assertEqual(status["CapEff"], "0000000000000000")

        c = home.client("u")
        self.assertEqual(c.transfer("STOR up.bin", upload=b"u" * 5000)[2], COMPLETE)
        self.assertEqual(os.stat(home.path("up.bin")).st_uid, nobody.pw_uid)
        self.assertEqual(os.stat(control_socket(home.home)).st_uid, nobody.pw_uid)
        self.assertEqual(ctl(home.home, "status").returncode, 0)  # root may administer it
        self.assertEqual(daemon.stop(), 0)
        self.assertNotIn("warning", daemon.process.stderr.read())

    def test_an_unprivileged_user_holding_the_bind_capability_serves_and_reloads_low_ports(self):
        home = self.make_home()
        os.chmod(home, 0o777)
        port = second = free_port(600, 1000)
        while second == port:
            second = free_port(600, 1000)
        ip_home = prepare_home(home, port)
        write_account(user_file(home, ip_home, "u"), password="pw", root=home + "/", rules=[home + "/,RLI"])
        self.addCleanup(subprocess.run, ["chown", "-R", "root:root", home])
        subprocess.run(["chown", "-R", "nobody:nogroup", home], check=True)
        # As the unit starts it: no way to gain privileges, the bind capability and nothing else.
        process = subprocess.Popen(["setpriv", "--no-new-privs", "--reuid", "nobody", "--regid", "nogroup",
                                    "--clear-groups", "--inh-caps", "+net_bind_service", "--ambient-caps",
                                    "+net_bind_service", TOLVANED, "--home", home],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        for _ in range(500):
            if ctl(home, "status").returncode == 0:
                break
            time.sleep(0.02)
        self.assertEqual(login(port), '230 User "u" logged in.')
        write_ip_home(home, "127.0.0.1-%d" % second, "127.0.0.1", second)
        write_account(user_file(home, "127.0.0.1-%d" % second, "u"), password="pw", root=home + "/",
                      rules=[home + "/,RLI"])
        subprocess.run(["chown", "-R", "nobody:nogroup", home], check=True)
        self.assertEqual(ctl(home, "reload").stdout, "reloaded: 2 IP homes\n")
        self.assertEqual(login(second), '230 User "u" logged in.')
        process.terminate()
        self.assertEqual(process.wait(30), 0)
        self.assertEqual(process.stderr.read(), "")

    def test_refusals_say_why(self):
        home = self.make_home()
        unknown = subprocess.run([TOLVANED, "--home", home, "--user", "no-such-user-here"], capture_output=True,
                                 text=True, timeout=30)
        self.assertEqual((unknown.returncode, unknown.stderr), (1, "tolvaned: no such user: no-such-user-here\n"))
        os.chmod(home, 0o777)

        def become_nobody():
            os.setgroups([])
            os.setgid(pwd.getpwnam("nobody").pw_gid)
            os.setuid(pwd.getpwnam("nobody").pw_uid)
        climbing = subprocess.run([TOLVANED, "--home", home, "--user", "root"], capture_output=True, text=True,
                                  timeout=30, preexec_fn=become_nobody)
        self.assertEqual((climbing.returncode, climbing.stderr),
                         (1, "tolvaned: cannot switch to user root: only root can (start as root, or leave out "
                             "--user)\n"))

    def test_root_without_user_is_warned_once(self):
        home = TransferHome(self)
        daemon = Daemon(home.home)
        self.assertTrue(daemon.wait_for_line(" - Server is Online ..."), daemon.output())
        self.assertEqual(daemon.stop(), 0)
        self.assertEqual(daemon.process.stderr.read(),
                         "tolvaned: warning: serving as root; give --user NAME to serve as an unprivileged user\n")


class Systemd(HomeTestCase, unittest.TestCase):
    def test_readiness_reload_and_stop_are_notified_and_the_journal_gets_priorities(self):
        home = TransferHome(self)
        folder = self.make_home()
        notify_path = os.path.join(folder, "notify")
        notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(notify.close)
        notify.bind(notify_path)
        notify.settimeout(30)
        journal = open(os.path.join(folder, "journal"), "w+")
        self.addCleanup(journal.close)
        stream = os.fstat(journal.fileno())
        environment = dict(os.environ, NOTIFY_SOCKET=notify_path,
                           JOURNAL_STREAM="%d:%d" % (stream.st_dev, stream.st_ino))
        process = subprocess.Popen([TOLVANED, "--home", home.home, "--user", pwd.getpwuid(os.getuid()).pw_name],
                                   stdout=journal, stderr=subprocess.PIPE, env=environment)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        self.assertEqual(notify.recv(4096), b"READY=1")
        self.assertEqual(home.client("u").command("NOOP"), "200 Command okay.")
        write_ip_home(home.home, "zz", "127.0.0.1", home.port)  # its port is taken: an error at reload
        process.send_signal(signal.SIGHUP)
        self.assertEqual((notify.recv(4096), notify.recv(4096)), (b"RELOADING=1", b"READY=1"))
        process.send_signal(signal.SIGTERM)
        self.assertEqual(notify.recv(4096), b"STOPPING=1")
        self.assertEqual(process.wait(30), 0)
        journal.seek(0)
        lines = journal.read().splitlines()
        self.assertTrue(all(re.match(r"<[356]>", line) for line in lines), lines)
        self.assertNotIn("\x1b", "".join(lines))
        self.assertIn("- zz-(127.0.0.1:%d) ,failed." % home.port, [line[3:].split(" ", 1)[1] for line in lines
                                                                    if line.startswith("<3>")])
        self.assertIn("<5>Tolvane-D v0.2", lines)
        self.assertTrue(any(line.startswith("<6>") and line.endswith("200 Command okay.") for line in lines))
