#!/usr/bin/env python3
"""A loopback HTTP/1.1 server for the delta benchmark: serves one file with keep-alive,
single byte ranges ("N-M", "N-", "-N"), a strong ETag, If-Match and If-Range, throttled to
RATE bytes per second per connection. GET /__stats answers "requests bytes" since the last
call and starts counting anew.

    range_server.py FILE [RATE]     prints "port N" once it listens on 127.0.0.1
"""
import http.server
import os
import sys
import threading
import time

path = sys.argv[1]
rate = int(sys.argv[2]) if len(sys.argv) > 2 else 8 << 20
with open(path, "rb") as f:
    body = f.read()
etag = '"%x-%x"' % (len(body), int(os.path.getmtime(path)))
lock = threading.Lock()
stats = [0, 0]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # As servers with keep-alive do: a short answer must not wait for the delayed ACK.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == "/__stats":
            with lock:
                text = ("%d %d" % tuple(stats)).encode()
                stats[0] = stats[1] = 0
            self.send_response(200)
            self.send_header("Content-Length", str(len(text)))
            self.end_headers()
            self.wfile.write(text)
            return
        with lock:
            stats[0] += 1
        if_match = self.headers.get("If-Match")
        if if_match and if_match != etag:
            self.send_response(412)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        first, last, status = 0, len(body) - 1, 200
        rng = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        if rng and rng.startswith("bytes=") and "," not in rng and (not if_range or if_range == etag):
            a, _, b = rng[6:].partition("-")
            if a == "":
                first = max(0, len(body) - int(b))
            else:
                first = int(a)
                if b:
                    last = min(last, int(b))
            status = 206
        self.send_response(status)
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(last - first + 1))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, len(body)))
        self.end_headers()
        start = time.monotonic()
        sent = 0
        chunk = 64 * 1024
        at = first
        while at <= last:
            n = min(chunk, last + 1 - at)
            self.wfile.write(body[at:at + n])
            at += n
            sent += n
            with lock:
                stats[1] += n
            ahead = sent / rate - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("port", server.server_address[1], flush=True)
server.serve_forever()
