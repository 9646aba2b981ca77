"""What the Python test scripts share: the tally of their checks, vksim (or
any peer that first prints "... listening on 127.0.0.1:PORT") as a child
process, bounded runs of a program, and trace files. Every wait has a
bound; a child that outlives it is killed with its process group."""

import os
import re
import select
import signal
import subprocess


class Tally:
    """Counts the checks and prints a line for each."""

    passed = failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + detail), flush=True)
        return ok

    def summary(self):
        """Prints "N passed, M failed"; returns the exit code."""
        print(f"{self.passed} passed, {self.failed} failed", flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


class Peer:
    """A peer program in a session of its own; url and port stay None when it
    does not name its port within `start_timeout` seconds."""

    def __init__(self, argv, cwd=None, start_timeout=10):
        self.proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.output, self.port, self.url = b"", None, None
        line, fd = b"", self.proc.stdout.fileno()
        while not line.endswith(b"\n") and select.select([fd], [], [], start_timeout)[0]:
            chunk = os.read(fd, 1)
            if not chunk:
                break
            line += chunk
        m = re.search(rb"listening on 127\.0\.0\.1:(\d+)", line)
        if m:
            self.port = int(m.group(1))
            self.url = f"rfc2217://127.0.0.1:{self.port}"

    def finish(self, timeout=15):
        """Waits for the peer to end by itself; its exit code, None when it had to be killed."""
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            out, _ = self.proc.communicate(timeout=5)
        self.output += out or b""
        return self.proc.returncode if self.proc.returncode >= 0 else None

    def stop(self):
        """Ends the peer with SIGTERM; its exit code."""
        if self.proc.poll() is None:
            self.proc.terminate()
        return self.finish(5)


def vksim(bin_dir, options, cwd=None):
    return Peer([os.path.join(bin_dir, "vksim")] + list(options), cwd)


def run_bounded(argv, cwd, env, stdin_data=b"", timeout=60, with_stderr=False):
    """(exit code, stdout), with `with_stderr` (exit code, stdout, stderr),
    of a program run in a session of its own; a run past its time is killed
    with its group and has the exit code None."""
    proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE if with_stderr else subprocess.DEVNULL, start_new_session=True)
    try:
        out, err = proc.communicate(stdin_data, timeout=timeout)
        rc = proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        rc = None
    return (rc, out, err or b"") if with_stderr else (rc, out)


def trace_lines(path):
    """The lines of a trace file; none when there is no file."""
    try:
        with open(path, errors="replace") as f:
            return f.read().splitlines()
    except OSError:
        return []
