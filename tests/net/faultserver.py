#!/usr/bin/env python3
"""An HTTP server that misbehaves on purpose, for the fetch tests.

Usage: faultserver.py PORT

  /ok/N            200 with N bytes and their length
  /status/N        status N with a small error page
  /loop            redirects to itself forever
  /redirect?to=U   302 to U (any scheme)
  /tofile          302 to file:///etc/hostname
  /drop            announces 100000 bytes, sends 50000, closes
  /slow            announces 1000 bytes, sends one a second
  /nolength/N      N bytes, no length, end marked by closing
  /shortlength     announces 10 bytes, sends 100
  /garbage         an answer that is not HTTP
  /badheaders      a status line followed by broken header lines
  /hang            reads the request and never answers
  /headers         200 with the request line and header lines as body
"""
import socketserver
import sys
import time
import urllib.parse


def body_of(n):
    return bytes(i % 251 for i in range(n))


class Handler(socketserver.BaseRequestHandler):
    def send(self, data):
        self.request.sendall(data)

    def answer(self, status, body, headers=()):
        head = "HTTP/1.1 %d Status\r\n" % status
        for h in headers:
            head += h + "\r\n"
        head += "Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
        self.send(head.encode() + body)

    def handle(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk:
                return
            data += chunk
            if len(data) > 65536:
                return
        head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        lines = head.split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) < 2:
            return
        url = urllib.parse.urlsplit(parts[1])
        path, query = url.path, urllib.parse.parse_qs(url.query)
        try:
            self.route(path, query, lines)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def route(self, path, query, request_lines):
        if path.startswith("/ok/"):
            self.answer(200, body_of(int(path[4:])))
        elif path.startswith("/status/"):
            self.answer(int(path[8:]), b"<html><body>error page</body></html>")
        elif path == "/loop":
            self.answer(302, b"", ["Location: /loop"])
        elif path == "/redirect":
            self.answer(302, b"", ["Location: " + query["to"][0]])
        elif path == "/tofile":
            self.answer(302, b"", ["Location: file:///etc/hostname"])
        elif path == "/drop":
            self.send(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body_of(50000))
        elif path == "/slow":
            self.send(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
            for _ in range(1000):
                self.send(b"s")
                time.sleep(1)
        elif path.startswith("/nolength/"):
            self.send(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body_of(int(path[10:])))
        elif path == "/shortlength":
            self.send(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n" +
                      body_of(100))
        elif path == "/garbage":
            self.send(b"\x00\xff\xfe garbage \x01\x02\r\n\r\nmore garbage")
        elif path == "/badheaders":
            self.send(b"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\x00\x01 broken\r\n\r\nbody")
        elif path == "/hang":
            while self.request.recv(4096):
                pass
        elif path == "/headers":
            self.answer(200, "\n".join(request_lines).encode("latin-1"))
        else:
            self.answer(404, b"not here")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    with Server(("127.0.0.1", int(sys.argv[1])), Handler) as server:
        server.serve_forever()


if __name__ == "__main__":
    main()
