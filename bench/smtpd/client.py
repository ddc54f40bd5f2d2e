#!/usr/bin/env python3
"""Submits COUNT small messages one after the other, each on a connection of its own as a mail client
sends them, and prints the seconds it took. USER may be empty: no AUTH.

usage: client.py PORT USER PASSWORD COUNT
"""
import smtplib
import sys
import time

MESSAGE = (b"From: Sam <sam@example.net>\r\nTo: ada@example.com\r\nSubject: note %d\r\n"
           b"Message-ID: <%d.bench@example.net>\r\nDate: Mon, 02 Dec 2024 10:00:00 +0000\r\n"
           b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + b"a short note\r\n" * 100)


def main():
    port, user, password, count = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
    start = time.monotonic()
    for number in range(count):
        # local_hostname: no name look-up per connection, which would measure the resolver.
        with smtplib.SMTP("127.0.0.1", port, local_hostname="localhost", timeout=60) as client:
            if user:
                client.login(user, password)
            client.sendmail("sam@example.net", ["ada@example.com"], MESSAGE % (number, number))
    print("%.3f" % (time.monotonic() - start))


if __name__ == "__main__":
    main()
