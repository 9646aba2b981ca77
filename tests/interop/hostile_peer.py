#!/usr/bin/python3
"""A hostile RFC 2217 server for the tools' bounded-run tests.

Usage: hostile_peer.py MODE

The first line on standard output is "peer: listening on 127.0.0.1:PORT";
one client is served, for at most 60 s. Modes:
  refuse        answers the client's WILL COM-PORT-OPTION with DONT
  silent        never answers anything
  close-text    sends "Port already in use" and closes at once
  flood-cts     agrees, then floods data and never raises CTS
  data, nops, negotiations, endless-sb
                behaves as a board up to the echo of the first command
                byte after the sync (CTS after the RTS pulse, sync echoed),
                then floods the connection with data bytes 0x55, Telnet
                NOPs, option negotiations, or a subnegotiation that never
                ends
"""

import socket
import sys
import time

IAC, SB, SE, WILL, DO, DONT, NOP = 255, 250, 240, 251, 253, 254, 241
COM_PORT, SET_BAUDRATE, SET_CONTROL, NOTIFY_MODEMSTATE, RTS_ON, RTS_OFF = 44, 1, 5, 7, 11, 12
FLOODS = {
    "data": bytes([0x55]) * 4096,
    "nops": bytes([IAC, NOP]) * 2048,
    "negotiations": bytes([IAC, WILL, 1, IAC, DO, 24]) * 700,
    "endless-sb": bytes([0x10]) * 4096,
}
LIMIT_S = 60


class Wire:
    """Splits what the client sends into data bytes and COM-PORT commands."""

    def __init__(self):
        self.state, self.sb = "data", bytearray()

    def feed(self, chunk):
        data, commands = bytearray(), []
        for b in chunk:
            if self.state == "data":
                if b == IAC:
                    self.state = "iac"
                else:
                    data.append(b)
            elif self.state == "iac":
                if b == IAC:
                    data.append(b)
                    self.state = "data"
                elif b == SB:
                    self.sb, self.state = bytearray(), "sb"
                elif b in (WILL, WILL + 1, DO, DONT):
                    self.state = "verb"
                else:
                    self.state = "data"
            elif self.state == "verb":
                self.state = "data"
            elif self.state == "sb":
                if b == IAC:
                    self.state = "sb-iac"
                else:
                    self.sb.append(b)
            elif self.state == "sb-iac":
                if b == IAC:
                    self.sb.append(b)
                    self.state = "sb"
                else:
                    if len(self.sb) >= 2 and self.sb[0] == COM_PORT:
                        commands.append((self.sb[1], bytes(self.sb[2:])))
                    self.state = "data"
        return data, commands


def send(conn, data):
    try:
        conn.sendall(data)
        return True
    except OSError:
        return False


def serve(conn, mode):
    if mode == "silent":
        time.sleep(LIMIT_S)
        return
    if mode == "close-text":
        send(conn, b"Port already in use\r\n")
        return
    send(conn, bytes([IAC, DONT if mode == "refuse" else DO, COM_PORT]))
    if mode == "refuse":
        time.sleep(5)
        return
    wire, rts_on, cts_at, flooding = Wire(), False, None, mode == "flood-cts"
    syncs = 0
    conn.settimeout(0.01)
    deadline = time.monotonic() + LIMIT_S
    while time.monotonic() < deadline:
        if flooding and not send(conn, FLOODS.get(mode, FLOODS["data"])):
            return
        if cts_at is not None and time.monotonic() >= cts_at and mode != "flood-cts":
            send(conn, bytes([IAC, SB, COM_PORT, 100 + NOTIFY_MODEMSTATE, 0x11, IAC, SE]))
            cts_at = None
        try:
            chunk = conn.recv(4096)
        except socket.timeout:
            continue
        except OSError:
            return
        if not chunk:
            return
        data, commands = wire.feed(chunk)
        for command, value in commands:
            if command == SET_BAUDRATE:  # answered, as servers do
                send(conn, bytes([IAC, SB, COM_PORT, 100 + SET_BAUDRATE]) + value + bytes([IAC, SE]))
            elif command == SET_CONTROL and value[:1] == bytes([RTS_ON]):
                rts_on = True
            elif command == SET_CONTROL and value[:1] == bytes([RTS_OFF]) and rts_on:
                rts_on, cts_at = False, time.monotonic() + 0.1
        for b in data:
            if flooding:
                break
            if b in (0x7F, 0x0F) and syncs < 2:
                syncs += 1
                send(conn, bytes([b]))
            elif syncs >= 2:
                send(conn, bytes([b]))  # the first command byte's echo
                if mode == "endless-sb":
                    send(conn, bytes([IAC, SB, COM_PORT, 100 + NOTIFY_MODEMSTATE]))
                flooding = True


def main():
    mode = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(LIMIT_S)
    print("peer: listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    try:
        conn, _ = listener.accept()
    except OSError:
        return 1
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    serve(conn, mode)
    conn.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
