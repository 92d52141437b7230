#!/usr/bin/env python3
"""The bench's web server: one small static page on 127.0.0.1.

Prints its port on the first line of standard output, then one line per
request: "<arrival ns, CLOCK_MONOTONIC> <method> <path>". The arrival time is
taken when the first bytes of a request are read, before anything is parsed.
HTTP/1.1 with keep-alive, so a browser may reuse its connection as it would
with a real server. Stops on SIGTERM or when standard input closes.
"""
import os
import selectors
import signal
import socket
import sys
import time

PAGE = (b"<!doctype html>\n<html lang=ja><head><meta charset=utf-8>"
        b"<title>bench</title></head>\n<body><p>hpvisit bench page</p></body></html>\n")


def response(status, body, ctype=b"text/html; charset=utf-8"):
    return (b"HTTP/1.1 " + status + b"\r\nContent-Type: " + ctype +
            b"\r\nContent-Length: " + str(len(body)).encode() +
            b"\r\nCache-Control: no-store\r\nConnection: keep-alive\r\n\r\n" + body)


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", int(sys.argv[1]) if len(sys.argv) > 1 else 0))
    listener.listen(64)
    listener.setblocking(False)
    out = sys.stdout
    out.write("%d\n" % listener.getsockname()[1])
    out.flush()

    sel = selectors.DefaultSelector()
    sel.register(listener, selectors.EVENT_READ, None)
    sel.register(sys.stdin, selectors.EVENT_READ, "stdin")
    conns = {}  # socket -> [buffer, arrival ns of the request being read]
    while True:
        for key, _ in sel.select():
            if key.data == "stdin":
                if not os.read(sys.stdin.fileno(), 4096):
                    return
                continue
            sock = key.fileobj
            if sock is listener:
                try:
                    c, _ = listener.accept()
                except BlockingIOError:
                    continue
                c.setblocking(False)
                c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                conns[c] = [b"", 0]
                sel.register(c, selectors.EVENT_READ, "conn")
                continue
            try:
                data = sock.recv(65536)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                data = b""
            now = time.monotonic_ns()
            state = conns[sock]
            if not data:
                sel.unregister(sock)
                sock.close()
                del conns[sock]
                continue
            if not state[0]:
                state[1] = now
            state[0] += data
            while b"\r\n\r\n" in state[0]:
                head, _, rest = state[0].partition(b"\r\n\r\n")
                state[0] = rest  # the bench's clients send no request bodies
                line = head.split(b"\r\n", 1)[0].split(b" ")
                method = line[0].decode("latin-1")
                path = line[1].decode("latin-1") if len(line) > 1 else ""
                out.write("%d %s %s\n" % (state[1], method, path))
                out.flush()
                if path.split("?")[0] == "/page.html":
                    reply = response(b"200 OK", PAGE)
                else:
                    reply = response(b"404 Not Found", b"not found\n", b"text/plain")
                try:
                    sock.sendall(reply)
                except OSError:
                    pass
                state[1] = now


if __name__ == "__main__":
    main()
