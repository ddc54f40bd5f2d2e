#!/usr/bin/env python3
"""Starts a program as systemd's socket activation would: a listening socket on 127.0.0.1:PORT as file
descriptor 3, with LISTEN_PID and LISTEN_FDS set for it.

usage: socket_activation.py PORT PROGRAM ARGUMENT...
"""
import os
import socket
import sys

listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen(16)
if listener.fileno() != 3:
    os.dup2(listener.fileno(), 3)
os.set_inheritable(3, True)
# The process keeps its id through exec, so LISTEN_PID names the program itself.
os.environ["LISTEN_PID"] = str(os.getpid())
os.environ["LISTEN_FDS"] = "1"
os.execv(sys.argv[2], sys.argv[2:])
