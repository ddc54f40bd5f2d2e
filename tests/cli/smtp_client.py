#!/usr/bin/env python3
"""A mail client for the tests: Python's smtplib submitting messages to a server with AUTH.

usage: smtp_client.py PORT USER PASSWORD send MESSAGE FROM TO...   one message; prints the server's reply
       smtp_client.py PORT USER PASSWORD many COUNT MESSAGE FROM TO   COUNT clients at once, one message each
       smtp_client.py PORT USER PASSWORD drop MESSAGE FROM TO         sends half the message, then hangs up
Exit status 0 when every message was accepted; the replies of refusals are printed.
"""
import smtplib
import socket
import sys
import threading


def submit(port, user, password, data, sender, recipients):
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as client:
        client.login(user, password)
        client.sendmail(sender, recipients, data)


def main():
    port, user, password, mode = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    rest = sys.argv[5:]
    if mode == "send":
        with open(rest[0], "rb") as f:
            data = f.read()
        try:
            submit(port, user, password, data, rest[1], rest[2:])
        except smtplib.SMTPResponseException as e:
            print(e.smtp_code, e.smtp_error.decode())
            return 1
        except smtplib.SMTPRecipientsRefused as e:
            for code, text in e.recipients.values():
                print(code, text.decode())
            return 1
        print("250")
        return 0
    if mode == "many":
        count = int(rest[0])
        with open(rest[1], "rb") as f:
            data = f.read()
        failures = []

        def one(number):
            try:
                submit(port, user, password, data.replace(b"NUMBER", str(number).encode()), rest[2], [rest[3]])
            except Exception as e:  # every failure is reported, whatever its kind
                failures.append(repr(e))

        threads = [threading.Thread(target=one, args=(n,)) for n in range(count)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print("\n".join(failures))
        return 1 if failures else 0
    if mode == "drop":
        with open(rest[0], "rb") as f:
            data = f.read()
        client = smtplib.SMTP("127.0.0.1", port, timeout=60)
        client.login(user, password)
        client.mail(rest[1])
        client.rcpt(rest[2])
        client.putcmd("DATA")
        client.getreply()
        client.send(data[: len(data) // 2])
        client.sock.shutdown(socket.SHUT_RDWR)
        client.sock.close()
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
