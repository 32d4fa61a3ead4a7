#!/usr/bin/env python3
"""A small static file server for pages that run the engine in a Web Worker.

    tools/serve-web.py [--port PORT] [--bind ADDRESS] [DIR]

Serves DIR (default build-web) at http://ADDRESS:PORT/ (default 127.0.0.1:8000) with the two headers
that make a page cross-origin isolated: Cross-Origin-Opener-Policy: same-origin and
Cross-Origin-Embedder-Policy: require-corp. An isolated page gives the engine its faster input, a queue
in shared memory; any other page plays too. Browsers honour the headers only on https pages and on this
machine's own (loopback) addresses, so they are sent only to requests made to such an address; a phone
reaching the server over the local network (--bind 0.0.0.0) gets the page without them.

Port 0 picks a free port. The first line on standard output says where it serves:
"serving DIR at http://ADDRESS:PORT/"; with an address other than loopback, the next lines name the
addresses to open on another device of the network. Stops on Ctrl-C or SIGTERM.
"""
import argparse
import functools
import http.server
import ipaddress
import os
import signal
import socket
import sys


def loopback_host(host_header):
    """Whether a request's Host header names this machine's loopback: localhost or a loopback address."""
    host = (host_header or "").strip().lower()
    if host.startswith("["):
        host = host[1:host.find("]")] if "]" in host else host
    elif host.count(":") == 1:
        host = host.split(":")[0]
    if host == "localhost" or host.endswith(".localhost"):
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def network_addresses():
    """This machine's addresses that another device of the local network may reach (IPv4)."""
    found = set()
    try:
        for info in socket.getaddrinfo(socket.gethostname(), None, socket.AF_INET):
            found.add(info[4][0])
    except OSError:
        pass
    try:  # the address of the default route's interface
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.connect(("10.254.254.254", 9))  # nothing is sent: this only picks a route
            found.add(probe.getsockname()[0])
    except OSError:
        pass
    return sorted(a for a in found if not ipaddress.ip_address(a).is_loopback)


class IsolatedHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".js": "text/javascript",
        ".mjs": "text/javascript",
        ".wasm": "application/wasm",
        ".json": "application/json",
    }

    def end_headers(self):
        if loopback_host(self.headers.get("Host")):
            self.send_header("Cross-Origin-Opener-Policy", "same-origin")
            self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
            self.send_header("Cross-Origin-Resource-Policy", "same-origin")
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def log_message(self, format, *args):
        if not self.server.quiet:
            super().log_message(format, *args)


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A browser that closes a connection early (a page left, a reload) is no fault of the server.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description="Serves a folder with the headers of a cross-origin isolated page.")
    parser.add_argument("dir", nargs="?", default="build-web")
    parser.add_argument("--port", type=int, default=8000, help="0 picks a free port (default 8000)")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--quiet", action="store_true", help="no line per request on standard error")
    args = parser.parse_args()
    if not os.path.isdir(args.dir):
        parser.error("no such folder: " + args.dir)
    handler = functools.partial(IsolatedHandler, directory=os.path.abspath(args.dir))
    server = Server((args.bind, args.port), handler)
    server.quiet = args.quiet
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    host, port = server.server_address[:2]
    print("serving %s at http://%s:%d/" % (args.dir, host, port), flush=True)
    if not ipaddress.ip_address(host).is_loopback:
        for address in network_addresses() if ipaddress.ip_address(host).is_unspecified else [host]:
            print("  on another device of this network: http://%s:%d/" % (address, port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
