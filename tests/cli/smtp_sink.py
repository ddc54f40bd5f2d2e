#!/usr/bin/env python3
"""A real SMTP server for the command-line host's tests: aiosmtpd on 127.0.0.1 that stores every message
it accepts as N.eml, with its envelope in N.envelope (MAIL FROM on the first line, one RCPT TO per line
after it), in the folder given. Prints "READY" once it accepts connections and runs until it is killed.

usage: smtp_sink.py PORT FOLDER
"""
import os
import sys
import threading

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            number = self.count
        base = os.path.join(self.folder, str(number))
        # Written under a temporary name and renamed, so a reader never sees half a message.
        with open(base + ".envelope.part", "w", encoding="utf-8") as f:
            f.write("\n".join([envelope.mail_from] + list(envelope.rcpt_tos)) + "\n")
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        os.rename(base + ".envelope.part", base + ".envelope")
        os.rename(base + ".eml.part", base + ".eml")
        return "250 Message accepted for delivery"


def main():
    port = int(sys.argv[1])
    folder = sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    controller = Controller(Sink(folder), hostname="127.0.0.1", port=port)
    controller.start()
    print("READY", flush=True)
    try:
        threading.Event().wait()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
