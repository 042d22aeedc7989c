#!/usr/bin/env python3
"""A loopback HTTP server for the resume benchmark: serves one file with byte ranges (ETag,
Accept-Ranges, Range + If-Range) and resets every connection once it has sent RESET_EVERY
body bytes on it. GET /__sent answers the body bytes sent so far and starts counting anew.

    reset_server.py FILE [RESET_EVERY]     prints "port N" once it listens on 127.0.0.1
"""
import fcntl
import os
import socket
import socketserver
import struct
import sys
import threading
import time

SIOCOUTQ = 0x5411
CHUNK = 1 << 20

path = sys.argv[1]
reset_every = int(sys.argv[2]) if len(sys.argv) > 2 else 32 << 20
size = os.path.getsize(path)
etag = '"%x-%x"' % (size, int(os.path.getmtime(path)))
sent_lock = threading.Lock()
sent_total = 0


def count(n):
    global sent_total
    with sent_lock:
        sent_total += n


def take_count():
    global sent_total
    with sent_lock:
        n, sent_total = sent_total, 0
    return n


def reset(sock):
    # Every byte written must have reached the client first, so that the figure counts
    # what was lost to the reset alone (nothing) and what the client asked for again.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        unsent = struct.unpack("i", fcntl.ioctl(sock.fileno(), SIOCOUTQ, b"\0" * 4))[0]
        if unsent == 0:
            break
        time.sleep(0.001)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        data = b""
        while b"\r\n\r\n" not in data:
            piece = sock.recv(65536)
            if not piece:
                return
            data += piece
        lines = data.split(b"\r\n\r\n")[0].decode("latin-1").split("\r\n")
        target = lines[0].split(" ")[1]
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if target == "/__sent":
            body = str(take_count()).encode()
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                         % len(body) + body)
            return
        first, end = 0, size
        rng = headers.get("range", "")
        if rng.startswith("bytes=") and "-" in rng and headers.get("if-range", etag) == etag:
            a, _, b = rng[6:].partition("-")
            first = int(a)
            end = min(size, int(b) + 1) if b else size
        if first >= size:
            sock.sendall(b"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%d\r\n"
                         b"Content-Length: 0\r\nConnection: close\r\n\r\n" % size)
            return
        partial = first > 0 or end < size
        head = "HTTP/1.1 %s\r\nContent-Type: application/octet-stream\r\nContent-Length: %d\r\n" \
               "Accept-Ranges: bytes\r\nETag: %s\r\nConnection: close\r\n" % (
                   "206 Partial Content" if partial else "200 OK", end - first, etag)
        if partial:
            head += "Content-Range: bytes %d-%d/%d\r\n" % (first, end - 1, size)
        sock.sendall((head + "\r\n").encode())
        offset, here = first, 0
        with open(path, "rb") as f:
            while offset < end:
                n = min(CHUNK, end - offset, reset_every - here)
                try:
                    n = os.sendfile(sock.fileno(), f.fileno(), offset, n)
                except OSError:
                    return  # the client went away
                if n == 0:
                    return
                count(n)
                offset += n
                here += n
                if here >= reset_every and offset < end:
                    reset(sock)
                    return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", 0), Handler)
print("port %d" % server.server_address[1], flush=True)
server.serve_forever()
