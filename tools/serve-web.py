#!/usr/bin/env python3
"""A small static file server for pages that run the engine in a Web Worker.

    tools/serve-web.py [--port PORT] [--bind ADDRESS] [DIR]

Serves DIR (default build-web) at http://ADDRESS:PORT/ (default 127.0.0.1:8000) with the two headers
that make a page cross-origin isolated, which the engine's input queue needs (it lives in a
SharedArrayBuffer): Cross-Origin-Opener-Policy: same-origin and Cross-Origin-Embedder-Policy:
require-corp. Port 0 picks a free port. The first line on standard output says where it serves:
"serving DIR at http://ADDRESS:PORT/". Stops on Ctrl-C or SIGTERM.
"""
import argparse
import functools
import http.server
import os
import signal
import sys


class IsolatedHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".js": "text/javascript",
        ".mjs": "text/javascript",
        ".wasm": "application/wasm",
        ".json": "application/json",
    }

    def end_headers(self):
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cross-Origin-Resource-Policy", "same-origin")
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def log_message(self, format, *args):
        if not self.server.quiet:
            super().log_message(format, *args)


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
    server = http.server.ThreadingHTTPServer((args.bind, args.port), handler)
    server.quiet = args.quiet
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    host, port = server.server_address[:2]
    print("serving %s at http://%s:%d/" % (args.dir, host, port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
