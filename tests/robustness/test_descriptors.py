"""A server that has run out of descriptors refuses the next client at once, and serves again once
sessions leave."""
import os
import resource
import time
import unittest

from robust import HEAVY  # noqa: F401 - also sets the import path
from accounts import FULL
from tolvane import BANNER, Daemon, HomeTestCase, RawClient, free_port, prepare_home, user_file, write_account

REFUSAL = "421 Out of Network sockets, please try later\r\n"
# Descriptors left to the server above what it holds idle: a few sessions' worth.
HEADROOM = 12


# UBSan checks a dynamic type by writing the memory to a pipe: with no descriptor left it opens none
# and reports every such check as an invalid vptr.
@unittest.skipIf(os.environ.get("TOLVANE_SANITIZER") == "asan", "UBSan needs a descriptor for its type checks")
class OutOfDescriptors(HomeTestCase, unittest.TestCase):
    def setUp(self):
        home = self.make_home()
        self.port = free_port()
        ip_home = prepare_home(home, self.port)
        root = os.path.join(home, "files") + "/"
        os.makedirs(root)
        write_account(user_file(home, ip_home, "idle"), password="pw", root=root, rules=[root + "," + FULL],
                      misc={"Timeout": -1})
        self.daemon = Daemon(home)
        self.addCleanup(self.daemon.stop)
        self.assertTrue(self.daemon.wait_for_line(" - Server is Online ...", timeout=10), self.daemon.output())
        self.held = []
        self.logged_in = []
        self.addCleanup(lambda: [client.close() for client in self.held])

    def limit_server_descriptors(self):
        self.limit = self.daemon.descriptors() + HEADROOM
        resource.prlimit(self.daemon.process.pid, resource.RLIMIT_NOFILE, (self.limit, self.limit))

    def wait_for_server_descriptors_below(self, count):
        deadline = time.time() + 30
        while self.daemon.descriptors() >= count and time.time() < deadline:
            time.sleep(0.02)

    def greeting(self):
        """A new client and the first line it is sent (the whole greeting when it is served)."""
        client = RawClient(self.port, timeout=30)
        first = client.read_line()
        if first.startswith("220-"):
            client.buffer = first.encode("latin-1") + client.buffer
            first = client.read_exactly(len(BANNER)) + client.read_line()
        return client, first

    def fill_with_sessions(self):
        """Logs in sessions until a login fails for want of a descriptor to read the account, then
        holds greeted clients until one is refused; returns that one and what it was sent."""
        logins_fail = False
        for _ in range(4 * HEADROOM):
            client, greeting = self.greeting()
            if not greeting.startswith(BANNER):
                return client, greeting
            self.held.append(client)
            if logins_fail:
                continue
            self.assertEqual(client.command("USER idle"), "331 Need password.")
            if client.command("PASS pw") == '230 User "idle" logged in.':
                self.logged_in.append(client)
                continue
            # The server ends that session: full only once its descriptor is closed too.
            logins_fail = True
            self.assertTrue(client.closed())
            self.held.pop().close()
            self.wait_for_server_descriptors_below(self.limit)
        self.fail("never refused; %d sessions held" % len(self.held))

    def test_refused_at_once_when_full_and_served_once_sessions_leave(self):
        self.limit_server_descriptors()
        client, refusal = self.fill_with_sessions()
        self.assertEqual(refusal, REFUSAL)
        client.sock.settimeout(30)
        self.assertEqual(client.sock.recv(100), b"", "the refused connection is closed")
        client.close()
        self.assertGreaterEqual(len(self.logged_in), HEADROOM // 2)
        self.assertTrue(self.daemon.wait_for_line(REFUSAL.rstrip("\r\n"), timeout=10), self.daemon.output()[-5:])

        # Still full: refused again, not left waiting.
        client, refusal = self.greeting()
        self.assertEqual(refusal, REFUSAL)
        client.close()

        for session in self.logged_in[:3]:
            session.close()
        del self.logged_in[:3]
        self.wait_for_server_descriptors_below(self.limit - 2)
        client, greeting = self.greeting()
        self.held.append(client)
        self.logged_in.append(client)
        self.assertTrue(greeting.startswith(BANNER), greeting)
        self.assertEqual(client.command("USER idle"), "331 Need password.")
        self.assertEqual(client.command("PASS pw"), '230 User "idle" logged in.')
        for session in self.logged_in:
            self.assertEqual(session.command("NOOP"), "200 Command okay.")


if __name__ == "__main__":
    unittest.main()
