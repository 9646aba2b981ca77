"""What the Python test scripts share: the tally of their checks and a peer
as a child process, which is killed with its process group when it
outlives its bound."""

import os
import re
import select
import signal
import subprocess


class Tally:
    passed = failed = 0

    def check(self, name, ok, detail=""):
        ok = bool(ok)
        self.passed, self.failed = self.passed + ok, self.failed + (not ok)
        print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + detail), flush=True)
        return ok

    def summary(self):
        """Prints "N passed, M failed"; returns the exit code."""
        print(f"{self.passed} passed, {self.failed} failed", flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


class Peer:
    """A peer (vksim, or any that first prints "... listening on 127.0.0.1:PORT")
    in a session of its own; url stays None when it names no port in time."""

    def __init__(self, argv, cwd=None, start_timeout=10):
        self.proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.output, line, fd = b"", b"", self.proc.stdout.fileno()
        while not line.endswith(b"\n") and select.select([fd], [], [], start_timeout)[0] and (c := os.read(fd, 1)):
            line += c
        m = re.search(rb"listening on 127\.0\.0\.1:(\d+)", line)
        self.url = m and f"rfc2217://127.0.0.1:{int(m.group(1))}"

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
