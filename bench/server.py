#!/usr/bin/env python3
"""The bench's web server: one small static page on 127.0.0.1, HTTP/1.1 with keep-alive
(a browser reuses its connection as with a real server). Prints its port, then one line
per request, "<arrival ns> <method> <path>": CLOCK_MONOTONIC when the request's first bytes
are read, before anything is parsed. Ends on SIGTERM or when standard input closes."""
import os, selectors, signal, socket, sys, time
from contextlib import suppress

PAGE = (b"<!doctype html>\n<html lang=ja><head><meta charset=utf-8>"
        b"<title>bench</title></head>\n<body><p>hpvisit bench page</p></body></html>\n")


HEAD = b"HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nCache-Control: no-store\r\nConnection: keep-alive\r\n\r\n"
FOUND = HEAD % (b"200 OK", b"text/html; charset=utf-8", len(PAGE)) + PAGE
NOT_FOUND = HEAD % (b"404 Not Found", b"text/plain", 10) + b"not found\n"
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
listener = socket.create_server(("127.0.0.1", 0), backlog=64)
listener.setblocking(False)
print(listener.getsockname()[1], flush=True)
sel = selectors.DefaultSelector()
sel.register(listener, selectors.EVENT_READ)
sel.register(sys.stdin, selectors.EVENT_READ)
conns = {}  # socket -> [bytes read, arrival ns of the request being read]
while True:
    for key, _ in sel.select():
        sock = key.fileobj
        if sock is sys.stdin:
            if not os.read(sys.stdin.fileno(), 4096):
                sys.exit(0)
        elif sock is listener:
            try:
                c, _ = listener.accept()
            except BlockingIOError:
                continue
            c.setblocking(False)
            c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conns[c] = [b"", 0]
            sel.register(c, selectors.EVENT_READ)
        else:
            try:
                data = sock.recv(65536)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                data = b""
            now, state = time.monotonic_ns(), conns[sock]
            if not data:
                sel.unregister(sock)
                sock.close()
                del conns[sock]
                continue
            if not state[0]:
                state[1] = now
            state[0] += data
            while b"\r\n\r\n" in state[0]:
                head, _, state[0] = state[0].partition(b"\r\n\r\n")  # no request has a body
                method, path = (head.split(b"\r\n", 1)[0].decode("latin-1").split(" ") + [""])[:2]
                print(state[1], method, path, flush=True)
                with suppress(OSError):
                    sock.sendall(FOUND if path.split("?")[0] == "/page.html" else NOT_FOUND)
                state[1] = now
