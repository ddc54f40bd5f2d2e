#!/usr/bin/env python3
"""aiosmtpd relaying every message directly to another server (its Proxy handler), the baseline of the
benchmark. usage: aiosmtpd_proxy.py PORT RELAY_PORT"""
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.handlers import Proxy

controller = Controller(Proxy("127.0.0.1", int(sys.argv[2])), hostname="127.0.0.1", port=int(sys.argv[1]))
controller.start()
print("READY", flush=True)
threading.Event().wait()
