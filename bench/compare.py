#!/usr/bin/env python3
"""Tolvane beside vsftpd, ProFTPD, Pure-FTPd and pyftpdlib over loopback.

Installs the peers from Debian's packages (unpacked, so that no system service starts), gives
every server the same system user, home and files, starts each on its own 127.0.0.1 port,
runs bench/ftpbench against them in turn, round by round, and prints one table of medians with
min-max per line and the ratios of Tolvane to each peer. Stops everything it started by PID.

    bench/compare.py                          # full run: 3 rounds, N = 200 and 1000, 1 GiB
    bench/compare.py --rounds 1 --clients 200 --big-mib 256
    bench/compare.py --smoke                  # N = 20, small files, installed peers only
    bench/compare.py --tls                    # and the same servers over explicit FTPS

With --tls, every server also offers explicit FTPS with one self-signed certificate made for the
run, and after each plain run of a server comes a TLS run of it: RETR and STOR of the big file,
N logins at once with the memory they hold, and logins per second.

Needs root for the full run (user, PAM service, the system-user servers drop to that user).
"""
import argparse
import json
import os
import pwd
import resource
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

from throughput import make_source

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HERE = os.path.join(ROOT, "bench")
PEERS = os.path.join(HERE, "peers")
MiB = 1 << 20
USER, PASSWORD = "ftpbench", "ftpbench-pw"
PAM_SERVICE = "ftpbench"
DEBIAN_PYTHON = "/usr/bin/python3"
PEER_PACKAGES = ["vsftpd", "proftpd-core", "proftpd-mod-crypto", "pure-ftpd"]
PEER_LIBRARIES = ["libsodium23", "libcap2", "libpam0g", "libssl3", "libwrap0", "libpam-modules", "libmemcached11",
                  "libmemcachedutil2", "libpcre2-posix3", "python3-pyftpdlib", "python3-openssl"]

# name, port, passive range; every range lies below the ephemeral ports.
SERVERS = [("tolvane", 2201, (10000, 13999)), ("vsftpd", 2202, (14000, 17999)), ("proftpd", 2203, (18000, 21999)),
           ("pure-ftpd", 2204, (22000, 25999)), ("pyftpdlib", 2205, (26000, 29999))]

# metric, label, unit, True when more is better
LINES = [("retr_mbs", "RETR 1 file", "MB/s", True),
         ("stor_mbs", "STOR 1 file", "MB/s", True),
         ("login_s", "N connect + login at once", "s", False),
         ("retr_mbs_idle", "RETR 1 file, N idle", "MB/s", True),
         ("stor_mbs_idle", "STOR 1 file, N idle", "MB/s", True),
         ("pss_mib_idle", "server memory (PSS), N idle", "MiB", False),
         ("rss_mib_idle", "server memory (RSS), N idle", "MiB", False),
         ("crowd_retr_s", "N x RETR small at once", "s", False),
         ("crowd_stor_s", "N x STOR small at once", "s", False),
         ("quit_s", "N x QUIT at once", "s", False),
         ("logins_per_s", "logins/s, 8 threads", "1/s", True),
         ("list_s", "LIST of the big folder", "s", False)]

# The scale line, once per round and server: the most idle logged-in sessions each server holds
# under the same descriptor limit, its memory for each, and how fast a new client is greeted
# beside them.
SERVER_DESCRIPTORS = 20000
SCALE_LINES = [("scale_sessions", "idle sessions held at once", "", True),
               ("scale_pss_kib_per_session", "server memory (PSS) per idle session", "KiB", False),
               ("scale_greet_ms_median", "greeting beside them, median", "ms", False),
               ("scale_greet_ms_worst", "greeting beside them, worst", "ms", False),
               ("scale_open_s", "time to open them", "s", False)]

# The TLS run of each server: ftpbench --tls names its figures with a "tls_" prefix.
TLS_PHASES = "single,logins,rate"
TLS_LINES = [("tls_retr_mbs", "TLS: RETR 1 file", "MB/s", True),
             ("tls_stor_mbs", "TLS: STOR 1 file", "MB/s", True),
             ("tls_login_s", "TLS: N connect + login at once", "s", False),
             ("tls_pss_mib_idle", "TLS: server memory (PSS), N idle", "MiB", False),
             ("tls_rss_mib_idle", "TLS: server memory (RSS), N idle", "MiB", False),
             ("tls_quit_s", "TLS: N x QUIT at once", "s", False),
             ("tls_logins_per_s", "TLS: logins/s, 8 threads", "1/s", True)]


def log(text):
    print(text, file=sys.stderr, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


class Layout:
    """Where everything of one run lives."""

    def __init__(self, work):
        self.work = os.path.abspath(work)
        self.home = os.path.join(self.work, "home")
        self.tolvane_home = os.path.join(self.work, "tolvane-home")
        self.peers = os.path.join(self.work, "peers")
        self.logs = os.path.join(self.work, "logs")
        self.run = os.path.join(self.work, "run")
        self.empty = os.path.join(self.work, "empty")
        self.tls = os.path.join(self.work, "tls")
        self.certificate = os.path.join(self.tls, "certificate.pem")
        self.key = os.path.join(self.tls, "key.pem")
        self.key_and_certificate = os.path.join(self.tls, "key-and-certificate.pem")

    def sbin(self, name):
        for folder in (os.path.join(self.peers, "usr", "sbin"), "/usr/sbin"):
            path = os.path.join(folder, name)
            if os.access(path, os.X_OK):
                return path
        return None


# --- installation -------------------------------------------------------------------------------

def install_peers(layout):
    """apt installs only one of the FTP daemons (they conflict) and starts its service, so each is
    downloaded and unpacked instead; their libraries and pyftpdlib install normally."""
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    missing = [p for p in PEER_LIBRARIES if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p],
                                                           capture_output=True, text=True).stdout
               != "install ok installed"]
    if missing:
        log("installing " + " ".join(missing))
        run(["apt-get", "install", "-y", "--no-install-recommends"] + missing, env=env)
    debs = os.path.join(layout.work, "debs")
    os.makedirs(debs, exist_ok=True)
    for package in PEER_PACKAGES:
        if not any(f.startswith(package + "_") for f in os.listdir(debs)):
            log("downloading " + package)
            run(["apt-get", "download", package], cwd=debs)
    unpacked = all(layout.sbin(n) and layout.sbin(n).startswith(layout.peers) for n in ("vsftpd", "proftpd", "pure-ftpd"))
    if not unpacked or not os.path.exists(proftpd_module(layout, "mod_tls.so")):
        for deb in sorted(os.listdir(debs)):
            run(["dpkg-deb", "-x", os.path.join(debs, deb), layout.peers])


def proftpd_module(layout, name):
    return os.path.join(layout.peers, "usr", "lib", "proftpd", name)


def make_certificate(layout):
    """One self-signed RSA certificate that every server presents."""
    os.makedirs(layout.tls, exist_ok=True)
    if not (os.path.exists(layout.certificate) and os.path.exists(layout.key)):
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/CN=127.0.0.1",
             "-keyout", layout.key, "-out", layout.certificate])
    # Pure-FTPd reads key and certificate from one file.
    with open(layout.key_and_certificate, "w") as out:
        for part in (layout.key, layout.certificate):
            with open(part) as f:
                out.write(f.read())
    for path in (layout.key, layout.key_and_certificate):
        os.chmod(path, 0o600)


def ensure_user(layout):
    """The system user every server serves; SHA-512 hash, as Debian's yescrypt default would
    make each check of the system-user servers take about 64 ms."""
    try:
        pwd.getpwnam(USER)
    except KeyError:
        run(["useradd", "--system", "--no-create-home", "--home-dir", layout.home, "--shell", "/bin/bash", USER])
    run(["usermod", "--home", layout.home, USER])
    subprocess.run(["chpasswd", "-c", "SHA512"], input="%s:%s\n" % (USER, PASSWORD), check=True, text=True,
                   capture_output=True)
    pam = os.path.join("/etc/pam.d", PAM_SERVICE)
    if not os.path.exists(pam):
        shutil.copy(os.path.join(PEERS, "pam-ftpbench"), pam)


def warm_page_cache(path):
    # Files kept from an earlier run may have left the page cache; the first server's first
    # transfer would then read from disk and pay for every server after it.
    with open(path, "rb") as f:
        while f.read(MiB):
            pass


def make_files(layout, big_mib, small_mib, entries):
    for folder in (layout.home, os.path.join(layout.home, "up"), os.path.join(layout.home, "list"), layout.logs,
                   layout.run, layout.empty):
        os.makedirs(folder, exist_ok=True)
    os.chmod(layout.empty, 0o555)
    for name, size in (("big.bin", big_mib * MiB), ("small.bin", small_mib * MiB)):
        path = os.path.join(layout.home, name)
        if not (os.path.exists(path) and os.path.getsize(path) == size):
            make_source(path, size)
        warm_page_cache(path)
    listing = os.path.join(layout.home, "list")
    present = len(os.listdir(listing))
    for index in range(present, entries):
        open(os.path.join(listing, "entry-%05d.txt" % index), "w").close()
    for name in os.listdir(os.path.join(layout.home, "up")):
        os.unlink(os.path.join(layout.home, "up", name))


def owned_by_user(layout, uid, gid):
    for top in (layout.home, layout.tolvane_home, layout.logs, layout.tls):
        for folder, dirs, files in os.walk(top):
            os.chown(folder, uid, gid)
            for name in files:
                os.chown(os.path.join(folder, name), uid, gid)


def write_tolvane_home(layout, port, tls):
    database = os.path.join(layout.tolvane_home, "Database")
    title = "127.0.0.1-%d" % port
    for ip_home, address, listen, disabled in (("[Full Machine]", "All IP's", 21, 1), (title, "127.0.0.1", port, 0)):
        for sub in ("Users", "Groups"):
            os.makedirs(os.path.join(database, ip_home, sub), exist_ok=True)
        with open(os.path.join(database, ip_home + ".FTP_IPHome"), "w") as f:
            f.write("[ServerSettings]\nServerName=%s\nServerIP=%s\nServerPort=%d\nMaxUsers=\nMaxTransfers=\n"
                    "Disabled=%d\nSTORE_overwrite=1\n" % (ip_home, address, listen, disabled))
            if tls and not disabled:
                f.write("TlsCertificate=%s\nTlsKey=%s\n" % (layout.certificate, layout.key))
    files = layout.home + "/"
    with open(os.path.join(database, title, "Users", USER + ".FTP_User"), "w") as f:
        f.write("[Userinformation]\r\nPassword=%s\r\nRootDir=%s\r\nAccessingRules1=%s,RWDECLMrcI\r\n"
                "AccessingRules2=ERROR\r\n\r\n[MISC-OPTIONS]\r\nShowRelativePath=TRUE\r\n" % (PASSWORD, files, files))


def fill(template, **values):
    with open(os.path.join(PEERS, template)) as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace("@%s@" % key, str(value))
    return text


# --- servers ------------------------------------------------------------------------------------

class Server:
    def __init__(self, name, port, passive, layout, tolvaned, as_user, tls):
        self.name, self.port, self.passive, self.layout = name, port, passive, layout
        self.tolvaned, self.as_user, self.tls = tolvaned, as_user, tls
        self.process = None
        self.restarts = 0
        self.tls_seen = set()  # protocol, cipher and data resumption, as the client saw them

    def command(self):
        low, high = self.passive
        layout = self.layout
        if self.name == "tolvane":
            return [self.tolvaned, "--home", layout.tolvane_home]
        if self.name == "vsftpd":
            conf = os.path.join(layout.run, "vsftpd.conf")
            with open(conf, "w") as f:
                f.write(fill("vsftpd.conf", PORT=self.port, LOW=low, HIGH=high, PAM=PAM_SERVICE, WORK=layout.work))
                if self.tls:
                    f.write(fill("vsftpd-tls.conf", CERT=layout.certificate, KEY=layout.key))
            return [layout.sbin("vsftpd"), conf]
        if self.name == "proftpd":
            conf = os.path.join(layout.run, "proftpd.conf")
            with open(conf, "w") as f:
                f.write(fill("proftpd.conf", PORT=self.port, LOW=low, HIGH=high, PAM=PAM_SERVICE, WORK=layout.work))
                if self.tls:
                    f.write(fill("proftpd-tls.conf", MODULES=os.path.dirname(proftpd_module(layout, "mod_tls.so")),
                                 CERT=layout.certificate, KEY=layout.key))
            return [layout.sbin("proftpd"), "-n", "-q", "-c", conf]
        if self.name == "pure-ftpd":
            lines = fill("pure-ftpd.args", PORT=self.port, LOW=low, HIGH=high).splitlines()
            args = [a for line in lines if line and not line.startswith("#") for a in line.split(" ", 1)]
            # -Y 1: TLS offered, clear still taken; -2: the file with the key and certificate.
            tls = ["-Y", "1", "-2", layout.key_and_certificate] if self.tls else []
            return [layout.sbin("pure-ftpd")] + args + tls
        return [DEBIAN_PYTHON, os.path.join(PEERS, "pyftpdlib_server.py"), str(self.port), str(low), str(high), USER,
                PASSWORD, layout.home] + ([layout.certificate, layout.key] if self.tls else [])

    def start(self):
        output = open(os.path.join(self.layout.logs, self.name + ".out"), "ab")
        drop = self.as_user if self.name in ("tolvane", "pyftpdlib") else None

        def as_bench_user():
            # Every server under the same descriptor limit: it bounds the scale line.
            hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
            limit = SERVER_DESCRIPTORS if os.geteuid() == 0 else min(SERVER_DESCRIPTORS, hard)
            resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))
            if drop:
                os.setgroups([])
                os.setgid(drop[1])
                os.setuid(drop[0])

        # Its own process group, so that the sessions a forking server made end with it.
        self.process = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL, stdout=output,
                                        stderr=subprocess.STDOUT, start_new_session=True, preexec_fn=as_bench_user)
        output.close()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("%s ended at start; see %s" % (self.name, self.layout.logs))
            if self.greets():
                return
            time.sleep(0.1)
        raise RuntimeError("%s did not greet on port %d" % (self.name, self.port))

    def greets(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=2) as probe:
                return probe.recv(4).startswith(b"220")
        except OSError:
            return False

    def ensure_running(self):
        if self.process is None or self.process.poll() is not None:
            if self.process is not None:
                self.restarts += 1
                log("%s had ended; started again" % self.name)
            self.start()

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        try:
            os.killpg(self.process.pid, signal.SIGTERM)
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        except ProcessLookupError:
            pass

    def version(self):
        try:
            if self.name == "tolvane":
                return run([self.tolvaned, "--version"]).stdout.strip()
            if self.name == "vsftpd":
                # vsftpd prints its version on descriptor 0.
                return subprocess.run(["sh", "-c", 'exec "$0" -v 0>&1', self.layout.sbin("vsftpd")],
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout.strip()
            if self.name == "pyftpdlib":
                return "pyftpdlib " + run([DEBIAN_PYTHON, "-c", "import pyftpdlib; print(pyftpdlib.__ver__)"]).stdout.strip()
            package = {"proftpd": "proftpd-core", "pure-ftpd": "pure-ftpd"}[self.name]
            debs = os.path.join(self.layout.work, "debs")
            found = [f for f in os.listdir(debs) if f.startswith(package + "_")] if os.path.isdir(debs) else []
            return found[0].rsplit(".", 1)[0] if found else self.name
        except (OSError, subprocess.CalledProcessError):
            return self.name


def stopped_on_signal(number, frame):
    raise KeyboardInterrupt


# --- the run ------------------------------------------------------------------------------------

def run_client(args, server, clients, layout, phases=None, tls=False):
    command = [args.client, "--port", str(server.port), "--user", USER, "--password", PASSWORD, "--home", layout.home,
               "--pid", str(server.process.pid), "--clients", str(clients), "--tag", server.name,
               "--login-seconds", str(args.login_seconds)] + (["--phases", phases] if phases else [])
    command += ["--scale-sessions", str(args.scale_sessions)] if args.scale_sessions else []
    command += ["--tls"] if tls else []
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                timeout=args.client_timeout)
        text = result.stdout
    except subprocess.TimeoutExpired as timeout:
        text = (timeout.stdout or b"").decode(errors="replace") if isinstance(timeout.stdout, bytes) else (timeout.stdout or "")
        text += "\nerror client timed out\n"
    figures, errors = {}, []
    for line in text.splitlines():
        name, _, value = line.partition(" ")
        if name == "tls":
            server.tls_seen.add(value)
            continue
        if name in ("error", "note"):
            errors.append(value)
            continue
        try:
            figures[name] = float(value)
        except ValueError:
            errors.append(line)
    for key in [k for k in figures if k.endswith("_failures") and figures[k] > 0]:
        errors.append("%s %d" % (key, figures[key]))
    return figures, errors


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def cell(values, unit):
    if not values:
        return "failed"
    digits = 2 if unit in ("s", "ms") else (0 if unit in ("MB/s", "1/s", "") else 1)
    fmt = "%%.%df" % digits
    median = statistics.median(values)
    if len(values) == 1:
        return fmt % median
    return (fmt + " [" + fmt + "–" + fmt + "]") % (median, min(values), max(values))


def ratio(tolvane, peer, more_is_better):
    if not tolvane or not peer:
        return "–"
    a, b = statistics.median(tolvane), statistics.median(peer)
    if a <= 0 or b <= 0:
        return "–"
    return "%.2f×" % (a / b if more_is_better else b / a)


# Lines that need all N clients logged in; a server that let some of them wait in vain did less
# work there, so its figure is marked and not compared.
CROWD_LINES = {"login_s", "pss_mib_idle", "rss_mib_idle", "crowd_retr_s", "crowd_stor_s", "quit_s", "tls_login_s",
               "tls_pss_mib_idle", "tls_rss_mib_idle", "tls_quit_s"}


def kind(metric):
    """Which run of a server gave the figure: the plain one or the TLS one."""
    return "tls_" if metric.startswith("tls_") else ""


def table(results, shortfall, names, counts, args, lines):
    rows = []
    sizes = "RETR/STOR 1 file = %d MiB, small = %d MiB, big folder = %d entries" % (args.big_mib, args.small_mib,
                                                                                      args.list_entries)
    rows.append(sizes + "; median [min–max] over %d round(s)\n" % args.rounds)
    for count in counts:
        rows.append("### N = %d\n" % count)
        rows.append("| line | unit | " + " | ".join(names) + " |")
        rows.append("|---|---|" + "---|" * len(names))
        for metric, label, unit, _ in lines:
            values = []
            for name in names:
                text = cell(results[(count, name)].get(metric, []), unit)
                missed = shortfall.get((count, name, kind(metric)))
                if metric in CROWD_LINES and missed:
                    text += " (%d of %d not in)" % (missed, count)
                values.append(text)
            rows.append("| %s | %s | %s |" % (label.replace("N", str(count)) if " N" in label or label.startswith("N")
                                              else label, unit, " | ".join(values)))
        if "tolvane" in names and len(names) > 1:
            peers = [n for n in names if n != "tolvane"]
            rows.append("")
            rows.append("Tolvane's lead (above 1 = Tolvane ahead):\n")
            rows.append("| line | " + " | ".join("vs " + p for p in peers) + " |")
            rows.append("|---|" + "---|" * len(peers))
            for metric, label, unit, better in lines:
                tol = results[(count, "tolvane")].get(metric, [])
                shown = []
                for p in peers:
                    if (metric in CROWD_LINES and shortfall.get((count, p, kind(metric)))
                            and not shortfall.get((count, "tolvane", kind(metric)))):
                        shown.append("peer failed")
                    else:
                        shown.append(ratio(tol, results[(count, p)].get(metric, []), better))
                rows.append("| %s | %s |" % (label.replace("N", str(count)) if " N" in label or label.startswith("N")
                                             else label, " | ".join(shown)))
        rows.append("")
    if len(counts) > 1:
        rows.append(growth(results, shortfall, names, counts, lines))
    return "\n".join(rows)


def scale_table(results, names):
    """The scale line has no N: one section, with the ratios beside each peer."""
    peers = [n for n in names if n != "tolvane"] if "tolvane" in names else []
    rows = ["### Idle sessions at scale (each server under a limit of %d descriptors)\n" % SERVER_DESCRIPTORS,
            "| line | unit | " + " | ".join(names) + "".join(" | Tolvane vs " + p for p in peers) + " |",
            "|---|---|" + "---|" * (len(names) + len(peers))]
    for metric, label, unit, better in SCALE_LINES:
        cells = [cell(results[name].get(metric, []), unit) for name in names]
        cells += [ratio(results["tolvane"].get(metric, []), results[p].get(metric, []), better) for p in peers]
        rows.append("| %s | %s | %s |" % (label, unit or "sessions", " | ".join(cells)))
    rows.append("")
    return "\n".join(rows)


def growth(results, shortfall, names, counts, lines):
    low, high = min(counts), max(counts)
    rows = ["### Growth from N = %d to N = %d\n" % (low, high),
            "Each crowd line at N = %d divided by the same line at N = %d, for %g times the clients "
            "(lower = the cost grows slower):\n" % (high, low, high / low),
            "| line | " + " | ".join(names) + " |",
            "|---|" + "---|" * len(names)]
    for metric, label, _, _ in lines:
        if metric not in CROWD_LINES:
            continue
        cells = []
        for name in names:
            small, large = results[(low, name)].get(metric, []), results[(high, name)].get(metric, [])
            if not small or not large or statistics.median(small) <= 0:
                cells.append("–")
                continue
            text = "%.1f×" % (statistics.median(large) / statistics.median(small))
            if shortfall.get((low, name, kind(metric))) or shortfall.get((high, name, kind(metric))):
                text += " (not all in)"
            cells.append(text)
        rows.append("| %s | %s |" % (label, " | ".join(cells)))
    rows.append("")
    return "\n".join(rows)


def tls_capable(name):
    """pyftpdlib's TLS needs pyOpenSSL; the others have theirs built in or unpacked."""
    if name != "pyftpdlib":
        return True
    found = subprocess.run([DEBIAN_PYTHON, "-c", "import OpenSSL"], capture_output=True).returncode == 0
    if not found:
        log("pyftpdlib without TLS: no pyOpenSSL")
    return found


def available_servers(args, layout, root):
    names = []
    for name, port, passive in SERVERS:
        if args.servers and name not in args.servers:
            continue
        if name in ("vsftpd", "proftpd", "pure-ftpd"):
            if not root or layout.sbin(name) is None:
                log("skipping %s: %s" % (name, "not root" if not root else "not installed"))
                continue
        if name == "pyftpdlib" and subprocess.run([DEBIAN_PYTHON, "-c", "import pyftpdlib"],
                                                  capture_output=True).returncode != 0:
            log("skipping pyftpdlib: not installed")
            continue
        names.append((name, port, passive))
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tolvaned", default=os.path.join(ROOT, "build", "src", "tolvaned"))
    parser.add_argument("--client", default=os.path.join(ROOT, "build", "bench", "ftpbench"))
    parser.add_argument("--work", default="/var/tmp/tolvane-bench", help="home, peers, logs (needs ~3 GiB)")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--clients", default="200,1000", help="values of N, comma-separated")
    parser.add_argument("--big-mib", type=int, default=1024)
    parser.add_argument("--small-mib", type=int, default=10)
    parser.add_argument("--list-entries", type=int, default=10000)
    parser.add_argument("--login-seconds", type=float, default=10)
    parser.add_argument("--client-timeout", type=float, default=1800)
    parser.add_argument("--servers", default="", help="comma-separated subset of " + ",".join(s[0] for s in SERVERS))
    parser.add_argument("--no-install", action="store_true", help="use the peers that are already there")
    parser.add_argument("--smoke", action="store_true", help="N = 20, small files, one round, installed peers only")
    parser.add_argument("--json", help="also write every figure to this file")
    parser.add_argument("--port-offset", type=int, default=0, help="added to every port, for a second run beside one")
    parser.add_argument("--tls", action="store_true", help="also measure every server over explicit FTPS")
    parser.add_argument("--phases", help="only these phases of ftpbench in each plain run, for profiling one")
    parser.add_argument("--no-scale", dest="scale", action="store_false", help="leave out the scale line")
    parser.add_argument("--scale-only", action="store_true", help="only the scale line")
    parser.add_argument("--scale-sessions", type=int, default=0,
                        help="at most this many idle sessions in the scale line (default: as many as fit)")
    args = parser.parse_args()
    args.servers = [s for s in args.servers.split(",") if s]
    if args.smoke:
        args.rounds, args.clients, args.big_mib, args.small_mib = 1, "20", 8, 1
        args.list_entries, args.login_seconds, args.no_install = 300, 1, True
        args.scale_sessions = args.scale_sessions or 300
    counts = [int(c) for c in args.clients.split(",")]
    for program in (args.tolvaned, args.client):
        if not os.access(program, os.X_OK):
            sys.exit("missing %s (cmake --build build --target tolvaned ftpbench)" % program)

    signal.signal(signal.SIGTERM, stopped_on_signal)
    layout = Layout(args.work)
    root = os.geteuid() == 0
    os.makedirs(layout.work, exist_ok=True)
    os.chmod(layout.work, 0o755)
    if root and not args.no_install:
        install_peers(layout)
    chosen = available_servers(args, layout, root)
    system_user = root and any(name in ("vsftpd", "proftpd", "pure-ftpd") for name, *_ in chosen)
    if system_user:
        ensure_user(layout)
    make_files(layout, args.big_mib, args.small_mib, args.list_entries)
    if args.tls:
        make_certificate(layout)
    write_tolvane_home(layout, SERVERS[0][1] + args.port_offset, args.tls)
    as_user = None
    if system_user:
        entry = pwd.getpwnam(USER)
        as_user = (entry.pw_uid, entry.pw_gid)
        owned_by_user(layout, *as_user)
    offset = args.port_offset
    servers = [Server(name, port + offset, (passive[0] + offset, passive[1] + offset), layout, args.tolvaned, as_user,
                      args.tls and tls_capable(name)) for name, port, passive in chosen]
    lines = LINES + (TLS_LINES if args.tls else [])
    names = [s.name for s in servers]
    results = {(count, name): {} for count in counts for name in names}
    scale_results = {name: {} for name in names}
    shortfall = {}  # (N, server): most clients that never logged in, over the rounds
    failures = []
    try:
        for server in servers:
            server.start()
        # Untimed: the first transfers after an idle spell ran at a fraction of the speed of
        # every later one, and they would fall on the first server of round 1 alone.
        for server in servers:
            if args.scale_only:
                break
            run_client(args, server, counts[0], layout, phases="single")
            if server.tls:
                run_client(args, server, counts[0], layout, phases="single", tls=True)
        for round_number in range(1, args.rounds + 1):
            for count in [] if args.scale_only else counts:
                for server in servers:
                    for prefix in ("", "tls_") if server.tls else ("",):
                        server.ensure_running()
                        started = time.monotonic()
                        figures, errors = run_client(args, server, count, layout, TLS_PHASES if prefix else args.phases,
                                                     tls=bool(prefix))
                        log("round %d  N=%d  %-9s %5.0f s  load %s  %s%s" % (
                            round_number, count, server.name, time.monotonic() - started, load_average(),
                            " ".join("%s=%.4g" % (m, figures[m]) for m, *_ in lines if m in figures),
                            ("  ERRORS: " + "; ".join(errors)) if errors else ""))
                        for metric, value in figures.items():
                            results[(count, server.name)].setdefault(metric, []).append(value)
                        missed = int(figures.get(prefix + "login_failures", 0))
                        if missed > 0:
                            key = (count, server.name, prefix)
                            shortfall[key] = max(shortfall.get(key, 0), missed)
                        failures += ["round %d N=%d %s: %s" % (round_number, count, server.name, e) for e in errors]
            for server in servers if args.scale or args.scale_only else []:
                server.ensure_running()
                started = time.monotonic()
                load = load_average()
                figures, errors = run_client(args, server, 0, layout, "scale")
                log("round %d  scale  %-9s %5.0f s  load %s  %s%s" % (
                    round_number, server.name, time.monotonic() - started, load,
                    " ".join("%s=%.6g" % (m, figures[m]) for m, *_ in SCALE_LINES if m in figures),
                    ("  ERRORS: " + "; ".join(errors)) if errors else ""))
                for metric, value in figures.items():
                    scale_results[server.name].setdefault(metric, []).append(value)
                failures += ["round %d scale %s: %s" % (round_number, server.name, e) for e in errors]
    finally:
        for server in servers:
            server.stop()
    if not args.scale_only:
        print(table(results, shortfall, names, counts, args, lines))
    if args.scale or args.scale_only:
        print(scale_table(scale_results, names))
    print("versions: " + "; ".join(s.version() for s in servers))
    if args.tls:
        print("TLS as the client saw it: " + "; ".join("%s: %s" % (s.name, " / ".join(sorted(s.tls_seen)) or "none")
                                                        for s in servers))
    if failures:
        print("\nfailures and retries:\n" + "\n".join("- " + f for f in failures))
    if args.json:
        kept = {"%d/%s" % key: value for key, value in results.items()}
        kept.update({"scale/%s" % name: value for name, value in scale_results.items()})
        with open(args.json, "w") as f:
            json.dump(kept, f, indent=1)
    missing = [(c, s.name, m) for c in counts for s in servers for m, *_ in lines
               if not results[(c, s.name)].get(m) and (s.tls or not kind(m))]
    missing += [("scale", name, m) for name in names for m, *_ in SCALE_LINES
                if (args.scale or args.scale_only) and not scale_results[name].get(m)]
    if args.smoke and missing:
        sys.exit("smoke run missed figures: %s" % missing)


if __name__ == "__main__":
    main()
