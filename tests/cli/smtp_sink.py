#!/usr/bin/env python3
"""A real SMTP server for the command-line host's tests: aiosmtpd on 127.0.0.1 that stores every message
it accepts as N.eml, with its envelope in N.envelope (MAIL FROM on the first line, one RCPT TO per line
after it), in the folder given. Prints "READY" once it accepts connections and runs until it is killed.

usage: smtp_sink.py PORT FOLDER [--tls CERT KEY | --starttls CERT KEY] [--login USER PASSWORD]
                    [--refuse-sender ADDRESS] [--refuse-recipient ADDRESS]
  --tls       TLS from the first byte (smtps)
  --starttls  STARTTLS offered and required before anything else
  --login     AUTH required (only over TLS), with this one account
  --refuse-sender  MAIL FROM this address is refused with a 550 reply of the server's own wording
  --refuse-recipient  RCPT TO this address is refused with a 550 reply
"""
import os
import ssl
import sys
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()
        self.refused_sender = None
        self.refused_recipient = None

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address == self.refused_recipient:
            return "550 5.1.1 " + address + ": Recipient address rejected: User unknown"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if address == self.refused_sender:
            return "550 5.7.1 Sender " + address + " is not allowed to relay through this server"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

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


def tls_context(cert, key):
    # A context for both ends: the controller checks readiness by connecting through it as a client.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS)
    context.load_cert_chain(cert, key)
    return context


def main():
    port = int(sys.argv[1])
    folder = sys.argv[2]
    options = sys.argv[3:]
    os.makedirs(folder, exist_ok=True)
    settings = {}
    sink = Sink(folder)
    while options:
        option = options.pop(0)
        if option == "--tls":
            settings["ssl_context"] = tls_context(options.pop(0), options.pop(0))
            # The whole connection is TLS; the server's own check only knows STARTTLS.
            settings["auth_require_tls"] = False
        elif option == "--starttls":
            settings["tls_context"] = tls_context(options.pop(0), options.pop(0))
            settings["require_starttls"] = True
        elif option == "--login":
            account = (options.pop(0).encode(), options.pop(0).encode())

            def authenticate(server, session, envelope, mechanism, data, account=account):
                return AuthResult(success=(data.login, data.password) == account)

            settings["authenticator"] = authenticate
            settings["auth_required"] = True
        elif option == "--refuse-sender":
            sink.refused_sender = options.pop(0)
        elif option == "--refuse-recipient":
            sink.refused_recipient = options.pop(0)
        else:
            sys.exit("unknown option " + option)
    controller = Controller(sink, hostname="127.0.0.1", port=port, **settings)
    controller.start()
    print("READY", flush=True)
    try:
        threading.Event().wait()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
