#!/usr/bin/env python3
"""Reads a message file as a recipient's mail program would, with Python's own email package (independent
of the MIME code under test), and prints what the tests check as JSON: some headers, the content type, the
attachments (name and SHA-256 of the decoded bytes), the body text, and every file:// link in the body
with the SHA-256 of the file it reaches (null when it reaches nothing).

usage: mime_check.py MESSAGE
"""
import email
import email.policy
import hashlib
import json
import re
import sys
import urllib.parse
import urllib.request


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def main():
    with open(sys.argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    result = {
        "headers": {name: str(message[name]) for name in ("Message-ID", "Date", "Subject", "From", "To", "Bcc")
                    if message[name] is not None},
        "content_type": message.get_content_type(),
        "defects": len(message.defects),
        "attachments": [],
        "text": "",
        "links": [],
    }
    for part in message.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        if part.get_content_disposition() == "attachment":
            result["attachments"].append({"name": part.get_filename(), "sha256": sha256(payload),
                                          "size": len(payload)})
        elif part.get_content_type() in ("text/plain", "text/html"):
            result["text"] += payload.decode(part.get_content_charset() or "utf-8", "replace")
    for url in sorted(set(re.findall(r'file://[^"\'<>\s)]+', result["text"]))):
        try:
            with urllib.request.urlopen(url) as reached:
                digest = sha256(reached.read())
        except OSError:
            digest = None
        result["links"].append({"url": urllib.parse.unquote(url), "sha256": digest})
    json.dump(result, sys.stdout)


if __name__ == "__main__":
    main()
