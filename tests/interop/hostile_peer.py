#!/usr/bin/python3
"""A hostile RFC 2217 server for the tools' bounded-run tests: hostile_peer.py MODE [WHEN].

Prints "peer: listening on 127.0.0.1:PORT", serves one client for at most 60 s.
Modes: refuse, silent, close-text, flood-cts (data, never CTS), and data, nops,
negotiations, endless-sb: a board with an empty flash, then a flood as fast as the
socket takes it WHEN: open (in place of the agreement), reply (after the first
command's echo, the default) or close (after the session's closing byte).
"""

import contextlib
import socket
import sys
import threading
import time

IAC, SB, SE, WILL, WONT, DO, DONT, NOP = 255, 250, 240, 251, 252, 253, 254, 241
COM_PORT, SET_BAUDRATE, SET_CONTROL, NOTIFY_MODEMSTATE, RTS_ON, RTS_OFF = 44, 1, 5, 7, 11, 12
FLOODS = {"data": b"\x55" * 4096, "nops": bytes([IAC, NOP]) * 2048, "endless-sb": b"\x10" * 4096,
          "negotiations": bytes([IAC, WILL, 1, IAC, DO, 24]) * 700}
# The board's answers: an empty directory; the session's end with a program started.
ANSWERS = {0x08: bytes([0x08, 0x08, 0x00]), 0x04: bytes([0x04, 0x04, 0x01])}
CLOSING_BYTE = 0x0C
LIMIT_S = 60


def telnet(data, commands):
    """Fed one byte at a time: appends data bytes and COM-PORT (command, value)s."""
    while True:
        if (b := (yield)) != IAC or (b := (yield)) == IAC:  # IAC IAC: a 255
            data.append(b)
        elif b in (WILL, WONT, DO, DONT):
            yield  # the option
        elif b == SB:
            sb = bytearray()
            while (b := (yield)) != IAC or (b := (yield)) == IAC:  # to IAC SE
                sb.append(b)
            if len(sb) >= 2 and sb[0] == COM_PORT:
                commands.append((sb[1], bytes(sb[2:])))


def drain(conn):
    """Reads and drops what the client sends, until it shuts down its side or goes."""
    with contextlib.suppress(OSError):
        while conn.recv(1 << 16):
            pass


def flood(conn, mode, deadline):
    """Until a send fails; what the client sends is read on the side, and a client
    that has shut down its side is flooded on. Says on stderr how fast it went."""
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)  # more in flight than one read takes
    conn.settimeout(5)
    threading.Thread(target=drain, args=(conn,), daemon=True).start()
    block, sent, began = FLOODS[mode] * 256, 0, time.monotonic()
    try:
        if mode == "endless-sb":  # a subnegotiation opened, never closed
            conn.sendall(bytes([IAC, SB, COM_PORT, 100 + NOTIFY_MODEMSTATE]))
        while time.monotonic() < deadline:
            conn.sendall(block)
            sent += len(block)
    finally:
        seconds = max(time.monotonic() - began, 1e-6)
        print("peer: flooded %d MB at %d MB/s" % (sent >> 20, sent / seconds / 1e6), file=sys.stderr, flush=True)


def serve(conn, mode, when):
    """Until the client goes, the time is up, or a send fails (OSError)."""
    deadline = time.monotonic() + LIMIT_S
    if mode == "silent":
        return time.sleep(LIMIT_S)
    if mode == "close-text":
        return conn.sendall(b"Port already in use\r\n")
    if mode in FLOODS and when == "open":
        return flood(conn, mode, deadline)
    conn.sendall(bytes([IAC, DONT if mode == "refuse" else DO, COM_PORT]))
    if mode == "refuse":
        return time.sleep(5)
    data, commands = bytearray(), []
    parser = telnet(data, commands)
    next(parser)
    rts_on, cts_at, syncs, flooding = False, None, 0, mode == "flood-cts"
    conn.settimeout(0.01)
    while time.monotonic() < deadline:
        if flooding:
            conn.sendall(FLOODS.get(mode, FLOODS["data"]))
        if cts_at is not None and time.monotonic() >= cts_at:
            conn.sendall(bytes([IAC, SB, COM_PORT, 100 + NOTIFY_MODEMSTATE, 0x11, IAC, SE]))
            cts_at = None
        try:
            chunk = conn.recv(4096)
        except socket.timeout:
            continue
        if not chunk:
            return
        del data[:], commands[:]
        for b in chunk:
            parser.send(b)
        for command, value in commands:
            if command == SET_BAUDRATE:  # answered, as servers do
                conn.sendall(bytes([IAC, SB, COM_PORT, 100 + SET_BAUDRATE]) + value + bytes([IAC, SE]))
            elif command == SET_CONTROL and value[:1] == bytes([RTS_ON]):
                rts_on = True
            elif command == SET_CONTROL and value[:1] == bytes([RTS_OFF]) and rts_on:
                rts_on, cts_at = False, None if mode == "flood-cts" else time.monotonic() + 0.1
        for b in data if not flooding else b"":
            if b in (0x7F, 0x0F) and syncs < 2:  # the sync
                syncs += 1
                conn.sendall(bytes([b]))
            elif mode in FLOODS and when == "reply":  # the first command's echo, then the flood
                conn.sendall(bytes([b]))
                return flood(conn, mode, deadline)
            elif mode in FLOODS and b == CLOSING_BYTE:
                return flood(conn, mode, deadline)
            else:
                conn.sendall(ANSWERS.get(b, b""))


if __name__ == "__main__":
    listener = socket.create_server(("127.0.0.1", 0), backlog=1)
    listener.settimeout(LIMIT_S)
    print("peer: listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    try:
        conn = listener.accept()[0]
    except OSError:
        sys.exit(1)
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    with conn, contextlib.suppress(OSError):  # the client gone
        serve(conn, sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "reply")
