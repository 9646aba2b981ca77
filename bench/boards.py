"""Many boards at once: N boards, each a vksim pacing its line at 115200
baud, each loaded by its own tool process on its own VK_COM1, all tools
started together; once with every tool talking to its vksim directly and
once through one ser2net that serves all N boards. See bench/README.md
("Many boards at once") for the runs, the floor and the columns."""

import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import tempfile
import time

import bench

COUNTS = [1, 4, 16]
PATHS = ["direct", "ser2net"]
# (key, mode of the trace model, tool, vkburn mode letter, turnaround ms)
CONFIGS = [
    ("fast", "fast", "vkburn", "f", 0),
    ("vkram", "vkram", "vkram", None, 0),
    ("save1", "save", "vkburn", "s", 1),
    ("save0", "save", "vkburn", "s", 0),
]
TITLE = {"fast": "vkburn fast", "vkram": "vkram", "save1": "vkburn save, 1 ms turnaround",
         "save0": "vkburn save, no turnaround"}
SHORT = {"fast": "fast", "vkram": "vkram", "save1": "save 1 ms", "save0": "save 0 ms"}
BAUD = 115200
SIZE_KB = 32  # 16 boards in save mode with 1 ms turnaround: about 45 s of line time each
RATIO_TARGET = {"fast": 1.05, "vkram": 1.05, "save1": 1.10}
CPU_TARGET_MS_PER_KB = {"fast": 2.0, "vkram": 1.0, "save1": 15.0, "save0": 15.0}
UNUSED_PORT = "rfc2217://127.0.0.1:1"  # nothing listens there

CONFIG_TIMEOUT_S = 900      # all N downloads of one configuration
CONNECT_TIMEOUT_S = 3       # VK_CONNECT_TIMEOUT: one connection attempt (about 0.2 s when it works)
MAX_ATTEMPTS = 5            # tool runs per board
RTT_EXCHANGES = 2000        # bytes per pair of the loopback floor measurement
SECTION = "## Many boards at once"


class BoardsError(Exception):
    pass


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------- processes

def wait_bounded(proc, timeout_s):
    """Waits for a child of ours at most timeout_s, then kills it. Returns
    (exit code, CPU seconds user+sys from its rusage)."""
    deadline = time.monotonic() + timeout_s
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid != 0:
            break
        if time.monotonic() > deadline:
            proc.kill()
            pid, status, usage = os.wait4(proc.pid, 0)
            break
        time.sleep(0.02)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode, usage.ru_utime + usage.ru_stime


def stop(proc, timeout_s=10):
    """SIGTERM, then a bounded wait (SIGKILL after it). Returns (code, CPU s)."""
    if proc.poll() is None:
        try:
            proc.send_signal(signal.SIGTERM)
        except ProcessLookupError:
            pass
    return wait_bounded(proc, timeout_s)


def free_ports(count):
    """Ports on 127.0.0.1 the kernel has just handed out and taken back."""
    socks = []
    try:
        for _ in range(count):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            socks.append(s)
        return [s.getsockname()[1] for s in socks]
    finally:
        for s in socks:
            s.close()


def listening(ports):
    """Whether every port has a listening socket on 127.0.0.1, read from
    /proc/net/tcp so that no connection is made (ser2net would open the
    board's connector for it, and vksim --once would end after it)."""
    want = {"0100007F:%04X" % p for p in ports}
    found = set()
    with open("/proc/net/tcp") as f:
        next(f)
        for line in f:
            fields = line.split()
            if fields[3] == "0A" and fields[1] in want:
                found.add(fields[1])
    return found == want


# ---------------------------------------------------------------- ser2net

SER2NET_CONNECTOR = "telnet(rfc2217),tcp(nodelay),127.0.0.1,%d"
SER2NET_ACCEPTER = "telnet(rfc2217),tcp(nodelay),127.0.0.1,%d"


def ser2net_config(pairs):
    """One connection per board: an RFC 2217 accepter for the tool and an
    RFC 2217 client connector to the board's vksim, without the character
    delay (by default ser2net holds the board's bytes back for the time of
    two characters, at least 1 ms, to send them together)."""
    out = []
    for i, (accept_port, sim_port) in enumerate(pairs):
        connector = SER2NET_CONNECTOR % sim_port
        # Only network connectors to a simulator: never a serial device.
        assert connector.startswith("telnet(rfc2217),tcp") and "/dev" not in connector
        out += ["connection: &board%d" % i,
                "  accepter: " + SER2NET_ACCEPTER % accept_port,
                "  connector: " + connector,
                "  enable: on",
                "  options:",
                "    chardelay: false",
                ""]
    return "\n".join(out)


def start_ser2net(ser2net, workdir, sim_ports):
    accept_ports = free_ports(len(sim_ports))
    conf = os.path.join(workdir, "ser2net.yaml")
    with open(conf, "w") as f:
        f.write(ser2net_config(list(zip(accept_ports, sim_ports))))
    out = open(os.path.join(workdir, "ser2net.out"), "w")
    proc = subprocess.Popen([ser2net, "-n", "-u", "-c", conf, "-P", os.path.join(workdir, "ser2net.pid")],
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if listening(accept_ports):
            return proc, accept_ports
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    stop(proc)
    with open(os.path.join(workdir, "ser2net.out")) as f:
        raise BoardsError("ser2net did not start:\n" + f.read()[-2000:])


# ---------------------------------------------------------------- the floor

def loopback_floor(rtt_bin, pairs, relay):
    """The bare host turnaround of a save-mode byte with `pairs` pairs at
    once (bench/rtt.cpp): median microseconds from a board's byte to the
    host's next byte, and the median whole byte cycle."""
    args = [rtt_bin, str(pairs), str(RTT_EXCHANGES), "--line-us", "%.3f" % (2 * 10e6 / BAUD),
            "--limit", "120"]
    if relay:
        args.append("--relay")
    out = subprocess.run(args, capture_output=True, text=True, timeout=150)
    m = re.search(r"^all turnaround_us ([0-9.]+) round_trip_us ([0-9.]+)", out.stdout, re.M)
    if out.returncode != 0 or not m:
        raise BoardsError("rtt failed: %s %s" % (out.stdout[-500:], out.stderr[-500:]))
    return float(m.group(1)), float(m.group(2))


# ---------------------------------------------------------------- one configuration

def prepare_tooldir(bindir, workdir, cdir, program, tool, mode_letter, index):
    d = os.path.join(cdir, "board%02d" % index)
    os.makedirs(d)
    shutil.copy(os.path.join(bindir, tool), d)
    for lane in range(4):
        shutil.copy(os.path.join(workdir, "%s.X%d" % (program, lane)), d)
    with open(os.path.join(d, tool + ".SET"), "w") as f:
        f.write("PORT=COM1\nBAUD=%d\n" % BAUD)
        if mode_letter:
            f.write("MODE=%s\n" % mode_letter)
    return d


def start_sim(bindir, workdir, latency_ms, trace):
    """A paced board serving one client after another (a tool whose
    connection failed is started again on the same board), until SIGTERM."""
    try:
        return bench.launch_vksim(bindir, workdir, ["--pace", "--baud", str(BAUD), "--latency", str(latency_ms),
                                                    "--idle-timeout", str(CONFIG_TIMEOUT_S + 60), "--trace", trace,
                                                    "--trace-times"])
    except bench.SimError as e:
        raise BoardsError(str(e))


class Board:
    """One board's tool process; started again when its connection attempt
    ran out of time (VK_CONNECT_TIMEOUT), at most MAX_ATTEMPTS times."""

    def __init__(self, d, tool, program, port):
        self.dir, self.tool, self.program = d, tool, program
        self.env = dict(os.environ)
        self.env["VK_COM1"] = "rfc2217://127.0.0.1:%d" % port
        for c in (2, 3, 4):
            self.env["VK_COM%d" % c] = UNUSED_PORT
        self.env["VK_CONNECT_TIMEOUT"] = str(CONNECT_TIMEOUT_S)
        self.attempts, self.failed_cpu, self.proc = 0, 0.0, None
        self.code, self.cpu, self.text = None, 0.0, ""

    def out_path(self):
        return os.path.join(self.dir, "%s.%d.out" % (self.tool, self.attempts))

    def start(self):
        self.attempts += 1
        with open(self.out_path(), "wb") as out:
            self.proc = subprocess.Popen([os.path.join(self.dir, self.tool), self.program, "-i"], cwd=self.dir,
                                         env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=subprocess.STDOUT)

    def poll(self):
        """True once the board is done (loaded, or failed for good)."""
        pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
        if pid == 0:
            return False
        self.proc.returncode = code = os.waitstatus_to_exitcode(status)
        cpu = usage.ru_utime + usage.ru_stime
        with open(self.out_path(), "rb") as f:
            self.text = f.read().decode("latin-1")
        if code != 0 and "Did Not Answer Within" in self.text and self.attempts < MAX_ATTEMPTS:
            self.failed_cpu += cpu
            self.start()
            return False
        self.code, self.cpu = code, cpu
        return True

    def kill(self):
        if self.proc is not None and self.proc.returncode is None:
            self.code, self.cpu = wait_bounded(self.proc, 0)
            self.text = "killed at the time limit of the configuration"


def busy_cpu():
    """CPU seconds all processes of the machine have spent since boot
    (/proc/stat user, nice and system; interrupt time, which the kernel
    charges to no process, is left out)."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    return sum(fields[:3]) / os.sysconf("SC_CLK_TCK")


def run_config(bindir, workdir, program, size_kb, n, path, config, ser2net, floor):
    key, model, tool, letter, latency = config
    cdir = tempfile.mkdtemp(prefix="%s-%s-%d-" % (key, path, n), dir=workdir)
    dirs = [prepare_tooldir(bindir, workdir, cdir, program, tool, letter, i) for i in range(n)]
    sims, boards, s2n = [], [], None
    sim_cpu, s2n_cpu = [], None
    window_start, busy_start, own_start = time.monotonic(), busy_cpu(), sum(os.times()[:2])
    try:
        for d in dirs:
            sims.append(start_sim(bindir, d, latency, os.path.join(d, "trace.txt")))
        ports = [p for _, p in sims]
        if path == "ser2net":
            s2n, ports = start_ser2net(ser2net, cdir, ports)
        boards = [Board(d, tool, program, port) for d, port in zip(dirs, ports)]
        started = time.monotonic()
        for b in boards:
            b.start()
        running = list(boards)
        while running and time.monotonic() < started + CONFIG_TIMEOUT_S:
            running = [b for b in running if not b.poll()]
            time.sleep(0.02)
        wall = time.monotonic() - started
    finally:
        for b in boards:
            b.kill()
        for proc, _ in sims:
            sim_cpu.append(stop(proc)[1])
        if s2n is not None:
            s2n_cpu = stop(s2n)[1]
    window = time.monotonic() - window_start
    busy = busy_cpu() - busy_start
    own = sum(os.times()[:2]) - own_start

    results, failures = [], []
    for i, b in enumerate(boards):
        if b.code != 0:
            failures.append("board %d: exit code %d after %d attempt(s): %s"
                            % (i, b.code, b.attempts, b.text.strip()[-300:]))
            results.append(None)
            continue
        measured, minimum, n_host, n_board = bench.line_time(os.path.join(b.dir, "trace.txt"), model, BAUD, latency)
        results.append({"measured": measured, "minimum": minimum, "ratio": measured / minimum,
                        "host_bytes": n_host, "gap_us": (measured - minimum) / n_host * 1e6})
    shutil.rmtree(cdir, ignore_errors=True)

    ok = [r for r in results if r]
    tool_cpu = sum(b.cpu for b in boards)
    row = {"n": n, "path": path, "key": key, "wall": wall, "failures": failures,
           "ratios": [r["ratio"] if r else None for r in results],
           "retries": sum(b.attempts - 1 for b in boards),
           "retried_boards": [i for i, b in enumerate(boards) if b.attempts > 1],
           "failed_attempt_cpu": sum(b.failed_cpu for b in boards),
           "worst": max(r["ratio"] for r in ok) if ok and not failures else float("inf"),
           "median": statistics.median(r["ratio"] for r in ok) if ok else float("nan"),
           "gap_us": statistics.median(r["gap_us"] for r in ok) if ok else float("nan"),
           "tool_cpu": tool_cpu, "cpu_per_kb": tool_cpu * 1000.0 / (n * size_kb),
           "sim_cpu": sum(sim_cpu), "ser2net_cpu": s2n_cpu, "floor": None, "turnaround_us": None}
    # What the rest of the machine took meanwhile (other users' work), in cores.
    ours = tool_cpu + row["failed_attempt_cpu"] + row["sim_cpu"] + (s2n_cpu or 0) + own
    row["other_cores"] = max(0.0, busy - ours) / window
    if floor is not None and ok:
        turnaround_us, _ = floor
        row["turnaround_us"] = turnaround_us
        row["floor"] = statistics.median((r["minimum"] + r["host_bytes"] * turnaround_us / 1e6) / r["minimum"]
                                         for r in ok)
    return row


def print_row(row):
    s2n = "" if row["ser2net_cpu"] is None else "  ser2net %.2f s" % row["ser2net_cpu"]
    floor = "" if row["floor"] is None else "  floor %.3f (turnaround %.0f us)" % (row["floor"], row["turnaround_us"])
    log("  %2d boards %-7s %-10s wall %6.1f s | ratio worst %.3f median %.3f%s | host %.1f us per byte over the "
        "minimum | tools %.2f s CPU = %.2f ms/KB | vksim %.2f s%s | other work %.2f cores"
        % (row["n"], row["path"], SHORT[row["key"]], row["wall"], row["worst"], row["median"], floor,
           row["gap_us"], row["tool_cpu"], row["cpu_per_kb"], row["sim_cpu"], s2n, row["other_cores"]))
    if row["retries"]:
        log("    %d connection attempt(s) ran out of time and were started again (boards %s; their CPU %.2f s "
            "is not counted above)" % (row["retries"], " ".join(map(str, row["retried_boards"])),
                                      row["failed_attempt_cpu"]))
    for f in row["failures"]:
        log("    FAILED " + f)


def run_all(bindir, workdir, program, size_kb, ser2net, rtt_bin, counts=COUNTS, keys=None):
    rows, floors = [], {}
    for n in counts:
        for path in PATHS:
            for config in CONFIGS:
                if keys and config[0] not in keys:
                    continue
                floor = None
                if config[0] == "save0":
                    try:
                        floor = loopback_floor(rtt_bin, n, path == "ser2net")
                    except (BoardsError, subprocess.SubprocessError) as e:
                        log("  loopback floor failed: %s" % e)
                if floor is not None:
                    floors[(n, path)] = floor
                    log("  %2d boards %-7s loopback floor: host turnaround %.1f us, byte cycle %.1f us"
                        % (n, path, floor[0], floor[1]))
                try:
                    row = run_config(bindir, workdir, program, size_kb, n, path, config, ser2net, floor)
                except (BoardsError, OSError, subprocess.SubprocessError) as e:
                    nan = float("nan")
                    row = {"n": n, "path": path, "key": config[0], "wall": nan, "failures": [str(e)],
                           "ratios": [], "retries": 0, "retried_boards": [], "failed_attempt_cpu": 0.0,
                           "worst": float("inf"), "median": nan, "gap_us": nan, "tool_cpu": nan,
                           "cpu_per_kb": nan, "sim_cpu": nan, "ser2net_cpu": None, "floor": None,
                           "turnaround_us": None, "other_cores": nan}
                rows.append(row)
                print_row(row)
    return rows, floors


# ---------------------------------------------------------------- output

def fmt_ratio(r, key):
    if r is None:
        return "failed"
    target = RATIO_TARGET.get(key)
    return ("**%.3f**" if target and r > target else "%.3f") % r


def targets(rows):
    """The targets at the largest N: (what, path, value text, met)."""
    n = max(r["n"] for r in rows)
    out = []
    for path in PATHS:
        for key in ("fast", "vkram", "save1"):
            for r in rows:
                if (r["n"], r["path"], r["key"]) == (n, path, key):
                    out.append(("every %s download within %.2f of its minimum" % (SHORT[key], RATIO_TARGET[key]),
                                path, "worst %.3f" % r["worst"] if not r["failures"] else "failures",
                                r["worst"] <= RATIO_TARGET[key]))
        for key in ("fast", "vkram", "save1", "save0"):
            for r in rows:
                if (r["n"], r["path"], r["key"]) == (n, path, key):
                    out.append(("host CPU per KB in %s at most %g ms" % (SHORT[key], CPU_TARGET_MS_PER_KB[key]),
                                path, "%.2f ms" % r["cpu_per_kb"], r["cpu_per_kb"] <= CPU_TARGET_MS_PER_KB[key]))
    return n, out


def markdown(rows, floors, size_kb, info, plot_name):
    out = [SECTION, ""]
    out.append("Made by `bench/run` (or `bench/run --boards`) on %s (%s; load average %s before these runs, "
               "%s after; the N-board part took %.0f s). N boards at once, each a `vksim --pace` at %d baud "
               "loaded with the same %d KB program by its own tool process on its own `VK_COM1`, all tools "
               "started together; `direct` is tool -> vksim, `ser2net` is tool -> one ser2net serving all N "
               "boards -> vksim. The model and the columns are in `bench/README.md`."
               % (info["date"], info["host"], info["load_before"], info["load_after"], info["took"], BAUD, size_kb))
    out.append("")
    n, tg = targets(rows)
    out.append("### Targets with %d boards at once" % n)
    out.append("")
    out.append("| target | path | measured | |")
    out.append("|---|---|---:|---|")
    for what, path, value, met in tg:
        out.append("| %s | %s | %s | %s |" % (what, path, value, "met" if met else "**not met**"))
    out.append("")
    out.append("### Per configuration")
    out.append("")
    out.append("| boards | path | mode | wall | connect retries | worst board | median board | save floor "
               "| host us per byte | tools CPU | CPU / KB | vksim CPU | ser2net CPU | other work |")
    out.append("|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        out.append("| %d | %s | %s | %.1f s | %s | %s | %.3f | %s | %.1f | %.2f s | %.2f ms | %.2f s | %s | %.2f |"
                   % (r["n"], r["path"], SHORT[r["key"]], r["wall"], r["retries"] or "",
                      fmt_ratio(r["worst"] if not r["failures"] else None, r["key"]), r["median"],
                      "%.3f" % r["floor"] if r["floor"] is not None else "",
                      r["gap_us"], r["tool_cpu"], r["cpu_per_kb"], r["sim_cpu"],
                      "%.2f s" % r["ser2net_cpu"] if r["ser2net_cpu"] is not None else "", r["other_cores"]))
    out.append("")
    out.append("Worst and median board: line time / wire-limited minimum; over its target in bold. "
               "Save floor: the ratio a save-mode download would have with a host that adds only the bare "
               "loopback turnaround below to every byte. Host us per byte: (line time - minimum) / host bytes "
               "of the median board. CPU / KB: tools CPU / (boards x %d KB). vksim CPU: all N simulators "
               "together (they spin in the last 100 us before each line deadline); ser2net CPU: the one "
               "server process. Both for information; they are not the host's cost of a download. "
               "Connect retries: tool runs whose connection attempt ran out of time (`VK_CONNECT_TIMEOUT=%d`) "
               "and that were started again on the same board (at most %d runs per board); the tools CPU counts "
               "the run that loaded the board, the CPU of the runs given up is listed below the tables. "
               "Other work: CPU the rest of the machine took meanwhile (`/proc/stat` busy time less that of "
               "the tools, simulators, ser2net and the script), in cores out of %d; above a few hundredths "
               "the configuration shared the machine with other work and its ratios and CPU are higher."
               % (size_kb, CONNECT_TIMEOUT_S, MAX_ATTEMPTS, os.cpu_count()))
    out.append("")
    out.append("### Save-mode floor: bare loopback turnaround")
    out.append("")
    out.append("`bench/rtt` with N pairs at once: a board process sends a byte %.1f us (two bytes' line "
               "time) after the kernel took in the host's last one, and the host process answers each at once "
               "(poll, recv, send); with ser2net a relay process sits in between. Host turnaround: from the "
               "board's send to the kernel's receive stamp of the answer, the median over %d exchanges per "
               "pair, measured in this run just before the save-mode run without turnaround."
               % (2 * 10e6 / BAUD, RTT_EXCHANGES))
    out.append("")
    out.append("| boards | path | bare host turnaround | byte cycle | tool's host us per byte | save floor "
               "| save ratio (median board) |")
    out.append("|---:|---|---:|---:|---:|---:|---:|")
    for r in rows:
        if r["key"] != "save0" or (r["n"], r["path"]) not in floors:
            continue
        t, cycle = floors[(r["n"], r["path"])]
        out.append("| %d | %s | %.1f us | %.1f us | %.1f us | %s | %.3f |"
                   % (r["n"], r["path"], t, cycle, r["gap_us"],
                      "%.3f" % r["floor"] if r["floor"] is not None else "", r["median"]))
    out.append("")
    out.append("### Each board's ratio")
    out.append("")
    out.append("| boards | path | mode | line time / wire minimum, board 0 .. N-1 |")
    out.append("|---:|---|---|---|")
    for r in rows:
        out.append("| %d | %s | %s | %s |" % (r["n"], r["path"], SHORT[r["key"]],
                                             " ".join(fmt_ratio(x, r["key"]) for x in r["ratios"])))
    retried = [r for r in rows if r["retries"]]
    if retried:
        out.append("")
        out.append("Connection attempts that ran out of time and were started again:")
        out.append("")
        for r in retried:
            out.append("- %d boards %s %s: %d attempt(s) given up, boards %s, %.2f s CPU in them"
                       % (r["n"], r["path"], SHORT[r["key"]], r["retries"],
                          " ".join(map(str, r["retried_boards"])), r["failed_attempt_cpu"]))
    failures = [(r, f) for r in rows for f in r["failures"]]
    if failures:
        out.append("")
        out.append("Failed downloads:")
        out.append("")
        for r, f in failures:
            out.append("- %d boards %s %s: %s" % (r["n"], r["path"], SHORT[r["key"]], f.replace("\n", " ")))
    out.append("")
    out.append("![ratio and CPU per KB against the number of boards](%s)" % plot_name)
    out.append("")
    return "\n".join(out)


def write_markdown(path, rows, floors, size_kb, info, plot_name):
    """Replaces the section in results.md (or appends it)."""
    text = ""
    if os.path.exists(path):
        with open(path) as f:
            text = f.read()
    with open(path, "w") as f:
        f.write(bench.replace_section(text, SECTION, markdown(rows, floors, size_kb, info, plot_name)))


def write_plot(path, rows, size_kb, workdir, gnuplot):
    """Against N: the worst board's ratio (fast, vkram, save with 1 ms),
    save mode without turnaround against its floor, the tools' CPU per KB,
    and for information the CPU of the simulators and of ser2net."""
    colours = {"fast": "#2471a3", "vkram": "#229954", "save1": "#c0392b", "save0": "#7d3c98"}
    files = {}
    for key in colours:
        for p in PATHS:
            sel = sorted((r for r in rows if r["key"] == key and r["path"] == p), key=lambda r: r["n"])
            if not sel:
                continue
            name = os.path.join(workdir, "boards-%s-%s.dat" % (key, p))
            with open(name, "w") as f:
                for r in sel:
                    kb = r["n"] * size_kb
                    f.write("%d %s %.6f %.6f %s %.6f %s\n"
                            % (r["n"], "%.6f" % r["worst"] if not r["failures"] else "NaN", r["median"],
                               r["cpu_per_kb"], "%.6f" % r["floor"] if r["floor"] is not None else "NaN",
                               r["sim_cpu"] * 1000.0 / kb,
                               "%.6f" % (r["ser2net_cpu"] * 1000.0 / kb) if r["ser2net_cpu"] is not None
                               else "NaN"))
            files[(key, p)] = name
    dash = {"direct": 1, "ser2net": 2}

    def lines(keys, col, what="", paths=PATHS, colour=None):
        plots = []
        for key in keys:
            for p in paths:
                name = files.get((key, p))
                if name:
                    plots.append("'%s' using 1:%d with linespoints lw 2 dt %d pt %d lc rgb '%s' title '%s%s, %s'"
                                 % (name, col, dash[p], 7 if p == "direct" else 6, colour or colours[key],
                                    what, SHORT[key], p))
        return plots

    script = ["set terminal pngcairo size 1600,1100 font ',10'",
              "set output '%s'" % path,
              "set multiplot layout 2,2 title 'Many boards at once (%d KB each, %d Bd): solid lines direct, "
              "dashed through one ser2net'" % (size_kb, BAUD),
              "set logscale x 2", "set xtics ('1' 1, '4' 4, '16' 16)", "set xrange [0.8:20]",
              "set xlabel 'boards at once'", "set key top left", "set grid"]
    script += ["set title 'worst board: line time / wire-limited minimum'", "set ylabel 'ratio'",
               "set yrange [0.98:*]",
               "plot " + ", ".join(lines(["fast", "vkram", "save1"], 2) +
                                   ["1.05 with lines dt 3 lc rgb '#555555' title 'fast, vkram target'",
                                    "1.10 with lines dt 4 lc rgb '#999999' title 'save 1 ms target'"])]
    script += ["set title 'save mode without turnaround: median board, and the floor of a bare loopback host'",
               "set yrange [1:*]",
               "plot " + ", ".join(lines(["save0"], 3, "median board: ") +
                                   lines(["save0"], 5, "floor: ", colour="#888888"))]
    script += ["set title 'host CPU of the tools per KB of program'", "set logscale y",
               "set ylabel 'ms per KB'", "set yrange [*:*]", "set key outside right top",
               "plot " + ", ".join(lines(["fast", "vkram", "save1", "save0"], 4) +
                                   ["%g with lines dt 3 lc rgb '%s' title '%s target'"
                                    % (CPU_TARGET_MS_PER_KB[k], colours[k], SHORT[k])
                                    for k in ("fast", "vkram", "save1")])]
    script += ["set title 'for information: CPU of all vksim (points) and of ser2net (no points) per KB'",
               "plot " + ", ".join(lines(["fast", "vkram", "save1", "save0"], 6) +
                                   [re.sub(r" pt \d+", "", x.replace("linespoints", "lines")).replace("title '", "title 'ser2net: ")
                                    for x in lines(["fast", "vkram", "save1", "save0"], 7, paths=["ser2net"])])]
    script.append("unset multiplot")
    subprocess.run([gnuplot], input="\n".join(script) + "\n", text=True, check=True)
