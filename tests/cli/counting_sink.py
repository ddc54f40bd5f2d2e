#!/usr/bin/env python3
"""An SMTP server that keeps nothing: it reads each message as it streams in and stores only its length
and SHA-256 (after undoing dot-stuffing) as N.count in the folder given, so messages of gigabytes can be
relayed to it with flat memory on both sides. Prints "READY" once it listens; runs until killed.

usage: counting_sink.py PORT FOLDER
"""
import hashlib
import os
import socket
import sys
import threading


def serve(connection, folder, counter):
    reader = connection.makefile("rb", buffering=1 << 16)
    say = lambda line: connection.sendall(line + b"\r\n")
    say(b"220 counting sink")
    while True:
        line = reader.readline()
        if not line:
            return
        verb = line[:4].upper()
        if verb == b"EHLO":
            say(b"250-counting sink\r\n250 8BITMIME")
        elif verb == b"DATA":
            say(b"354 go on")
            digest, size = hashlib.sha256(), 0
            # Read in large pieces; only "\r\n." matters: stuffing to undo or the end.
            pending = b"\r\n"  # the line before the message's first one has ended
            while True:
                chunk = reader.read1(1 << 20)
                if not chunk:
                    return
                pending += chunk
                end = pending.find(b"\r\n.\r\n")
                if end >= 0:
                    body = pending[:end + 2].replace(b"\r\n..", b"\r\n.")[2:]
                    digest.update(body)
                    size += len(body)
                    break
                # Keep what may start the end marker or a stuffed dot.
                cut = len(pending) - 4
                # The first two bytes are context already counted: the end of the line before.
                body = pending[:cut].replace(b"\r\n..", b"\r\n.")[2:] if cut > 2 else b""
                digest.update(body)
                size += len(body)
                pending = pending[cut - 2:cut] + pending[cut:] if cut > 2 else pending
            with counter[1]:
                counter[0] += 1
                number = counter[0]
            with open(os.path.join(folder, "%d.count" % number), "w") as f:
                f.write("%d %s\n" % (size, digest.hexdigest()))
            say(b"250 counted")
        elif verb == b"QUIT":
            say(b"221 bye")
            return
        else:
            say(b"250 OK")


def main():
    port, folder = int(sys.argv[1]), sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(20)
    print("READY", flush=True)
    counter = [0, threading.Lock()]
    while True:
        connection, _ = server.accept()
        # Replies go out at once: with Nagle's delay each multi-line reply would wait for an acknowledgement.
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=serve, args=(connection, folder, counter), daemon=True).start()


if __name__ == "__main__":
    main()
