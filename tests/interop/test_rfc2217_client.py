#!/usr/bin/python3
"""The RFC 2217 client of the serial link against pyserial's server side.

The peer is serial.rfc2217.PortManager over a loop:// port (echoes data,
mirrors RTS onto CTS), serving one TCP connection per scenario. Each
scenario runs the link driver program with VK_COM1 pointing at the server
and checks its output and what the server side saw.

Usage: test_rfc2217_client.py BIN_DIR TESTBIN_DIR
"""

import os
import re
import socket
import subprocess
import sys
import threading
import time

import serial
import serial.rfc2217

OVERALL_LIMIT_S = 30
DRIVER_LIMIT_S = 10

results = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    if ok:
        results["passed"] += 1
        print("ok   - %s" % name)
    else:
        results["failed"] += 1
        print("FAIL - %s %s" % (name, detail))
    sys.stdout.flush()


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
        self.listener.settimeout(DRIVER_LIMIT_S)
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
        self.done.wait(DRIVER_LIMIT_S)
        self.listener.close()
        return self.done.is_set()


def run_driver(testbin, url, args):
    env = {
        "PATH": "/usr/bin:/bin",
        "VK_COM1": url,
        "VK_COM2": "rfc2217://127.0.0.1:1",
        "VK_COM3": "rfc2217://127.0.0.1:1",
        "VK_COM4": "rfc2217://127.0.0.1:1",
    }
    try:
        p = subprocess.run([os.path.join(testbin, "link_driver")] + args, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           timeout=DRIVER_LIMIT_S)
        return p.returncode, p.stdout.decode("latin-1")
    except subprocess.TimeoutExpired as e:
        return None, (e.stdout or b"").decode("latin-1")


def scenario(testbin, name, args):
    """Runs the driver against a fresh server; returns (server, output)."""
    server = LoopServer()
    code, out = run_driver(testbin, server.url(), ["open", "1", "115200"] + args)
    ended = server.finish()
    check("%s: driver exits 0" % name, code == 0, "(code %r, output %r)" % (code, out))
    check("%s: server saw a clean end" % name, ended and server.error is None,
          "(%s)" % server.error)
    return server, out


def main():
    if len(sys.argv) != 3:
        print("usage: %s BIN_DIR TESTBIN_DIR" % sys.argv[0])
        return 2
    testbin = sys.argv[2]
    watchdog = threading.Timer(OVERALL_LIMIT_S, lambda: (print("FAIL - overall time limit"),
                                                          sys.stdout.flush(), os._exit(1)))
    watchdog.daemon = True
    watchdog.start()

    # Data, including the Telnet escape byte, both ways.
    sent = bytes([0x7F, 0xFF, 0x00, 0xFF, 0xFF, 0x41, 0x0D, 0x0A])
    server, out = scenario(testbin, "data", ["txb", sent.hex(), "rx", str(len(sent)),
                                             "tx", "ff", "rx", "1", "quit", "0"])
    check("data: server got the bytes unescaped", bytes(server.received) == sent + b"\xff",
          "(%s)" % bytes(server.received).hex())
    check("data: echo came back unchanged",
          ("rx %s\n" % " ".join("%02x" % b for b in sent)) in out and "rx ff\n" in out,
          "(%r)" % out)
    check("data: line set to 8N1, no flow control, DTR off",
          (server.serial.bytesize, server.serial.parity, server.serial.stopbits,
           server.serial.rtscts, server.serial.dtr) == (8, "N", 1, False, False),
          "(%r)" % ((server.serial.bytesize, server.serial.parity, server.serial.stopbits,
                     server.serial.rtscts, server.serial.dtr),))
    check("data: all modem-state bits asked for",
          server.manager is not None and server.manager.modemstate_mask == 0xFF)

    # RTS drives CTS through the loop; ExitTool puts RTS back to rest.
    server, out = scenario(testbin, "lines", ["ctswait", "0", "3000", "rts", "1",
                                              "ctswait", "1", "3000", "rts", "0",
                                              "ctswait", "0", "3000", "hs", "1", "exit", "0"])
    waits = re.findall(r"ctswait (\d) (ok (\d+)|timeout)", out)
    check("lines: CTS starts off, follows RTS on and off",
          [(w[0], w[1].startswith("ok")) for w in waits] ==
          [("0", True), ("1", True), ("0", True)], "(%r)" % out)
    check("lines: each change seen within 1500 ms",
          all(w[2] and int(w[2]) < 1500 for w in waits[1:]), "(%r)" % out)
    check("lines: RTS and handshake off after ExitTool",
          server.serial.rts is False and server.serial.rtscts is False)

    # A rate change reaches the server.
    server, out = scenario(testbin, "baud", ["baud", "38400", "quit", "0"])
    check("baud: server port at 38400", server.serial.baudrate == 38400,
          "(%r)" % server.serial.baudrate)

    # The echo of bytes sent before a rate change is gone after it (the
    # change purges), and the line goes on working.
    server, out = scenario(testbin, "purge", ["txb", "0102030405", "sleep", "300",
                                              "baud", "115200", "pending",
                                              "txb", "09", "rx", "1", "quit", "0"])
    check("purge: nothing pending after the purge", re.search(r"pending 0 ms=\d+", out),
          "(%r)" % out)
    check("purge: next byte comes through", "rx 09\n" in out, "(%r)" % out)

    watchdog.cancel()
    print("%d passed, %d failed" % (results["passed"], results["failed"]))
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
