#!/usr/bin/env python3
"""Serves the web page of the show on 127.0.0.1.

usage: serve.py [--port N] [--quiet] FOLDER

Prints the address once it listens (port 0 picks a free one). The page's
files go out with the types the browser needs (the WebAssembly module as
application/wasm), never cached, so a rebuilt page is what loads, and
cross-origin isolated, which gives the page's clock (performance.now()) its
finest resolution: the show's clock and its sound's syncs read it.
"""
import argparse
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map, **{
        ".wasm": "application/wasm",
        ".js": "text/javascript",
        ".data": "application/octet-stream",
        ".html": "text/html; charset=utf-8",
    })
    quiet = False

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        super().end_headers()

    def log_message(self, format, *args):
        if not self.quiet:
            super().log_message(format, *args)


def main():
    parser = argparse.ArgumentParser(description="Serves the show's web page on 127.0.0.1.")
    parser.add_argument("folder")
    parser.add_argument("--port", type=int, default=8000)
    parser.add_argument("--quiet", action="store_true", help="no line per request")
    args = parser.parse_args()
    Handler.quiet = args.quiet
    handler = functools.partial(Handler, directory=args.folder)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    except OSError as e:
        print(f"serve.py: cannot listen on 127.0.0.1:{args.port}: {e.strerror}", file=sys.stderr)
        return 1
    print(f"The show is at http://127.0.0.1:{server.server_address[1]}/ (Ctrl-C ends the server)", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
