#!/usr/bin/python3
# pyserial's RFC 2217 server (PortManager) for a serial device, on 127.0.0.1: a second server
# beside ser2net. Prints its port, then serves one connection after another, each starting
# with the line at 4800 baud.   usage: portmanager.py DEVICE
import socket
import sys
import threading

import serial
import serial.rfc2217


class Line(serial.Serial):
    # A pseudo-terminal has no modem lines, which PortManager reads on each connection.
    cts = dsr = ri = cd = property(lambda self: False)


class Peer:
    def __init__(self, connection):
        self.connection = connection

    def write(self, data):
        self.connection.sendall(data)


line = Line(sys.argv[1], baudrate=4800, timeout=0.1)
server = socket.create_server(('127.0.0.1', 0))
print(server.getsockname()[1], flush=True)
while True:
    line.baudrate = 4800
    connection, _ = server.accept()
    manager = serial.rfc2217.PortManager(line, Peer(connection))
    served = True

    def answer():
        while served:
            data = line.read(line.in_waiting or 1)
            if data:
                connection.sendall(b''.join(manager.escape(data)))

    answering = threading.Thread(target=answer)
    answering.start()
    try:
        while data := connection.recv(1024):
            line.write(b''.join(manager.filter(data)))
    except OSError:
        pass
    served = False
    answering.join()
    connection.close()
