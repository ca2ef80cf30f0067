"""Measures how many wrong passwords one address gets answered per second: parallel clients each
connect, send USER and a wrong PASS and read the reply, for a fixed time. Then tries the right
password from the same address, and counts from the server log how many guesses were checked
before the address was refused. Prints the figures; asserts nothing (bench work, not in ctest).

    TOLVANED=../../build/src/tolvaned python3 guess_rate.py --clients 8 --seconds 10
"""
import argparse
import multiprocessing
import os
import socket
import tempfile
import time

from robust import HEAVY  # noqa: F401 - also sets the import path
from tolvane import BANNER, Daemon, RawClient, free_port, prepare_home, user_file, write_account


def guess(port, seconds, results):
    checked = 0
    end = time.time() + seconds
    while time.time() < end:
        try:
            client = RawClient(port, timeout=30)
            client.read_exactly(len(BANNER))
            client.read_line()
            client.command("USER victim")
            if client.command("PASS guess%d" % checked).startswith("530 "):
                checked += 1
            client.close()
        except (OSError, EOFError):
            time.sleep(0.01)
    results.put(checked)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=10.0)
    arguments = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="tolvane-guess-") as home:
        port = free_port()
        ip_home = prepare_home(home, port)
        root = os.path.join(home, "root") + "/"
        os.makedirs(root)
        write_account(user_file(home, ip_home, "victim"), password="right", root=root, rules=[root + ",RLI"])
        daemon = Daemon(home)
        try:
            if not daemon.wait_for_line(" - Server is Online ..."):
                raise SystemExit("tolvaned did not come online")
            results = multiprocessing.Queue()
            workers = [multiprocessing.Process(target=guess, args=(port, arguments.seconds, results))
                       for _ in range(arguments.clients)]
            began = time.time()
            for worker in workers:
                worker.start()
            total = sum(results.get() for _ in workers)
            for worker in workers:
                worker.join()
            elapsed = time.time() - began
            client = RawClient(port, timeout=30)
            answer = client.login("victim", "right")
            client.close()
            print("%d clients, %.1f s: %d wrong passwords answered, %.1f per second; right password then: %s"
                  % (arguments.clients, elapsed, total, total / elapsed, answer))
            # The reply to a refused address is the same 530 as to a wrong password: the log tells
            # how many guesses were checked before the address was refused.
            output = daemon.output()
            blocks = [index for index, line in enumerate(output) if "Too many failed logins" in line]
            checked = sum("PASS >> Hidden <<" in line for line in output[:blocks[0] if blocks else None])
            print("guesses checked before the address was refused: %s; log lines about refusing: %d"
                  % (checked if blocks else "all", len(blocks)))
            for index in blocks[:3]:
                print("  " + output[index])
        finally:
            daemon.stop()


if __name__ == "__main__":
    main()
