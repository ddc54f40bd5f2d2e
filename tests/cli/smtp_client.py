#!/usr/bin/env python3
"""A mail client for the tests: Python's smtplib submitting messages to a server with AUTH.

usage: smtp_client.py PORT USER PASSWORD send MESSAGE FROM TO...   one message; prints the server's reply
       smtp_client.py PORT USER PASSWORD many COUNT MESSAGE FROM TO   COUNT clients at once, one message each
       smtp_client.py PORT USER PASSWORD drop MESSAGE FROM TO         sends half the message, then hangs up
       smtp_client.py PORT USER PASSWORD big MIB FROM TO              a signed message of MIB MiB, generated
                                                                      as it is sent; prints its SHA-256
Exit status 0 when every message was accepted; the replies of refusals are printed.
"""
import hashlib
import smtplib
import socket
import sys
import threading


def submit(port, user, password, data, sender, recipients):
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as client:
        client.login(user, password)
        client.sendmail(sender, recipients, data)


def big(port, user, password, mib, sender, recipient):
    head = (b"From: " + sender.encode() + b"\r\nTo: " + recipient.encode() + b"\r\nSubject: big\r\n"
            b"MIME-Version: 1.0\r\nContent-Type: multipart/signed; protocol=\"application/pgp-signature\"; "
            b"boundary=s\r\n\r\n--s\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n")
    tail = b"--s\r\nContent-Type: application/pgp-signature\r\n\r\nAAAA\r\n--s--\r\n"
    block = b"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n" * 13797
    digest = hashlib.sha256()
    with smtplib.SMTP("127.0.0.1", port, timeout=120) as client:
        client.login(user, password)
        client.mail(sender)
        client.rcpt(recipient)
        client.putcmd("DATA")
        client.getreply()
        client.send(head)
        digest.update(head)
        for _ in range(mib * (1 << 20) // len(block)):
            client.send(block)
            digest.update(block)
        client.send(tail + b".\r\n")
        digest.update(tail)
        code, text = client.getreply()
    print(code, digest.hexdigest())
    return 0 if code == 250 else 1


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
    if mode == "big":
        return big(port, user, password, int(rest[0]), rest[1], rest[2])
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
