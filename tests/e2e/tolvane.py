"""Starts tolvaned on a temporary server home for end-to-end tests."""
import os
import signal
import socket
import subprocess
import tempfile
import threading
import time

TOLVANED = os.environ.get("TOLVANED", os.path.join(os.path.dirname(__file__), "../../build/src/tolvaned"))

BANNER = ("220-Tolvane-D v0.2 --*** Beta ***--\r\n"
          "xxx-Get your FREE Version at https://tolvane.dev\r\n"
          "xxx-\r\n")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_ip_home(home, title, ip, port, disabled=0, extra=""):
    database = os.path.join(home, "Database")
    for sub in ("Users", "Groups"):
        os.makedirs(os.path.join(database, title, sub), exist_ok=True)
    with open(os.path.join(database, title + ".FTP_IPHome"), "w") as f:
        f.write("[ServerSettings]\nServerName=%s\nServerIP=%s\nServerPort=%d\nMaxUsers=\nMaxTransfers=\n"
                "Disabled=%d\nSTORE_overwrite=1\n%s" % (title, ip, port, disabled, extra))


def prepare_home(home, port, disabled_default=True):
    """A home whose default IP home is disabled and which serves 127.0.0.1:<port>."""
    write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1 if disabled_default else 0)
    title = "127.0.0.1-%d" % port
    write_ip_home(home, title, "127.0.0.1", port)
    return title


class Daemon:
    """tolvaned in the foreground; its standard output is collected line by line."""

    def __init__(self, home, *args):
        self.home = home
        self.lines = []
        self._lock = threading.Lock()
        self.process = subprocess.Popen([TOLVANED, "--home", home, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, errors="replace")
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self._lock:
                self.lines.append(line.rstrip("\n"))

    def output(self):
        with self._lock:
            return list(self.lines)

    def count(self, fragment):
        return sum(fragment in line for line in self.output())

    def wait_for_line(self, fragment, timeout=5.0, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.count(fragment) >= count:
                return True
            if self.process.poll() is not None:
                time.sleep(0.1)
                return any(fragment in line for line in self.output())
            time.sleep(0.02)
        return False

    def signal(self, number):
        self.process.send_signal(number)

    def stop(self, timeout=5.0):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        self._reader.join(2)
        return code


def wait_for_port(port, timeout=5.0):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.02)
    return False


class RawClient:
    """A line-oriented FTP client over a plain socket, for exact bytes."""

    def __init__(self, port, timeout=5.0):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buffer = b""

    def read_exactly(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            self.buffer += chunk
        taken, self.buffer = self.buffer[:count], self.buffer[count:]
        return taken.decode("latin-1")

    def read_line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("latin-1") + "\r\n"

    def send(self, text):
        self.sock.sendall(text.encode("latin-1"))

    def closed(self):
        try:
            return self.sock.recv(1) == b""
        except OSError:
            return True

    def close(self):
        self.sock.close()


class HomeTestCase:
    """Mixin: a fresh server home per test."""

    def make_home(self):
        directory = tempfile.TemporaryDirectory(prefix="tolvane-e2e-")
        self.addCleanup(directory.cleanup)
        return directory.name


def write_account(path, password="", root="", rules=(), ip_rules=(), misc=None, logging=None):
    """An account file as the editor writes it; misc and logging add keys to their sections."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    lines = ["[Userinformation]", "Password=" + password, "RootDir=" + root]
    rules = list(rules)
    lines += ["AccessingRules%d=%s" % (i + 1, rule) for i, rule in enumerate(rules)]
    lines += ["AccessingRules%d=ERROR" % (len(rules) + 1), "", "[MISC-OPTIONS]"]
    lines += ["%s=%s" % item for item in (misc or {}).items()]
    lines += ["", "[IPAccess]"]
    ip_rules = list(ip_rules)
    lines += ["IPAccessRule%d=%s" % (i, rule) for i, rule in enumerate(ip_rules)]
    lines += ["IPAccessRule%d=ERROR" % len(ip_rules), "", "[Logging]"]
    lines += ["%s=%s" % item for item in (logging or {}).items()]
    with open(path, "w") as f:
        f.write("\r\n".join(lines) + "\r\n")


def user_file(home, ip_home, name, group=None):
    folder = os.path.join(home, "Database", ip_home, "Groups", group) if group else \
        os.path.join(home, "Database", ip_home, "Users")
    return os.path.join(folder, name + ".FTP_User")


def group_file(home, ip_home, group):
    return os.path.join(home, "Database", ip_home, "Groups", group + ".FTP_Group")
