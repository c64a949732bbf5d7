"""One guest connection of qemu's user network (guestfwd cmd:) to a port on
this host's loopback: standard input and output to and from the socket."""

import os
import selectors
import socket
import sys

connection = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
watch = selectors.DefaultSelector()
watch.register(0, selectors.EVENT_READ)
watch.register(connection, selectors.EVENT_READ)
while True:
    for key, _ in watch.select():
        data = os.read(0, 65536) if key.fileobj == 0 else connection.recv(65536)
        if not data:
            sys.exit(0)
        if key.fileobj == 0:
            connection.sendall(data)
        else:
            os.write(1, data)
