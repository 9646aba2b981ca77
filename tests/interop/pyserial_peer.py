#!/usr/bin/python3
"""pyserial's RFC 2217 server side as a peer for the link's tests: pyserial_peer.py

serial.rfc2217.PortManager over a loop:// port (echoes data, mirrors RTS onto CTS)
serves one connection. Prints "peer: listening on 127.0.0.1:PORT", then, when it
has ended (or after 20 s), what the peer saw: "received=HEX", "rts=0|1", ...
"""

import contextlib
import socket
import sys
import threading
import time
import types

import serial
import serial.rfc2217

LIMIT_S = 20


def serve(conn, port, received, deadline):
    """The connection until the client ends it or the time is up: (manager, ended, error)."""
    lock, stop = threading.Lock(), threading.Event()

    def write(data):  # from both directions
        with lock, contextlib.suppress(OSError):
            conn.sendall(data)

    def serial_to_net():  # also the line poller: the server reports lines only when asked to look
        while not stop.is_set():
            if data := port.read(1):
                write(b"".join(manager.escape(data + port.read(port.in_waiting))))
            manager.check_modem_lines()

    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    conn.settimeout(0.05)
    manager = serial.rfc2217.PortManager(port, types.SimpleNamespace(write=write))
    pump = threading.Thread(target=serial_to_net, daemon=True)
    pump.start()
    try:
        while time.monotonic() < deadline:
            try:
                data = conn.recv(4096)
            except socket.timeout:
                continue
            if not data:
                return manager, True, ""
            for byte in manager.filter(data):
                received += byte
                port.write(byte)
        return manager, False, ""
    except OSError as e:
        return manager, False, "connection: %s" % e
    finally:
        stop.set()
        pump.join(2)
        conn.close()


def main():
    listener = socket.create_server(("127.0.0.1", 0), backlog=1)
    listener.settimeout(LIMIT_S)
    print("peer: listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    deadline = time.monotonic() + LIMIT_S
    port = serial.serial_for_url("loop://", baudrate=9600, timeout=0.02)
    received = bytearray()  # the data bytes the client sent, unescaped
    try:
        manager, ended, error = serve(listener.accept()[0], port, received, deadline)
    except OSError as e:
        manager, ended, error = None, False, "no connection: %s" % e
    findings = {"ended": int(ended), "error": error, "received": received.hex(),
                "bytesize": port.bytesize, "parity": port.parity, "stopbits": port.stopbits,
                "rtscts": int(bool(port.rtscts)), "dtr": int(bool(port.dtr)), "rts": int(bool(port.rts)),
                "baudrate": port.baudrate, "mask": manager.modemstate_mask if manager else -1}
    print("".join("%s=%s\n" % item for item in findings.items()), end="", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
