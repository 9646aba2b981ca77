#!/usr/bin/python3
"""Smoke tests of the Windows build, run under Wine, against the Linux build.

    smoke.py --linux-bin build/bin --windows-build build-win

Every program of the Windows build is run under Wine and its standard
output and exit code are compared with the Linux build's for the same run:
usage texts, the settings file beside the .EXE (written with CR LF line
ends), the loaders' local-phase errors, sessions against the Linux vksim
through rfc2217:// (the RFC 2217 backend over Winsock; the simulator's
trace of the bytes on the wire must match too), and the Win32 serial
backend on a Wine COM port mapped to a pseudo-terminal.

Windows console output is compared after undoing the run-time's text mode
(each "\\n" written comes out as "\\r\\n"); nothing else is normalised except
what differs by nature: the platform's error code in a "Failed: %d"
message, and timing figures.

Safety: Wine maps COM ports to /dev/ttyS* by default. The private prefix
maps COM1..COM4 to paths that do not exist before any program runs, every
run maps VK_COM1..VK_COM4 (to a loopback address where nothing listens
when unused), and COM1 points at a pseudo-terminal only for the runs that
open it, after a check of the link. Wine hands the Windows side no
variable whose name starts with VK_; it imports WINEVK_COMn as VK_COMn.

Every wait is bounded. Prints one line per check and "N passed, M failed";
exits non-zero when anything failed.
"""

import argparse
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import zipfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import peers  # noqa: E402

RUN_TIMEOUT = 60  # seconds, any single program run
SIM_TIMEOUT = 30  # seconds, the simulator's own idle limit
UNREACHABLE = "rfc2217://127.0.0.1:1"
ALL_PORTS = (1, 2, 3, 4)
NOBODY = 65534  # the ordinary user an installed program is tried as
ENVIRONMENT_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
# Error codes for the same failure on the two systems.
ECONNREFUSED = 111
WSAECONNREFUSED = 10061

tally = peers.Tally()
report = tally.check


def windows_text(out):
    """A Windows console program's output as the program wrote it."""
    return out.replace(b"\r\n", b"\n")


def error_codes(out):
    return [int(c) for c in re.findall(rb"Failed: (\d+)", out)]


def without_error_codes(out):
    return re.sub(rb"Failed: \d+", b"Failed: <code>", out)


def without_timing(out):
    out = re.sub(rb"At Timestamp \d+", b"At Timestamp <ms>", out)
    out = re.sub(rb"In +\d+ Milliseconds", b"In <ms> Milliseconds", out)
    return re.sub(rb"Download Time = [0-9.]+ Seconds", b"Download Time = <s> Seconds", out)


def compare(name, linux, windows, normalise=lambda b: b):
    """Linux and Windows results (rc, stdout) must be the same."""
    lrc, lout = linux[:2]
    wrc, wout = windows[:2]
    lout, wout = normalise(lout), normalise(windows_text(wout))
    if lrc != wrc:
        report(name, False, f"exit code linux {lrc}, windows {wrc}; windows output {wout!r}")
    elif lout != wout:
        report(name, False, f"output differs:\n  linux   {lout!r}\n  windows {wout!r}")
    else:
        report(name, True)


def run_bounded(argv, cwd, env, stdin_data=b"", timeout=RUN_TIMEOUT, with_stderr=False):
    """Runs a process in a session of its own; (rc, stdout), and stderr when asked. A run past its
    time is killed with its whole group and reported as rc None."""
    proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE if with_stderr else subprocess.DEVNULL,
                            start_new_session=True)
    try:
        out, err = proc.communicate(stdin_data, timeout=timeout)
        rc = proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        rc = None
    return (rc, out, err or b"") if with_stderr else (rc, out)


class Wine:
    """A private Wine prefix with a persistent wineserver of its own."""

    def __init__(self, root, ordinary=False):
        self.prefix = os.path.join(root, "prefix")
        self.base = dict(os.environ)
        for key in list(self.base):
            if key.startswith(("VK_", "WINEVK_")) or key in ("DISPLAY", "WAYLAND_DISPLAY"):
                del self.base[key]
        self.base.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.base.setdefault("HOME", root)  # Wine will not start without one
        self.placeholders = {n: os.path.join(root, f"no-port-com{n}") for n in ALL_PORTS}
        self.as_user = []
        if ordinary and os.geteuid() == 0:  # an ordinary user's prefix: nobody's (root may write anywhere)
            self.as_user = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", "--"]
            self.base["HOME"] = root
            os.chown(root, NOBODY, NOBODY)
            os.chmod(os.path.dirname(root), 0o711)  # the suite's work directory: passable

    def env(self, ports=None, extra=None):
        """The environment of one run. `ports` maps a port number to the value
        of VK_COMn (None: unset); unnamed ports go nowhere."""
        env = dict(self.base)
        ports = ports or {}
        for n in ALL_PORTS:
            value = ports.get(n, UNREACHABLE)
            if value is not None:
                env[f"VK_COM{n}"] = value
                env[f"WINEVK_COM{n}"] = value
        env.update(extra or {})
        return env

    def _quiet(self, argv, timeout):
        return subprocess.run(self.as_user + argv, env=self.base, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, start_new_session=True).returncode

    def link(self, n):
        path = os.path.join(self.prefix, "dosdevices", f"com{n}")
        return os.readlink(path) if os.path.islink(path) else None

    def start(self):
        self._quiet(["wineboot", "-i"], 300)
        for n in ALL_PORTS:
            self._quiet(["wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", f"COM{n}", "/t", "REG_SZ",
                         "/d", self.placeholders[n], "/f"], 60)
        # Restart, so the device manager maps the ports anew from the
        # registry; the server then stays up, detached from our pipes.
        self._quiet(["wineserver", "-k"], 60)
        self._quiet(["wineserver", "-w"], 60)
        self._quiet(["wineserver", "-p"], 60)
        self._quiet(["wine", "cmd", "/c", "exit"], 60)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not self.ports_safe():
            time.sleep(0.2)
        return self.ports_safe()

    def ports_safe(self):
        return all(self.link(n) == self.placeholders[n] for n in ALL_PORTS)

    def map_com(self, n, target):
        """Points COMn at `target` (None: back to its placeholder); True when
        the link now says so."""
        target = target or self.placeholders[n]
        path = os.path.join(self.prefix, "dosdevices", f"com{n}")
        tmp = path + ".new"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(target, tmp)
        os.replace(tmp, path)
        return self.link(n) == target

    def stop(self):
        # The server must be gone before the prefix is: a new prefix made
        # at once may get the same inode, which names the server's socket.
        try:
            self._quiet(["wineserver", "-k"], 60)
            self._quiet(["wineserver", "-w"], 60)
        except subprocess.TimeoutExpired:
            pass

    def run(self, exe, args, cwd, ports=None, stdin_data=b"", extra_env=None, with_stderr=False):
        return run_bounded(self.as_user + ["wine", exe] + args, cwd, self.env(ports, extra_env), stdin_data,
                           with_stderr=with_stderr)

    def registry(self, key, value):
        """A value in the prefix's registry as `reg query` shows it; "" when absent."""
        rc, out = run_bounded(self.as_user + ["wine", "reg", "query", key, "/v", value], None, self.base)
        m = re.search(rb"^\s+" + re.escape(value.encode()) + rb"\s+REG_\w+\s+(.*?)\r?$", out, re.M)
        return m.group(1).decode() if rc == 0 and m else ""


def linux_env(ports=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("VK_")}
    ports = ports or {}
    for n in ALL_PORTS:
        env[f"VK_COM{n}"] = ports.get(n, UNREACHABLE)
    return env


def run_linux(exe, args, cwd, ports=None, stdin_data=b"", with_stderr=False):
    return run_bounded([exe] + args, cwd, linux_env(ports), stdin_data, with_stderr=with_stderr)


def start_sim(vksim, workdir, options):
    """The Linux vksim for one session, tracing into workdir/trace.txt."""
    return peers.vksim(os.path.dirname(vksim), ["--once", "--idle-timeout", str(SIM_TIMEOUT), "--trace",
                                                os.path.join(workdir, "trace.txt")] + options, workdir)


def wire(trace):
    """The trace without the sync bytes before the first command byte: how
    many sync pairs a connection takes depends on timing."""
    first = next((i for i, line in enumerate(trace) if line.startswith("> ") and line != "> 7f"
                  and line != "> 0f"), len(trace))
    head = [line for line in trace[:first] if not re.fullmatch(r"[<>x] (7f|0f)", line)]
    return head + trace[first:]


class Suite:
    def __init__(self, linux_bin, windows_build, samples, work):
        self.linux_bin = linux_bin
        self.windows_build = windows_build
        self.win_bin = os.path.join(windows_build, "bin")
        self.win_testbin = os.path.join(windows_build, "testbin")
        self.samples = samples
        self.work = work
        self.wine = Wine(work)
        self.count = 0

    def fresh_dir(self, name):
        self.count += 1
        path = os.path.join(self.work, f"{self.count:03d}-{name}")
        os.makedirs(path)
        return path

    def programs(self):
        """The programs in the source tree, and those each build has
        (vkports looks at Linux's /sys and is built there only)."""
        tools = os.path.join(os.path.dirname(self.samples), "src", "tools")
        names = sorted(d for d in os.listdir(tools) if os.path.isdir(os.path.join(tools, d)) and d != "vkports")
        win = [n for n in names if os.path.isfile(os.path.join(self.win_bin, n + ".exe"))]
        lin = [n for n in names if os.access(os.path.join(self.linux_bin, n), os.X_OK)]
        return names, win, lin

    def copy_pair(self, program, ldir, wdir):
        """A copy of each build of `program`; (linux path, windows path)."""
        lexe = os.path.join(ldir, program)
        wexe = os.path.join(wdir, program + ".exe")
        shutil.copy2(os.path.join(self.linux_bin, program), lexe)
        shutil.copy2(os.path.join(self.win_bin, program + ".exe"), wexe)
        return lexe, wexe

    def pair(self, name, program, args, ports=None, stdin_data=b"", files=(), with_stderr=False):
        """Runs `program args` from each build in a fresh directory of its
        own; returns the two results and the two directories."""
        ldir, wdir = self.fresh_dir(name + "-linux"), self.fresh_dir(name + "-windows")
        for d in (ldir, wdir):
            place_files(files, d)
        lexe, wexe = self.copy_pair(program, ldir, wdir)
        linux = run_linux(lexe, args, ldir, ports, stdin_data, with_stderr)
        windows = self.wine.run(wexe, args, wdir, ports, stdin_data, with_stderr=with_stderr)
        return linux, windows, ldir, wdir

    # --- the checks -------------------------------------------------------

    def test_programs_built(self):
        names, win, lin = self.programs()
        report(f"both builds have every program ({len(names)})", names and win == names and lin == names,
               f"programs {names}, linux {lin}, windows {win}")
        return sorted(set(win) & set(lin))

    def test_usage(self):
        for program in self.common:
            for flag in ("-h", "?"):
                linux, windows, _, _ = self.pair(f"usage-{program}", program, [flag])
                if linux[0] != 0:
                    report(f"usage {program} {flag}", False, f"linux exit code {linux[0]}")
                    continue
                compare(f"usage {program} {flag}", linux, windows)

    def test_settings_file(self):
        # The loader writes its settings before it looks at the lane files.
        linux, windows, ldir, wdir = self.pair("settings-vkburn", "vkburn", ["-C3", "-Mf", "NOFILE"])
        compare("settings: vkburn -C3 -Mf with no lane files", linux, windows)
        expected = b"PORT=COM3\r\nBAUD=115200\r\nMODE=f\r\n"
        content = read_bytes(os.path.join(wdir, "vkburn.SET"))
        report("settings: vkburn.SET beside vkburn.EXE with CR LF line ends", content == expected,
               f"found {content!r}")
        report("settings: linux file has the same lines",
               read_bytes(os.path.join(ldir, "vkburn.SET")) == expected.replace(b"\r\n", b"\n"))
        # Read back: the usage text shows the stored values.
        lexe, wexe = os.path.join(ldir, "vkburn"), os.path.join(wdir, "vkburn.exe")
        compare("settings: CR LF file read back (vkburn -h)", run_linux(lexe, ["-h"], ldir),
                self.wine.run(wexe, ["-h"], wdir))
        usage = windows_text(self.wine.run(wexe, ["-h"], wdir)[1])
        report("settings: read back gives COM3 and mode f",
               b"Current Settings: PORT = COM3, BAUD = 115200, MODE = f" in usage, f"usage {usage!r}")

        # Started by a bare name from its own directory: NAME.EXE is found in
        # the current directory.
        home = self.fresh_dir("settings-bare")
        shutil.copy2(os.path.join(self.win_bin, "vkstart.exe"), home)
        rc, _ = self.wine.run("vkstart", ["-C2", "PROG"], home)
        content = read_bytes(os.path.join(home, "vkstart.SET"))
        report("settings: bare name, found in the current directory",
               rc == 2 and content == b"PORT=COM2\r\nBAUD=115200\r\n", f"rc {rc}, file {content!r}")

        # Started by a bare name from elsewhere: found on PATH, the file goes
        # beside the program, not into the current directory.
        elsewhere = self.fresh_dir("settings-elsewhere")
        windows_home = "Z:" + home.replace("/", "\\")
        rc, _ = self.wine.run("vkstart", ["-C4", "PROG"], elsewhere, extra_env={"WINEPATH": windows_home})
        content = read_bytes(os.path.join(home, "vkstart.SET"))
        stray = [f for f in os.listdir(elsewhere) if f.upper().endswith(".SET")]
        report("settings: bare name found on PATH, file beside the program",
               rc == 2 and content == b"PORT=COM4\r\nBAUD=115200\r\n" and not stray,
               f"rc {rc}, file {content!r}, in the current directory {stray}")

        # Started by a full Windows path in lower case: the ".exe" is replaced.
        rc, _ = self.wine.run(windows_home + "\\vkstart.exe", ["-C1", "PROG"], elsewhere)
        content = read_bytes(os.path.join(home, "vkstart.SET"))
        report("settings: full path ending in .exe", rc == 2 and content == b"PORT=COM1\r\nBAUD=115200\r\n",
               f"rc {rc}, file {content!r}")

        # Typed with its extension in capitals from elsewhere: the file beside the program.
        rc, _, err = self.wine.run("VKSTART.EXE", ["-C3", "-I", "PROG"], elsewhere, with_stderr=True,
                                   extra_env={"WINEPATH": windows_home})
        files = [f for f in os.listdir(home) + os.listdir(elsewhere) if f.upper().endswith(".SET")]
        named = f"vkstart: settings file {windows_home}\\VKSTART.SET\n".upper().encode()
        report("settings: VKSTART.EXE typed from elsewhere: the file beside the program, named by -I",
               rc == 2 and [f.upper() for f in files] == ["VKSTART.SET"]
               and read_bytes(os.path.join(home, files[0])) == b"PORT=COM3\r\nBAUD=115200\r\n"
               and named in windows_text(err).upper(), f"rc {rc}, files {files}, stderr {err!r}")

        # A folder in the settings file's place.
        linux, windows, ldir, wdir = self.pair("settings-unwritable", "vkstart", ["-C2", "PROG"],
                                               files=[(None, "vkstart.SET")], with_stderr=True)
        for side, (rc, out, err), path in (("linux", linux, os.path.join(ldir, "vkstart.SET")), ("windows", windows,
                                           "Z:" + wdir.replace("/", "\\") + "\\vkstart.SET")):
            out, path = windows_text(out) if side == "windows" else out, path.encode()
            report(f"settings: {side}: a folder in the file's place: the message on stdout, the reason on stderr",
                   rc == 2 and out.startswith(b"\nSettings File " + path + b" Could Not Be Written\n\nOpen Of ")
                   and b"vkstart: settings file " + path + b" cannot be written: a directory" in err,
                   f"rc {rc}, stdout {out!r}, stderr {err!r}")

    def test_open_failures(self):
        """A failed open: standard output as on Linux; the system's text and the fix on standard error."""
        cases = [
            # title, VK_COM1, Windows standard error holds
            ("an rfc2217 URL where nothing listens", UNREACHABLE,
             [b": Connection refused (10061)", b"nothing listens there: is the serial server running"]),
            ("a COM port that is not there", r"\\.\COM29",
             [b": File not found (2)", b"COM ports here: COM1, COM2, COM3, COM4",
              b"map one with VK_COM1=\\\\.\\COM"]),
            ("a URL without a port", "rfc2217://127.0.0.1", [b"the URL must read rfc2217://HOST:PORT"]),
            ("a folder", "./sub", [b"./sub: Access denied (5)", b"./sub is not a serial port (it is a folder)"]),
        ]
        for title, device, says in cases:
            linux, windows, _, _ = self.pair("open-failure", "vkstart", ["PROG"], {1: device}, with_stderr=True,
                                             files=[(None, "sub")])
            compare(f"open of {title}: standard output", linux, windows, without_error_codes)
            err = windows[2]
            report(f"open of {title}: the system's text and the hint on standard error",
                   all(part in err for part in says), f"stderr {err!r}")
            if device == UNREACHABLE:
                codes = (error_codes(linux[1]), error_codes(windows_text(windows[1])))
                report("open error codes: ECONNREFUSED on linux, WSAECONNREFUSED on windows",
                       codes == ([ECONNREFUSED], [WSAECONNREFUSED]), f"codes {codes}")

    def test_local_phase(self):
        loaders = [p for p in ("vkburn", "vkram") if p in self.common]
        lanes = [os.path.join(self.samples, "blink", f"BLINK.X{i}") for i in range(4)]
        cyrillic = [(lane, "миг.X" + lane[-1]) for lane in lanes[:3]] + [(None, "миг.X3")]
        cases = [
            # title, arguments, files (a source, or (source, name); no source: a folder), standard error holds
            ("no lane files", ["NOFILE"], [], ": there is no such file"),
            ("extension refused", ["blink.x0"], lanes, ""),
            ("name too long", ["N" * 257], [], ""),
            ("fourth lane missing", ["BLINK"], lanes[:3], "BLINK.X3: there is no such file"),
            ("a Cyrillic lane that is a folder", ["миг"], cyrillic, "миг.X3: it is a directory"),
        ]
        for loader in loaders:
            for title, args, files, says in cases:
                linux, windows, _, _ = self.pair(f"local-{loader}", loader, args, files=files, with_stderr=True)
                if linux[0] != 2:
                    report(f"{loader} {title}", False, f"linux exit code {linux[0]}, output {linux[1]!r}")
                    continue
                compare(f"{loader} {title}", linux, windows)
                if says:
                    report(f"{loader} {title}: the reason on standard error", all(
                        says.encode() in err for err in (linux[2], windows[2])), f"{linux[2]!r}, {windows[2]!r}")

    def session_pair(self, name, program, args, sim_options, files=(), stdin_data=b"", flash=None,
                     normalise=without_timing):
        """The same session against a simulator of its own for each build:
        output, exit code, the bytes on the wire and the flash afterwards."""
        runs = []
        for side in ("linux", "windows"):
            d = self.fresh_dir(f"{name}-{side}")
            place_files(files, d)
            options = list(sim_options)
            if flash is not None:
                with open(os.path.join(d, "flash.txt"), "w") as f:
                    f.write(flash)
                options += ["--flash", os.path.join(d, "flash.txt")]
            sim = start_sim(self.sim, d, options)
            if sim.url is None:
                sim.stop()
                report(name, False, "vksim did not start")
                return None
            ports = {1: sim.url}
            if side == "linux":
                shutil.copy2(os.path.join(self.linux_bin, program), d)
                result = run_linux(os.path.join(d, program), args, d, ports, stdin_data)
            else:
                shutil.copy2(os.path.join(self.win_bin, program + ".exe"), d)
                result = self.wine.run(os.path.join(d, program + ".exe"), args, d, ports, stdin_data)
            sim.finish()
            trace = (read_bytes(os.path.join(d, "trace.txt")) or b"").decode(errors="replace").splitlines()
            flash_text = read_bytes(os.path.join(d, "flash.txt")) if flash is not None else b""
            runs.append((result, trace, flash_text, d))
        (lres, ltrace, lflash, _), (wres, wtrace, wflash, wdir) = runs
        compare(name, lres, wres, normalise)
        report(f"{name}: same bytes on the wire", wire(ltrace) == wire(wtrace),
               first_difference(wire(ltrace), wire(wtrace)))
        if flash is not None:
            report(f"{name}: same flash afterwards", lflash == wflash, f"linux {lflash!r}, windows {wflash!r}")
        return wres, wdir

    def test_sessions(self):
        # A fixed flash (no dates of "now") so listings match between runs.
        flash = ("PROG 1 24 5 25 14 3 0 00809c00 12345678 9abcdef0\n"
                 "DATA 2 1 1 24 0 0 0 00000000 00000001\n")
        got = self.session_pair("vkstart PROG -i against vksim", "vkstart", ["PROG", "-i"], [], flash=flash)
        if got:
            (rc, out), wdir = got
            report("vkstart: program started", rc == 2 and b"PROG Started On Target." in out, f"{rc} {out!r}")
            content = read_bytes(os.path.join(wdir, "vkstart.SET"))
            report("vkstart: settings rewritten with CR LF", content == b"PORT=COM1\r\nBAUD=115200\r\n",
                   f"file {content!r}")
        lanes = [os.path.join(self.samples, "blink", f"BLINK.X{i}") for i in range(4)]
        # Names outside any ANSI code page too: a Cyrillic folder with Cyrillic lane files.
        for folder, source, mode in (("", "BLINK", "s"), ("", "BLINK", "f"), ("папка ", "миг", "f")):
            got = self.session_pair(f"{folder}vkburn {source} -M{mode} against vksim", "vkburn", [source, "-M" + mode],
                                    [], files=[(lane, source + lane[-3:]) for lane in lanes], flash="")
            if got:
                (rc, out), wdir = got
                said = (f"Loading File: {source}.X3", f"{source} Started At Address")
                report(f"vkburn {source} -M{mode}: download complete, the lane files opened by their names, settings "
                       "beside it", rc == 0 and all(text.encode() in out for text in said) and read_bytes(
                           os.path.join(wdir, "vkburn.SET")) == f"PORT=COM1\r\nBAUD=115200\r\nMODE={mode}\r\n".encode(),
                       f"{rc} {out!r}, in the folder {os.listdir(wdir)}")
        if "vkram" in self.common:
            got = self.session_pair("vkram BLINK against vksim", "vkram", ["BLINK"], [], files=lanes)
            if got:
                (rc, out), _ = got
                report("vkram: download complete", rc == 0 and b"BLINK Started At Address" in out, f"{rc} {out!r}")
        # The other programs, one session each.
        others = [
            ("vklist", [], b""),
            ("vkcheck", [], b""),
            ("vkerase", ["DATA"], b""),
            ("vkname", ["PROG", "NEWNAME"], b""),
            ("vkwipe", [], b"y\n"),
        ]
        for program, args, stdin_data in others:
            if program in self.common:
                self.session_pair(f"{program} {' '.join(args)} against vksim".replace("  ", " "), program, args,
                                  [], stdin_data=stdin_data, flash=flash)

    def test_vkports(self):
        """vkports lists the prefix's COM ports, COM1..COM4 with their mappings, and opens none."""
        d = self.fresh_dir("vkports")
        rc, out, err = self.wine.run(os.path.join(self.win_bin, "vkports.exe"), [], d,
                                     {1: r"\\.\COM3", 2: UNREACHABLE, 3: None, 4: None}, with_stderr=True)
        out = windows_text(out)
        prefix_ports = sorted((n.upper() for n in os.listdir(os.path.join(self.wine.prefix, "dosdevices"))
                               if re.fullmatch(r"com\d+", n)), key=lambda n: int(n[3:]))
        listed = [n.decode() for n in re.findall(rb"^  (COM\d+)$", out, re.M)]
        mappings = (rb"^  COM1  \\\\\.\\COM3 +VK_COM1, COM3 listed by the system",
                    rb"^  COM2  rfc2217://127\.0\.0\.1:1 +VK_COM2, RFC 2217 server", rb"^  COM3  COM3 +default, COM3 ")
        report("vkports lists the prefix's COM ports and COM1..COM4 with their mappings",
               rc == 0 and listed == prefix_ports and all(re.search(m, out, re.M) for m in mappings) and err == b"",
               f"rc {rc}, prefix {prefix_ports}, output {out!r}, stderr {err!r}")

    def package(self, what, extension):
        """The one package of the Windows build's cpack with this extension."""
        found = [f for f in os.listdir(self.windows_build) if re.fullmatch(rf"vktools-.*-win64\.{extension}", f)]
        return report(f"the {what} was built (cpack in the Windows build)", len(found) == 1,
                      f"found {found}") and found[0]

    def test_packages(self):
        """Every program carries its version and manifest; the zip, the programs stripped and the docs."""
        programs = self.common + ["vkports"]
        cache = read_bytes(os.path.join(self.windows_build, "CMakeCache.txt")) or b""
        project_version = (re.findall(rb"^CMAKE_PROJECT_VERSION:\w+=(.*)$", cache, re.M) or [b"?"])[0].decode()
        for program in programs:
            data = read_bytes(os.path.join(self.win_bin, program + ".exe")) or b""
            version = [v.decode("utf-16-le") for v in re.findall(
                rb"F\0i\0l\0e\0V\0e\0r\0s\0i\0o\0n\0(?:\0\0)+((?:[0-9.]\0)+)", data)][:1]
            report(f"{program}.exe: version resource ({project_version}) and manifest (UTF-8 code page, as invoker)",
                   version == [project_version] and b"<activeCodePage" in data and b'level="asInvoker"' in data,
                   f"version {version}")
        name = self.package("zip", "zip")
        if not name:
            return
        with zipfile.ZipFile(os.path.join(self.windows_build, name)) as z:
            top, names = name[:-4] + "/", set(z.namelist())
            wanted = {top + "README.txt"} | {f"{top}{d}/{p}.{e}" for p in programs
                                              for d, e in (("bin", "exe"), ("doc", "txt"))}
            unstripped = [p for p in programs if f"{top}bin/{p}.exe" in names
                          and symbol_table(z.read(f"{top}bin/{p}.exe")) != (0, 0)]
            page = z.read(f"{top}doc/vkburn.txt") if f"{top}doc/vkburn.txt" in names else b""
        report("zip: the programs stripped, README.txt, the man pages as text with CR LF line ends",
               wanted <= names and not unstripped and b"SYNOPSIS\r\n" in page and b"\x08" not in page,
               f"missing {sorted(wanted - names)}, unstripped {unstripped}")

    def test_installer(self):
        """The installer run silently in an ordinary user's prefix, where the programs keep their
        settings; the uninstaller leaves nothing behind."""
        installer = self.package("installer", "exe")
        if not installer:
            return
        root = self.fresh_dir("installed")
        user = Wine(root, ordinary=True)
        shutil.copy2(os.path.join(self.windows_build, installer), root)
        try:
            if report("an ordinary user's prefix, COM1..COM4 mapped to nothing", user.start()):
                self.installed(user, root, installer)
        finally:
            user.stop()

    def installed(self, user, root, installer):
        folder = os.path.join(user.prefix, "drive_c", "Program Files", "vktools")
        bin_dir = os.path.join(folder, "bin")
        rc, _ = user.run(os.path.join(root, installer), ["/S", "/PATH", r"/D=C:\Program Files\vktools"], root)
        programs, docs = listing(bin_dir), listing(os.path.join(folder, "doc"))
        path = user.registry(ENVIRONMENT_KEY, "Path")
        report("silent install into Program Files\\vktools, the programs on PATH",
               rc == 0 and programs == sorted(p + ".exe" for p in self.common + ["vkports"])
               and "vkburn.txt" in docs and os.path.isfile(os.path.join(folder, "README.txt"))
               and path.endswith(r";C:\Program Files\vktools\bin"),
               f"rc {rc}, programs {programs}, docs {docs}, Path {path!r}")

        # Program Files is every user's (this one may even write it): the settings are each user's own.
        work, closed = os.path.join(root, "work"), os.path.join(root, "closed")  # closed: not the user's to write
        owner = NOBODY if user.as_user else os.getuid()
        for d in (work, closed):
            os.mkdir(d)
            os.chown(d, owner, owner)
        rc, out, err = user.run("vklist", ["-C2", "-I"], work, with_stderr=True)
        named = re.search(rb"vklist: settings file ([^\r\n]*)", err)
        report("installed vklist -C2 -I: settings in %APPDATA%\\vktools, named on standard error",
               rc == 2 and named and re.fullmatch(rb"C:\\users\\[^\\]+\\AppData\\Roaming\\vktools\\vklist\.SET",
                                                  named.group(1)) and b"Could Not Be Written" not in out,
               f"rc {rc}, stdout {out!r}, stderr {err!r}")
        shutil.copy2(os.path.join(bin_dir, "vkburn.exe"), closed)
        os.chmod(closed, 0o555)
        user.run(os.path.join(closed, "vkburn.exe"), ["-Mf", "-C3", "NOFILE"], work)
        rc, out = user.run("vkburn", ["-H"], work)
        report("vkburn in a folder closed to the user keeps -C3 -Mf in %APPDATA%, where the installed one reads them",
               rc == 0 and b"Current Settings: PORT = COM3, BAUD = 115200, MODE = f" in out
               and os.listdir(closed) == ["vkburn.exe"], f"rc {rc}, {out!r}, in the folder {os.listdir(closed)}")
        os.chmod(closed, 0o755)
        beside = os.path.join(bin_dir, "vkstart.SET")
        with open(beside, "w") as f:
            f.write("PORT=COM4\r\nBAUD=38400\r\n")
        if user.as_user:
            os.chown(beside, NOBODY, NOBODY)
        rc, _ = user.run("vkstart", ["-C2", "PROG"], work)
        report("a settings file the user may write beside the installed program keeps precedence",
               rc == 2 and read_bytes(beside) == b"PORT=COM2\r\nBAUD=38400\r\n", f"rc {rc}, {read_bytes(beside)!r}")
        stray = [f for f in os.listdir(bin_dir) if f.upper().endswith(".SET") and f != "vkstart.SET"]
        report("nothing else written beside the installed programs", not stray, f"found {stray}")

        rc, _ = user.run(os.path.join(folder, "uninstall.exe"), ["/S"], work)
        deadline = time.monotonic() + 30  # the uninstaller goes on from a copy of itself
        while os.path.exists(folder) and time.monotonic() < deadline:
            time.sleep(0.2)
        path = user.registry(ENVIRONMENT_KEY, "Path")
        entry = user.registry(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\vktools", "DisplayName")
        report("silent uninstall: the folder, the PATH entry and the uninstall entry gone",
               rc == 0 and not os.path.exists(folder) and path and "vktools" not in path and entry == "",
               f"rc {rc}, left {listing(folder)}, Path {path!r}, entry {entry!r}")

    def test_key_press(self):
        """A key on the console (Wine's reads the terminal on standard input) ends the wait for a board
        that never raises CTS."""
        d = self.fresh_dir("key-press")
        shutil.copy2(os.path.join(self.win_bin, "vkstart.exe"), d)
        sim = start_sim(self.sim, d, ["--no-cts"])
        master, slave = pty.openpty()
        out_path, err_path = os.path.join(d, "stdout"), os.path.join(d, "stderr")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(["wine", os.path.join(d, "vkstart.exe"), "PROG"], cwd=d, stdin=slave, stdout=out,
                                    stderr=err, env=self.wine.env({1: sim.url}), start_new_session=True)
        os.close(slave)
        pressed, deadline = None, time.monotonic() + RUN_TIMEOUT
        while proc.poll() is None and time.monotonic() < deadline:
            if select.select([master], [], [], 0.2)[0]:
                try:
                    os.read(master, 4096)  # what the console writes to its terminal
                except OSError:
                    time.sleep(0.2)
            if pressed is None and b"a key press ends the wait" in read_bytes(err_path):
                os.write(master, b"x")
                pressed = time.monotonic()
                deadline = min(deadline, pressed + 10)
        rc = proc.poll()
        if rc is None:
            os.killpg(proc.pid, signal.SIGKILL)
        proc.wait(timeout=10)
        sim.stop()
        os.close(master)
        out, err = read_bytes(out_path), read_bytes(err_path)
        report("a key press ends the wait for CTS: exit 2 within 10 s, the stars only on stdout, the key on stderr",
               pressed is not None and rc == 2 and windows_text(out).strip(b"*\n") == b""
               and b"a key press ended the wait" in err, f"pressed {pressed is not None}, rc {rc}, {out!r}, {err!r}")

    def test_com_port(self):
        """The Win32 backend on Wine COM ports that are pseudo-terminals."""
        master, slave = pty.openpty()
        master2, slave2 = pty.openpty()
        try:
            name, name2 = os.ttyname(slave), os.ttyname(slave2)
            if not (self.wine.map_com(1, name) and self.wine.map_com(2, name2)):
                report("COM1 and COM2 mapped to pseudo-terminals", False,
                       f"links {self.wine.link(1)}, {self.wine.link(2)}")
                return
            self.com_tool_runs(name)
            self.com_default_name(name2, slave2)
            self.com_link_test_run(master, slave)
        finally:
            self.wine.map_com(1, None)
            self.wine.map_com(2, None)
            for fd in (master, slave, master2, slave2):
                os.close(fd)
        report("COM ports back on their placeholders", self.wine.ports_safe(),
               f"links {[self.wine.link(n) for n in ALL_PORTS]}")

    def com_default_name(self, pts, slave):
        # Port 2 with no VK_COM2 opens the device named COM2: the open sets
        # the line to the stored rate.
        mode = termios.tcgetattr(slave)
        mode[4] = mode[5] = termios.B9600
        termios.tcsetattr(slave, termios.TCSANOW, mode)
        wdir = self.fresh_dir("com2-default")
        shutil.copy2(os.path.join(self.win_bin, "vkstart.exe"), wdir)
        if self.wine.link(2) != pts:
            report("port 2 without VK_COM2", False, f"COM2 link is {self.wine.link(2)}; not run")
            return
        rc, out = self.wine.run(os.path.join(wdir, "vkstart.exe"), ["-C2", "PROG"], wdir, {2: None})
        out = windows_text(out)
        after = termios.tcgetattr(slave)
        report("port 2 without VK_COM2 opens COM2",
               rc == 2 and out.startswith(b"\nSetRtsSignal() Failed: ") and after[4] == termios.B115200,
               f"rc {rc}, output {out!r}, speed {after[4]}")
        # A name that is no device at all: the open message names it.
        rc, out = self.wine.run(os.path.join(wdir, "vkstart.exe"), ["-C1", "PROG"], wdir, {1: r"\\.\VKNOPORT"})
        out = windows_text(out)
        report("a port name that opens nothing: the open message with the name and the code",
               rc == 2 and re.fullmatch(rb"\nOpen Of \\\\\.\\VKNOPORT Failed: [1-9]\d*\n", out) is not None,
               f"rc {rc}, output {out!r}")

    def com_tool_runs(self, pts):
        # A tool opens the port and fails at its first modem-line call, the
        # RTS pulse: the routine's message with the system's code, exit 2.
        lmaster, lslave = pty.openpty()
        try:
            ldir = self.fresh_dir("com-linux")
            shutil.copy2(os.path.join(self.linux_bin, "vkstart"), ldir)
            linux = run_linux(os.path.join(ldir, "vkstart"), ["PROG"], ldir, {1: os.ttyname(lslave)})
        finally:
            os.close(lmaster)
            os.close(lslave)
        for device in ("COM1", r"\\.\COM1"):
            wdir = self.fresh_dir("com-windows")
            shutil.copy2(os.path.join(self.win_bin, "vkstart.exe"), wdir)
            if self.wine.link(1) != pts:
                report(f"vkstart on {device}", False, "COM1 is not the pseudo-terminal; not run")
                continue
            windows = self.wine.run(os.path.join(wdir, "vkstart.exe"), ["PROG"], wdir, {1: device})
            compare(f"vkstart on {device} (a pseudo-terminal): first modem-line call fails", linux, windows,
                    without_error_codes)
            out = windows_text(windows[1])
            codes = error_codes(out)
            report(f"vkstart on {device}: SetRtsSignal message with a system error code",
                   out.startswith(b"\nSetRtsSignal() Failed: ") and len(codes) == 1 and codes[0] != 0,
                   f"output {out!r}")

    def com_link_test_run(self, master, slave):
        # The link's own test of the Win32 backend (tests/wine/win32_link_test.cpp)
        # asserts what it reads; the suite plays the far end and reads the line
        # settings after each "step" line the test prints.
        exe = os.path.join(self.win_testbin, "vk_win_link_tests.exe")
        if not os.path.exists(exe):
            report("serial routines on COM1", False, f"{exe} missing")
            return
        proc = subprocess.Popen(["wine", exe], cwd=self.work, env=self.wine.env({1: "COM1"}),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        received = b""
        out = b""
        modes = {}
        answered = False
        deadline = time.monotonic() + RUN_TIMEOUT
        open_fds = [master, proc.stdout]
        while time.monotonic() < deadline and proc.stdout in open_fds:
            ready, _, _ = select.select(open_fds, [], [], 0.1)
            if master in ready:
                received += os.read(master, 256)
                if not answered and received.endswith(b"\x01\x02"):
                    os.write(master, b"\x55\xaa\x66")
                    answered = True
            if proc.stdout in ready:
                chunk = os.read(proc.stdout.fileno(), 4096)
                if not chunk:
                    open_fds.remove(proc.stdout)
                out += chunk
                # The line settings while the test waits after each change.
                text = windows_text(out)
                for step in (b"open", b"baud", b"hs 1", b"hs 0"):
                    if step not in modes and b"step " + step + b"\n" in text:
                        modes[step] = termios.tcgetattr(slave)
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
        rc = proc.wait(timeout=10)
        text = windows_text(out)
        report("COM1: the link's routines pass their own checks under Wine (open, pending, bytes one by one and "
               "as blocks, a block place kept after the read time-out, CTS failure through ExitTool, exit 2)",
               rc == 0 and b"[  PASSED  ] 1 test" in text, f"rc {rc}, output {text!r}")
        report("COM1: bytes written one by one reach the line, an empty block sends nothing",
               received == b"\x7f\x00\xff\x01\x02", f"line got {received!r}")
        self.check_modes(modes)

    def check_modes(self, modes):
        def speed(mode):
            return mode[4], mode[5]

        def flags_8n1(mode):
            cflag, iflag = mode[2], mode[0]
            return ((cflag & termios.CSIZE) == termios.CS8 and not cflag & termios.PARENB
                    and not cflag & termios.CSTOPB and not iflag & (termios.IXON | termios.IXOFF))

        opened = modes.get(b"open")
        report("COM1: after the open 115200 baud, 8N1, no XON/XOFF, no RTS/CTS flow",
               opened is not None and speed(opened) == (termios.B115200, termios.B115200) and flags_8n1(opened)
               and not opened[2] & termios.CRTSCTS, f"mode {opened}")
        changed = modes.get(b"baud")
        report("COM1: SetBaudRate gives 38400 baud",
               changed is not None and speed(changed) == (termios.B38400, termios.B38400) and flags_8n1(changed),
               f"mode {changed}")
        on, off = modes.get(b"hs 1"), modes.get(b"hs 0")
        report("COM1: the RTS/CTS handshake switches on and off",
               on is not None and off is not None and bool(on[2] & termios.CRTSCTS)
               and not off[2] & termios.CRTSCTS and speed(off) == (termios.B38400, termios.B38400),
               f"on {on}, off {off}")

    def run(self, vksim, only=()):
        self.sim = vksim
        self.only = only
        started = time.monotonic()
        ok = self.wine.start()
        report(f"wine prefix ready, COM1..COM4 mapped to nothing ({time.monotonic() - started:.0f} s)", ok,
               f"links {[self.wine.link(n) for n in ALL_PORTS]}")
        if not ok:
            return
        try:
            self.common = self.test_programs_built()
            for name in ("usage", "settings_file", "open_failures", "local_phase", "sessions", "key_press",
                         "vkports", "packages", "installer", "com_port"):
                if not self.only or name in self.only:
                    getattr(self, "test_" + name)()
        finally:
            self.wine.stop()


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def place_files(files, directory):
    """Copies each source (or (source, name)) into `directory`; (None, name) makes a folder."""
    for f in files:
        source, name = f if isinstance(f, tuple) else (f, os.path.basename(f))
        if source is None:
            os.mkdir(os.path.join(directory, name))
        else:
            shutil.copy2(source, os.path.join(directory, name))


def symbol_table(exe):
    """(pointer, count) of a PE file's COFF symbol table: (0, 0) when stripped."""
    return struct.unpack_from("<II", exe, struct.unpack_from("<I", exe, 0x3C)[0] + 4 + 8)


def listing(directory):
    return sorted(os.listdir(directory)) if os.path.isdir(directory) else []


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return f"line {i + 1}: linux {x!r}, windows {y!r}"
    return f"lengths linux {len(a)}, windows {len(b)}"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    source = os.path.dirname(os.path.dirname(here))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--linux-bin", default=os.path.join(source, "build", "bin"))
    parser.add_argument("--windows-build", default=os.path.join(source, "build-win"))
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("--only", nargs="*", default=(), help="run these groups only (test_NAME)")
    args = parser.parse_args()

    vksim = os.path.join(os.path.abspath(args.linux_bin), "vksim")
    for needed in (vksim, os.path.join(args.windows_build, "bin")):
        if not os.path.exists(needed):
            print(f"missing: {needed}")
            print("0 passed, 1 failed")
            return 1
    if shutil.which("wine") is None:
        print("wine is not installed")
        print("0 passed, 1 failed")
        return 1

    work = tempfile.mkdtemp(prefix="vk-wine-")
    started = time.monotonic()
    try:
        Suite(os.path.abspath(args.linux_bin), os.path.abspath(args.windows_build),
              os.path.join(source, "samples"), work).run(vksim, args.only)
    finally:
        if args.keep:
            print(f"work directory kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print(f"wine smoke suite took {time.monotonic() - started:.0f} s")
    return tally.summary()


if __name__ == "__main__":
    sys.exit(main())
