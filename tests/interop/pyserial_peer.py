#!/usr/bin/python3
"""pyserial's RFC 2217 server side as a peer for the link's tests.

serial.rfc2217.PortManager over a loop:// port (echoes data, mirrors RTS
onto CTS) serves one TCP connection. The first line on standard output is
"peer: listening on 127.0.0.1:PORT"; when the connection has ended, one
line per finding follows ("received=HEX", "baudrate=N", "rts=0|1", ...)
and the peer exits. The test that started it checks what the peer saw.

Usage: pyserial_peer.py
"""

import socket
import sys
import threading

import serial
import serial.rfc2217

CONNECTION_LIMIT_S = 20


class LockedSocket:
    """The connection object PortManager writes its answers through."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            try:
                self.sock.sendall(data)
            except OSError:
                pass


class LoopServer:
    """One connection: socket -> filter -> loop port, loop port -> socket."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(CONNECTION_LIMIT_S)
        self.port = self.listener.getsockname()[1]
        self.serial = serial.serial_for_url("loop://", baudrate=9600, timeout=0.02)
        self.received = bytearray()  # data bytes the client sent, unescaped
        self.manager = None
        self.done = threading.Event()
        self.error = None
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def url(self):
        return "rfc2217://127.0.0.1:%d" % self.port

    def _serve(self):
        try:
            conn, _ = self.listener.accept()
        except OSError as e:
            self.error = "no connection: %s" % e
            self.done.set()
            return
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        wire = LockedSocket(conn)
        self.manager = serial.rfc2217.PortManager(self.serial, wire)
        stop = threading.Event()
        pump = threading.Thread(target=self._serial_to_net, args=(wire, stop), daemon=True)
        pump.start()
        conn.settimeout(0.05)
        try:
            while True:
                try:
                    data = conn.recv(4096)
                except socket.timeout:
                    continue
                if not data:
                    break
                for byte in self.manager.filter(data):
                    self.received += byte
                    self.serial.write(byte)
        except OSError as e:
            self.error = "connection: %s" % e
        finally:
            stop.set()
            pump.join(2)
            conn.close()
            self.done.set()

    def _serial_to_net(self, wire, stop):
        # Also the line poller: the server reports modem lines only when
        # asked to look at them.
        while not stop.is_set():
            data = self.serial.read(1)
            if data:
                n = self.serial.in_waiting
                if n:
                    data += self.serial.read(n)
                wire.write(b"".join(self.manager.escape(data)))
            self.manager.check_modem_lines()

    def finish(self):
        self.done.wait(CONNECTION_LIMIT_S)
        self.listener.close()
        return self.done.is_set()


def main():
    server = LoopServer()
    print("peer: listening on 127.0.0.1:%d" % server.port, flush=True)
    ended = server.finish()
    s = server.serial
    findings = {
        "ended": int(ended and server.error is None),
        "error": server.error or "",
        "received": bytes(server.received).hex(),
        "bytesize": s.bytesize,
        "parity": s.parity,
        "stopbits": s.stopbits,
        "rtscts": int(bool(s.rtscts)),
        "dtr": int(bool(s.dtr)),
        "rts": int(bool(s.rts)),
        "baudrate": s.baudrate,
        "mask": server.manager.modemstate_mask if server.manager else -1,
    }
    for key, value in findings.items():
        print("%s=%s" % (key, value))
    sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
