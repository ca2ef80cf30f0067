"""Starts tolvaned on a temporary server home for end-to-end tests."""
import hashlib
import os
import re
import random
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


def free_port(lowest=20000, highest=32000):
    # Below the ephemeral range: a port handed out for port 0 may be taken again by another
    # test's client or passive listener before the server binds it.
    while True:
        port = random.randint(lowest, highest)
        with socket.socket() as probe:
            try:
                probe.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue


def write_ip_home(home, title, ip, port, disabled=0, extra="", max_users="", max_transfers="", store_overwrite=1):
    database = os.path.join(home, "Database")
    for sub in ("Users", "Groups"):
        os.makedirs(os.path.join(database, title, sub), exist_ok=True)
    with open(os.path.join(database, title + ".FTP_IPHome"), "w") as f:
        f.write("[ServerSettings]\nServerName=%s\nServerIP=%s\nServerPort=%d\nMaxUsers=%s\nMaxTransfers=%s\n"
                "Disabled=%d\nSTORE_overwrite=%d\n%s"
                % (title, ip, port, max_users, max_transfers, disabled, store_overwrite, extra))


def prepare_home(home, port, disabled_default=True, **settings):
    """A home whose default IP home is disabled and which serves 127.0.0.1:<port>; settings go to that IP home."""
    write_ip_home(home, "[Full Machine]", "All IP's", 21, disabled=1 if disabled_default else 0)
    title = "127.0.0.1-%d" % port
    write_ip_home(home, title, "127.0.0.1", port, **settings)
    return title


def write_settings(home, section, values):
    """Program settings (Settings.ini) of a server home."""
    lines = ["[%s]" % section] + ["%s=%s" % item for item in values.items()]
    with open(os.path.join(home, "Settings.ini"), "a") as f:
        f.write("\n".join(lines) + "\n")


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

    def descriptors(self):
        return len(os.listdir("/proc/%d/fd" % self.process.pid))

    def threads(self):
        """Threads at work: workers parked for the next piece of work, and workers waiting for
        socket events, are not counted."""
        return sum(1 for task in os.listdir("/proc/%d/task" % self.process.pid) if not self._idle(task))

    EPOLL_WAITS = {"232", "281", "441"}  # epoll_wait, epoll_pwait, epoll_pwait2 on x86-64

    def _idle(self, task):
        folder = "/proc/%d/task/%s/" % (self.process.pid, task)
        try:
            with open(folder + "comm") as comm:
                name = comm.read().strip()
            if name == "parked worker":
                return True
            if name != "reactor":
                return False
            with open(folder + "syscall") as syscall:
                return syscall.read().split(" ", 1)[0] in self.EPOLL_WAITS
        except OSError:
            return True

    def wait_for_resources(self, descriptors, threads, timeout=10.0):
        """Waits until the open descriptors and threads are back to the given counts; returns the last counts."""
        deadline = time.time() + timeout
        while True:
            counts = (self.descriptors(), self.threads())
            if counts[0] <= descriptors and counts[1] <= threads or time.time() > deadline:
                return counts
            time.sleep(0.05)

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

    def reply(self):
        """One whole reply, continuation lines included, each with its CR LF: it ends with the first line
        that begins with three digits and a blank."""
        line = text = self.read_line()
        while not re.match(r"\d{3} ", line):
            line = self.read_line()
            text += line
        return text

    def command(self, line):
        """Sends a command line and returns its reply without the last CR LF."""
        self.send(line + "\r\n")
        return self.reply()[:-2]

    def login(self, user, password):
        self.read_exactly(len(BANNER))
        self.read_line()
        self.command("USER " + user)
        return self.command("PASS " + password)

    def transfer(self, command, passive=True, upload=None, rest=None):
        """Runs a data command on a new data connection (PASV or PORT first, then REST rest when given).
        Returns the first reply, the bytes received and the final reply; the last two are None when the
        command was refused."""
        listener = data = None
        try:
            if passive:
                data = connect_data(self.pasv())
            else:
                listener = ActiveListener()
                reply = self.command("PORT " + listener.port_argument())
                if reply != "200 PORT command succeed.":
                    raise AssertionError("unexpected PORT reply: %r" % reply)
            if rest is not None:
                reply = self.command("REST %s" % rest)
                if not reply.startswith("350 "):
                    raise AssertionError("unexpected REST reply: %r" % reply)
            first = self.command(command)
            if not first.startswith("150"):
                return first, None, None
            if listener:
                data = listener.accept()
            if upload is not None:
                data.sendall(upload)
                body = b""
            else:
                body = read_to_end(data)
        finally:
            for sock in (data, listener):
                if sock:
                    sock.close()
        return first, body, self.reply()[:-2]

    def pasv(self):
        """Enters passive mode; returns the data port that the 227 reply names."""
        reply = self.command("PASV")
        match = re.fullmatch(r"227 Entering Passive Mode \(127,0,0,1,(\d+),(\d+)\)", reply)
        if not match:
            raise AssertionError("unexpected PASV reply: %r" % reply)
        return int(match.group(1)) * 256 + int(match.group(2))

    def closed(self):
        try:
            return self.sock.recv(1) == b""
        except OSError:
            return True

    def close(self):
        self.sock.close()


def connect_data(port, source="127.0.0.1", timeout=10.0):
    return socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0))


def read_to_end(sock, limit=None):
    """Everything the peer sends until it closes (a reset counts as a close)."""
    chunks, total = [], 0
    try:
        while limit is None or total < limit:
            chunk = sock.recv(1 << 20)
            if not chunk:
                break
            chunks.append(chunk)
            total += len(chunk)
    except ConnectionResetError:
        pass
    return b"".join(chunks)


class ActiveListener:
    """The client side of an active data connection: a listening socket on 127.0.0.1."""

    def __init__(self, timeout=10.0):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.sock.settimeout(timeout)
        self.port = self.sock.getsockname()[1]

    def port_argument(self, address="127,0,0,1"):
        return "%s,%d,%d" % (address, self.port // 256, self.port % 256)

    def accept(self):
        connection, _ = self.sock.accept()
        connection.settimeout(self.sock.gettimeout())
        return connection

    def close(self):
        self.sock.close()


class HomeTestCase:
    """Mixin: a fresh server home per test."""

    def make_home(self):
        directory = tempfile.TemporaryDirectory(prefix="tolvane-e2e-")
        self.addCleanup(directory.cleanup)
        return directory.name


def write_account(path, password="", root="", rules=(), ip_rules=(), misc=None, logging=None, ratio=None,
                  speed_limit=None, speed_rules=()):
    """An account file as the editor writes it; misc, logging, ratio and speed_limit add keys to their sections,
    speed_rules are the dynamic speed limit rules."""
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
    lines += ["", "[RATIO]"] + ["%s=%s" % item for item in (ratio or {}).items()]
    speed_rules = list(speed_rules)
    lines += ["", "[SPEED-LIMIT]"] + ["%s=%s" % item for item in (speed_limit or {}).items()]
    lines += ["DynamicSpeedLimitRule%d=%s" % (i, rule) for i, rule in enumerate(speed_rules)]
    lines += ["DynamicSpeedLimitRule%d=ERROR" % len(speed_rules)]
    with open(path, "w") as f:
        f.write("\r\n".join(lines) + "\r\n")


def user_file(home, ip_home, name, group=None):
    folder = os.path.join(home, "Database", ip_home, "Groups", group) if group else \
        os.path.join(home, "Database", ip_home, "Users")
    return os.path.join(folder, name + ".FTP_User")


def group_file(home, ip_home, group):
    return os.path.join(home, "Database", ip_home, "Groups", group + ".FTP_Group")


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def tree_digest(root):
    """Relative path -> SHA-256 for every file, and the set of directories, under root."""
    files, folders = {}, set()
    for folder, dirs, names in os.walk(root):
        for name in dirs:
            folders.add(os.path.relpath(os.path.join(folder, name), root))
        for name in names:
            path = os.path.join(folder, name)
            files[os.path.relpath(path, root)] = sha256_file(path)
    return files, folders
