#!/usr/bin/env python3
"""A release server for bench/close: serves ROOT/qor_app/... on 127.0.0.1:PORT, each file as it is,
except that a request for X is answered with X.gz, said to be gzip-encoded, where that exists: what
object stores and CDNs do with files that they keep encoded, and how a gzip bomb reaches a client.

    server.py ROOT PORT
"""
import http.server
import os
import sys

root, port = sys.argv[1], int(sys.argv[2])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def handle(self):
        # The updater leaves in the middle of an answer: that is what is measured.
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_GET(self):
        path = os.path.join(root, self.path.lstrip('/'))
        encoded = os.path.isfile(path + '.gz')
        if encoded:
            path += '.gz'
        if not os.path.isfile(path):
            self.send_response(404)
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        self.send_response(200)
        self.send_header('Content-Length', str(os.path.getsize(path)))
        if encoded:
            self.send_header('Content-Encoding', 'gzip')
        self.end_headers()
        with open(path, 'rb') as body:
            while chunk := body.read(1 << 20):
                self.wfile.write(chunk)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(('127.0.0.1', port), Handler).serve_forever()
