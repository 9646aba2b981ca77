#!/usr/bin/python3
"""The board simulator against pyserial's RFC 2217 client, an independent
implementation of the client side: connection, RTS pulse and CTS, sync,
StartProgram and EndSession byte by byte, the trace file, bytes lost at the
wrong rate, 0xFF on the wire, and the flash file kept between runs.

Usage: test_sim_pyserial.py BIN_DIR TESTBIN_DIR
Prints "N passed, M failed"; exits 1 when a check failed.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

import serial

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import peers  # noqa: E402

BIN_DIR = sys.argv[1] if len(sys.argv) > 1 else "."
VKSIM = os.path.join(BIN_DIR, "vksim")
CTS_TIMEOUT = 3.0

tally = peers.Tally()
check = tally.check


def Sim(*options):
    sim = peers.vksim(BIN_DIR, ["--port", "0", "--idle-timeout", "60"] + list(options))
    if sim.url is None:
        sim.stop()
        raise RuntimeError("vksim did not start: %r" % sim.output)
    return sim


def open_port(sim, baud=115200):
    return serial.serial_for_url(sim.url, baudrate=baud, timeout=2)


def wait_cts(port):
    """Pulses RTS and waits, bounded, for CTS to rise."""
    port.rts = True
    port.rts = False
    deadline = time.monotonic() + CTS_TIMEOUT
    while time.monotonic() < deadline:
        try:
            if port.cts:
                return True
        except serial.SerialException:
            pass  # no modem state yet
        time.sleep(0.01)
    return False


def exchange(port, sent):
    """Sends each byte and reads its echo at once; returns the echoes."""
    echoes = b""
    for b in sent:
        port.write(bytes([b]))
        echoes += port.read(1)
    return echoes


def trace_lines(path):
    with open(path) as f:
        return [line.rstrip("\n") for line in f]


def data_lines(lines):
    return [l for l in lines if l[:2] in ("> ", "< ", "x ")]


def test_session(tmp):
    trace = os.path.join(tmp, "trace.txt")
    sim = Sim("--program", "AB", "--trace", trace)
    try:
        port = open_port(sim)
        check("CTS rises after the RTS pulse", wait_cts(port))
        port.write(b"\x7f\x7f")
        check("sync echo", port.read(2) == b"\x7f\x7f")
        echoes = exchange(port, b"\x05AB\x00")
        check("StartProgram echoes", echoes == b"\x05AB\x00", echoes.hex())
        tail = port.read(2)
        check("StartProgram checksum 88 and result 01", tail == b"\x88\x01", tail.hex())
        port.write(b"\x04")
        end = port.read(3)
        check("EndSession echo, checksum, result", end == b"\x04\x04\x01", end.hex())
        port.write(b"\x0c")
        port.timeout = 0.3
        check("nothing after the closing byte", port.read(1) == b"")
        port.close()
        time.sleep(0.2)
        lines = trace_lines(trace)
        expected = ["> 7f", "< 7f", "> 7f", "< 7f",
                    "> 05", "< 05", "> 41", "< 41", "> 42", "< 42", "> 00", "< 00",
                    "< 88", "< 01", "> 04", "< 04", "< 04", "< 01", "> 0c"]
        check("trace bytes", data_lines(lines) == expected, repr(data_lines(lines)))
        for event in ("# connect", "# baud 115200", "# rts 1", "# rts 0", "# cts 1",
                      "# started AB", "# disconnect"):
            check("trace has " + event, event in lines)
        check("rts 0 comes before cts 1",
              "# rts 0" in lines and "# cts 1" in lines and
              lines.index("# cts 1") > max(i for i, l in enumerate(lines) if l == "# rts 0"))
    finally:
        code = sim.stop()
    check("vksim ends with 0 on SIGTERM", code == 0, str(code))
    check("stdout names the started program", b"vksim: started AB" in sim.output,
          repr(sim.output))


def test_wrong_rate(tmp):
    trace = os.path.join(tmp, "rate.txt")
    sim = Sim("--trace", trace)
    try:
        port = open_port(sim, 38400)
        check("CTS rises at 38400 too", wait_cts(port))
        port.timeout = 0.3
        port.write(b"\x7f")
        check("no echo at 38400 for a board at 115200", port.read(1) == b"")
        time.sleep(0.1)
        lines = trace_lines(trace)
        check("trace shows the lost byte", "x 7f" in lines and "> 7f" not in lines,
              repr(data_lines(lines)))
        check("trace shows the host's rate", "# baud 38400" in lines)
        port.baudrate = 115200
        port.timeout = 2
        port.write(b"\x7f")
        check("echo once the rates match", port.read(1) == b"\x7f")
        port.close()
    finally:
        sim.stop()


def test_ff_on_the_wire(tmp):
    sim = Sim()
    try:
        port = open_port(sim)
        wait_cts(port)
        port.write(b"\x7f")
        port.read(1)
        echoes = exchange(port, b"\x05\xff\x00")
        check("0xFF crosses both ways", echoes == b"\x05\xff\x00", echoes.hex())
        tail = port.read(2)
        check("checksum wraps, name not found", tail == b"\x04\x00", tail.hex())
        port.close()
    finally:
        sim.stop()


def test_flash_file(tmp):
    flash = os.path.join(tmp, "flash.txt")
    sim = Sim("--flash", flash, "--program", "KEPT", "--program", "DATA:2", "--once")
    sim.stop()
    with open(flash) as f:
        rows = [l.split() for l in f if not l.startswith("#")]
    check("flash file has both files",
          sorted((r[0], r[1]) for r in rows) == [("DATA", "2"), ("KEPT", "1")], repr(rows))
    sim = Sim("--flash", flash)
    try:
        port = open_port(sim)
        wait_cts(port)
        port.write(b"\x7f")
        port.read(1)
        exchange(port, b"\x05KEPT\x00")
        kept = port.read(2)
        exchange(port, b"\x05DATA\x00")
        data = port.read(2)
        check("a reloaded program starts", kept[1:] == b"\x01", kept.hex())
        check("a reloaded data file is no program", data[1:] == b"\x02", data.hex())
        port.close()
    finally:
        sim.stop()


def test_command_line():
    out = subprocess.run([VKSIM, "--help"], capture_output=True, timeout=10)
    check("--help exits 0", out.returncode == 0)
    check("--help names the fault knobs",
          all(k in out.stdout for k in (b"--silent-after", b"--echo-fault", b"--cts-high")))
    bad = subprocess.run([VKSIM, "--baud", "9600"], capture_output=True, timeout=10)
    check("a rate the board cannot have is refused", bad.returncode == 2, repr(bad.stderr))


def main():
    signal.alarm(90)  # a last bound on the whole script
    with tempfile.TemporaryDirectory() as tmp:
        for test in (lambda: test_session(tmp), lambda: test_wrong_rate(tmp),
                     lambda: test_ff_on_the_wire(tmp), lambda: test_flash_file(tmp),
                     test_command_line):
            try:
                test()
            except Exception as e:  # one broken group must not hide the others
                check("no exception", False, "%s: %s" % (type(e).__name__, e))
    return tally.summary()


if __name__ == "__main__":
    sys.exit(main())
