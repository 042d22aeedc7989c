#!/usr/bin/env python3
"""A loopback portal for the chaos runs: a product page at /page and its package at
/package.zip, with ETag and byte ranges, optionally throttled, optionally misbehaving.

  chaos_server.py PACKAGE TITLE [--signature FILE.minisig] [--throttle KIB_PER_S]
                  [--faults PROBABILITY --seed N] [--stall SECONDS] [--log FILE]

Prints "port=N" once listening. With --faults each request, page or package, is answered
with probability P by one of: a reset mid-body, a stall, a 503, a short body. --log appends
one line per request: path, Range header, what was done."""
import argparse
import base64
import hashlib
import random
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

args = None
package = b""
page = b""
etag = ""
rng = random.Random()
rng_lock = threading.Lock()
log_lock = threading.Lock()


def log(line):
    if args.log:
        with log_lock, open(args.log, "a") as f:
            f.write(line + "\n")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def reset(self):
        # RST instead of FIN: the client sees a reset connection.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True

    def send_body(self, body, limit=None):
        data = body if limit is None else body[:limit]
        chunk = 16384
        delay = chunk / (args.throttle * 1024) if args.throttle else 0
        for i in range(0, len(data), chunk):
            self.wfile.write(data[i:i + chunk])
            if delay:
                time.sleep(delay)

    def do_GET(self):
        rng_range = self.headers.get("Range", "")
        with rng_lock:
            fault = rng.choice(["reset", "stall", "503", "short"]) \
                if args.faults and rng.random() < args.faults else ""
        if self.path == "/page":
            body, headers, status = page, [("Content-Type", "text/html; charset=utf-8")], 200
        elif self.path == "/package.zip":
            body, status = package, 200
            headers = [("Content-Type", "application/zip"), ("ETag", etag),
                       ("Accept-Ranges", "bytes")]
            if rng_range.startswith("bytes=") and self.headers.get("If-Range", etag) == etag:
                first = int(rng_range[6:].split("-")[0])
                if first >= len(package):
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % len(package))
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    log("%s %s 416" % (self.path, rng_range))
                    return
                body, status = package[first:], 206
                headers.append(("Content-Range", "bytes %d-%d/%d" %
                                (first, len(package) - 1, len(package))))
        else:
            self.send_error(404)
            return
        log("%s %s %s" % (self.path, rng_range or "-", fault or status))
        if fault == "503":
            self.send_response(503)
            self.send_header("Retry-After", "0")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if fault == "reset":
            self.send_body(body, len(body) // 2)
            self.reset()
        elif fault == "stall":
            self.send_body(body, len(body) // 3)
            self.wfile.flush()
            time.sleep(args.stall)
            self.close_connection = True
        elif fault == "short":
            self.send_body(body, len(body) - 1 - len(body) // 4)
            self.close_connection = True
        else:
            self.send_body(body)


def main():
    global args, package, page, etag
    parser = argparse.ArgumentParser()
    parser.add_argument("package")
    parser.add_argument("title")
    parser.add_argument("--signature")
    parser.add_argument("--throttle", type=int, default=0)
    parser.add_argument("--faults", type=float, default=0.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--stall", type=float, default=1.0)
    parser.add_argument("--log")
    args = parser.parse_args()
    rng.seed(args.seed)
    with open(args.package, "rb") as f:
        package = f.read()
    etag = '"%s"' % hashlib.sha256(package).hexdigest()[:16]
    meta = ""
    if args.signature:
        with open(args.signature, "rb") as f:
            meta = '<meta name="package-signature" content="%s">' % \
                base64.b64encode(f.read()).decode()
    title = args.title
    page = ('<!DOCTYPE html>\n<html><head><meta charset="utf-8">%s<title>%s</title></head>\n'
            '<body>\n<h1 title="%s">%s</h1>\n<p><a href="/package.zip">download</a></p>\n'
            '</body></html>\n' % (meta, title, title, title)).encode()
    ThreadingHTTPServer.daemon_threads = True
    ThreadingHTTPServer.allow_reuse_address = True
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("port=%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
