"""pyftpdlib for the benchmark: one user, loopback, passive range, wide limits, quiet log.

    python3 pyftpdlib_server.py PORT LOW HIGH USER PASSWORD HOME [CERTIFICATE KEY]

With a certificate and key it offers explicit FTPS too (TLS_FTPHandler, which needs pyOpenSSL).
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib import handlers
from pyftpdlib.servers import FTPServer


def main():
    port, low, high, user, password, home = sys.argv[1:7]
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    handler = handlers.FTPHandler
    if len(sys.argv) > 8:
        handler = handlers.TLS_FTPHandler
        handler.certfile, handler.keyfile = sys.argv[7:9]
    handler.authorizer = authorizer
    handler.passive_ports = range(int(low), int(high) + 1)
    handler.timeout = 3000
    server = FTPServer(("127.0.0.1", int(port)), handler, backlog=4096)
    server.max_cons = 0
    server.max_cons_per_ip = 0
    print("serving", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
