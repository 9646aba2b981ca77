"""Through a USB serial adapter: vkburn's save and fast mode through the
Linux drivers of the emulated adapter chips, inside the guest kernel of the
USB lane (tests/usb/lane.sh --run bench/usb-guest.sh, QEMU under TCG),
against the wire-limited minimum; with the FT232R's latency timer at the
driver's default, set to 1 ms, and as the tool's own low-latency request
leaves it. The same downloads over RFC 2217 on the host and inside the
guest measure what the host and the emulation cost. See bench/README.md
("Through a USB serial adapter")."""

import os
import re
import shutil
import subprocess
import tarfile
import time

import bench
import boards

SECTION = "## Through a USB serial adapter"
BAUD = 115200
CHIPS = ["ft232r", "cp2102", "ch340", "pl2303"]
CHIP_TITLE = {"ft232r": "FT232R", "cp2102": "CP2102", "ch340": "CH340", "pl2303": "PL2303"}
# (mode, program KB): save mode waits for every echo; fast mode's larger
# program shows the data messages rather than the byte-by-byte exchanges.
LOADS = [("save", 4), ("fast", 4), ("fast", 64)]
# The FT232R's timer: the tool's request (1 ms), the driver's default with
# the request kept from it, and 1 ms set through sysfs without the request.
FT232R_TIMERS = ["request", "16", "1"]
TARGET = {"save": 1.15, "fast": 1.05}
GUEST_LIMIT_S = 2400
ROUNDS = 2
TURN_S = 0.001  # the probe turnaround that counts the turns (below)


class UsbError(Exception):
    pass


def log(text):
    print(text, flush=True)


def loads(quick):
    return [(m, s) for m, s in LOADS if not (quick and s > 4)]


def cases(quick):
    """(name, path, timer, mode, size KB, round) of every run in the guest:
    each load through every path one after the other, so that the runs
    compared with each other are close in time, and all of it ROUNDS times
    (the machine is shared; each run's least disturbed round counts)."""
    paths = [("rfc", "request")] + [("ft232r", t) for t in FT232R_TIMERS]
    paths += [(c, "request") for c in CHIPS if c != "ft232r"]
    if quick:
        paths = [("rfc", "request"), ("ft232r", "request"), ("ft232r", "16")]
    out = []
    for n in range(1, (1 if quick else ROUNDS) + 1):
        for mode, size in loads(quick):
            for path, timer in paths:
                out.append(("%d-%s-%s-%s-%d" % (n, path, timer, mode, size), path, timer, mode, size, n))
    return out


def run_guest(bindir, workdir, programs, runs, lane, limit_s):
    """Boots the lane's guest with bench/usb-guest.sh; returns the directory
    holding a subdirectory per run (out, err, trace), the guest's LANE
    lines, how long the guest ran, the cores the rest of the machine took
    meanwhile and the guest's kernel release."""
    casefile = os.path.join(workdir, "cases")
    with open(casefile, "w") as f:
        for name, path, timer, mode, size, _ in runs:
            f.write("%s %s %s %s %s\n" % (name, path, timer, "s" if mode == "save" else "f", programs[size]))
    files = [casefile] + [os.path.join(workdir, "%s.X%d" % (p, lane_no))
                          for p in sorted(set(programs.values())) for lane_no in range(4)]
    guest = os.path.join(os.path.dirname(os.path.abspath(__file__)), "usb-guest.sh")
    lanework = os.path.join(bindir, "..", "usb-lane")  # the lane's own: the kernel is fetched once
    env = dict(os.environ)
    env["VK_LANE_LIMIT_S"] = str(limit_s)
    env["PATH"] = env.get("PATH", "") + ":/usr/sbin"
    window_start, busy_start = time.monotonic(), boards.busy_cpu()
    proc = subprocess.Popen([lane, bindir, lanework, "--run", guest] + files, env=env)
    _, status, usage = os.wait4(proc.pid, 0)  # QEMU's CPU included: the lane waits for it
    window = time.monotonic() - window_start
    # What the rest of the machine took meanwhile, in cores.
    other = max(0.0, boards.busy_cpu() - busy_start - usage.ru_utime - usage.ru_stime) / window
    if os.waitstatus_to_exitcode(status) != 0:
        raise UsbError("the guest run failed (tests/usb/lane.sh exit %d)" % os.waitstatus_to_exitcode(status))
    outdir = os.path.join(workdir, "usb-out")
    os.makedirs(outdir, exist_ok=True)
    with tarfile.open(os.path.join(lanework, "ttyS1.out"), "r:gz") as tar:
        tar.extractall(outdir)
    with open(os.path.join(lanework, "results")) as f:
        notes = f.read()
    with open(os.path.join(lanework, "console.log"), encoding="latin-1") as f:
        kernel = re.search(r"LANE start (\S+)", f.read())
    return outdir, notes, window, other, kernel.group(1) if kernel else "?"


def latency_timer(trace):
    """The last latency timer the driver set before the download, or None."""
    timer = None
    for _, kind, value in trace:
        if kind == ">" and value != 0x7F:
            break
        if kind == "#" and value.startswith("latency timer "):
            timer = int(value.split()[-1])
    return timer


def echo_hint(err):
    """What -i said about the sync echo, in short."""
    if "set it to 1 ms" in err:
        m = re.search(r"latency timer is (\d+) ms", err)
        return "timer %s ms: set it to 1 ms" % (m.group(1) if m else "?")
    if "already 1 ms" in err:
        return "timer already 1 ms"
    if "network serial server" in err:
        return "network server"
    if "holds received bytes back" in err:
        return "driver or system"
    return ""


def analyse(name, path, timer, mode, size, d, wall_s):
    """One run's row from its trace, standard output and standard error."""
    with open(os.path.join(d, "out"), encoding="latin-1") as f:
        out = f.read()
    with open(os.path.join(d, "err"), encoding="latin-1") as f:
        err = f.read()
    trace_path = os.path.join(d, "trace")
    measured, minimum, n_host, n_board = bench.line_time(trace_path, mode, BAUD, 0)
    trace = bench.read_trace(trace_path)
    phase = bench.download_phase(trace, 0x7F)
    # The turns: how often the host waits for the board before it goes on,
    # which is how often a board turnaround (or an adapter that holds the
    # reply) counts in the model.
    turns = round((bench.wire_minimum(mode, phase, BAUD, TURN_S * 1000)[0] - minimum) / TURN_S)
    effective = latency_timer(trace)
    floor = None
    if effective is not None:
        floor = bench.wire_minimum(mode, phase, BAUD, effective)[0] / minimum
    m = re.search(r"Download Time = ([0-9.]+) Seconds", out)
    c = re.search(r"Target Connected In\s+(\d+) Milliseconds", out)
    e = re.search(r"sync echo came back after ([0-9.]+) ms", err)
    return {
        "name": name, "path": path, "timer": timer, "mode": mode, "size_kb": size,
        "download_line": float(m.group(1)) if m else float("nan"), "wall": wall_s,
        "connect_ms": int(c.group(1)) if c else -1, "echo_ms": float(e.group(1)) if e else float("nan"),
        "hint": echo_hint(err), "measured": measured, "minimum": minimum, "ratio": measured / minimum,
        "turns": turns, "per_turn_us": (measured - minimum) / turns * 1e6, "effective": effective,
        "floor": floor, "host_bytes": n_host, "board_bytes": n_board,
    }


def host_runs(bindir, workdir, programs, quick):
    """The same downloads over RFC 2217 to a vksim on the host (bench.py's
    single-board run), for what the host itself costs."""
    rows = []
    for n in range(1, (1 if quick else ROUNDS) + 1):
        for mode, size in loads(quick):
            r = dict(bench.one_run(bindir, workdir, programs[size], size, mode, BAUD, 0))
            r.update({"name": "%d-host-%s-%d" % (n, mode, size), "path": "host", "timer": "request",
                      "round": n, "echo_ms": float("nan"), "hint": "", "effective": None, "floor": None})
            rows.append(r)
    return rows


def least_disturbed(rows):
    """Per path, timer and load the round with the shortest line time; the
    other rounds' ratios go with it."""
    best = {}
    for r in rows:
        key = (r["path"], r["timer"], r["mode"], r["size_kb"])
        best.setdefault(key, []).append(r)
    out = []
    for runs in best.values():
        runs.sort(key=lambda r: r["measured"])
        keep = dict(runs[0])
        keep["others"] = [r["ratio"] for r in runs[1:]]
        out.append(keep)
    return out


def with_turns(rows, guest_rows):
    """Host rows get the turns of the guest's RFC 2217 run of the same
    load (the same bytes on the wire)."""
    for r in rows:
        same = [g for g in guest_rows if g["path"] == "rfc" and (g["mode"], g["size_kb"]) == (r["mode"], r["size_kb"])]
        r["turns"] = same[0]["turns"] if same else 0
        r["per_turn_us"] = (r["measured"] - r["minimum"]) / r["turns"] * 1e6 if r["turns"] else float("nan")


def guest_cost(rows):
    """Save mode: the emulation's own cost per turn (the guest's RFC 2217
    run's time beyond the wire less the host's), and each adapter row's
    ratio with that cost taken out of every turn. Only save mode: there a
    turn is one byte each way on either path, where in fast mode the RFC
    2217 path hands each echo over as a TCP segment of its own and an
    adapter in USB packets, so the two paths do different work per turn."""
    for r in rows:
        r["less_guest"] = None
        if r["mode"] != "save" or r["path"] in ("host", "rfc"):
            continue
        same = {x["path"]: x for x in rows if (x["mode"], x["size_kb"]) == (r["mode"], r["size_kb"])}
        if "host" in same and "rfc" in same:
            cost = (same["rfc"]["per_turn_us"] - same["host"]["per_turn_us"]) / 1e6
            r["less_guest"] = (r["measured"] - r["turns"] * cost) / r["minimum"]


def run_all(bindir, workdir, lane, quick):
    """Every run in the guest, then on the host; returns the rows (the least
    disturbed round of each) and what to say about the guest run."""
    converter = shutil.which("srec_cat")
    programs = {size: bench.make_program(workdir, size, converter) for _, size in loads(quick)}
    runs = cases(quick)
    log("== through USB serial adapters in the guest kernel: %d runs, then the same loads on the host" % len(runs))
    outdir, notes, guest_s, other, kernel = run_guest(bindir, workdir, programs, runs, lane, GUEST_LIMIT_S)
    walls = {m.group(1): int(m.group(2)) / 1000.0
             for m in re.finditer(r"^LANE note bench (\S+) exit 0 after (\d+) ms", notes, re.M)}
    rows = []
    for name, path, timer, mode, size, n in runs:
        rows.append(analyse(name, path, timer, mode, size, os.path.join(outdir, name), walls.get(name, float("nan"))))
        rows[-1]["round"] = n
        print_row(rows[-1])
    host = host_runs(bindir, workdir, programs, quick)
    with_turns(host, rows)
    for r in host:
        print_row(r)
    rows = least_disturbed(host + rows)
    order = {key: i for i, key in enumerate(["host", "rfc"] + CHIPS)}
    rows.sort(key=lambda r: (LOADS.index((r["mode"], r["size_kb"])), order[r["path"]],
                             FT232R_TIMERS.index(r["timer"])))
    guest_cost(rows)
    return rows, {"guest_s": guest_s, "other": other, "kernel": kernel}


# ---------------------------------------------------------------- output

def path_title(r):
    if r["path"] == "host":
        return "host, RFC 2217"
    if r["path"] == "rfc":
        return "guest, RFC 2217"
    return "guest, " + CHIP_TITLE[r["path"]]


def timer_title(r):
    if r["path"] in ("host", "rfc"):
        return "-"
    if r["effective"] is None:
        return "none"
    if r["timer"] == "request":
        return "%d ms (the tool's request)" % r["effective"]
    if r["timer"] == "16":
        return "%d ms (driver's default, no request)" % r["effective"]
    return "%d ms (sysfs, no request)" % r["effective"]


def on_target(r):
    return r["path"] in ("host", "rfc") or r["ratio"] <= TARGET[r["mode"]]


def print_row(r):
    log("  %d %-16s %-38s %s %3d KB | line %7.3f s  minimum %6.3f s  ratio %7.3f | %5d turns, %8.1f us each "
        "beyond the wire | echo %5.1f ms %s" % (r["round"], path_title(r), timer_title(r), r["mode"], r["size_kb"],
                                                r["measured"], r["minimum"], r["ratio"], r["turns"],
                                                r["per_turn_us"], r["echo_ms"], r["hint"]))


def fmt(value, pattern, bold=False):
    if value is None or value != value:
        return "-"
    text = pattern % value
    return "**%s**" % text if bold else text


def targets(rows):
    """(what, measured, less the guest's cost, timer floor, met) through the
    FT232R with the tool's defaults."""
    out = []
    for r in rows:
        if r["path"] == "ft232r" and r["timer"] == "request":
            out.append(("%s mode, %d KB, within %.2f" % (r["mode"], r["size_kb"], TARGET[r["mode"]]),
                        r["ratio"], r["less_guest"], r["floor"], r["ratio"] <= TARGET[r["mode"]]))
    return out


def made_of(rows):
    """Save mode's time beyond the wire per turn (per byte) taken apart: the
    host's, the emulation's (guest RFC 2217 less host), USB/IP with the
    driver in the guest (each chip without a timer less guest RFC 2217),
    and the FT232R's timer (FT232R less the mean of the chips without)."""
    out = []
    for mode, size in LOADS:
        sel = {(r["path"], r["timer"]): r for r in rows if (r["mode"], r["size_kb"]) == (mode, size)}
        if mode != "save" or ("host", "request") not in sel or ("rfc", "request") not in sel:
            continue
        host = sel[("host", "request")]["per_turn_us"]
        guest = sel[("rfc", "request")]["per_turn_us"]
        plain = [sel[(c, "request")]["per_turn_us"] for c in CHIPS[1:] if (c, "request") in sel]
        usb = sum(plain) / len(plain) if plain else float("nan")
        timers = [(timer_title(sel[("ft232r", t)]), sel[("ft232r", t)]["per_turn_us"] - usb)
                  for t in FT232R_TIMERS if ("ft232r", t) in sel]
        out.append((mode, size, sel[("rfc", "request")]["turns"], host, guest - host, usb - guest, timers))
    return out


def markdown(rows, info):
    out = [SECTION, ""]
    out.append("Made by `bench/run --usb` on %s (%s; load average %s before, %s after; the guest ran %.0f s, "
               "while the rest of the machine took %.2f cores). vkburn at %d baud, every board a `vksim --pace` "
               "without turnaround, inside the USB lane's guest kernel (Debian's %s under QEMU with TCG, one "
               "CPU): through each emulated chip and its Linux driver in the guest, and over RFC 2217 to a "
               "vksim in the same guest; the host rows are the same downloads on the host itself, run right "
               "after. Every run was made %d times; the table has each one's least disturbed run (the "
               "shortest line time) and the other runs' ratios. The columns and how the figures come apart "
               "are explained in `bench/README.md`."
               % (info["date"], info["host"], info["load_before"], info["load_after"], info["guest_s"],
                  info["other"], BAUD, info["kernel"], info["rounds"]))
    out.append("")
    out.append("### Targets through the FT232R with the tool's defaults")
    out.append("")
    out.append("| target | measured in the guest | less the guest's own cost | the latency timer's floor | |")
    out.append("|---|---:|---:|---:|---|")
    for what, ratio, less, floor, met in targets(rows):
        out.append("| %s | %s | %s | %s | %s |" % (what, fmt(ratio, "%.3f"), fmt(less, "%.3f"), fmt(floor, "%.3f"),
                                                  "met" if met else "**not met**"))
    out.append("")
    out.append("### Runs")
    out.append("")
    out.append("| path | latency timer | mode | size | Download Time line | wall | connect | sync echo | -i says "
               "| line time | wire minimum | ratio | other runs | turns | beyond the wire per turn | timer floor "
               "| less the guest's own cost |")
    out.append("|---|---|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---|---:|---:|---:|---:|")
    for r in rows:
        out.append("| %s | %s | %s | %d KB | %.1f s | %s | %d ms | %s | %s | %.3f s | %.3f s | %s | %s | %d | %s "
                   "| %s | %s |"
                   % (path_title(r), timer_title(r), r["mode"], r["size_kb"], r["download_line"],
                      fmt(r["wall"], "%.2f s"), r["connect_ms"], fmt(r["echo_ms"], "%.1f ms"), r["hint"] or "-",
                      r["measured"], r["minimum"], fmt(r["ratio"], "%.3f", not on_target(r)),
                      " ".join("%.3f" % x for x in r["others"]) or "-", r["turns"],
                      fmt(r["per_turn_us"], "%.0f us"), fmt(r["floor"], "%.3f"), fmt(r["less_guest"], "%.3f")))
    out.append("")
    out.append("Ratios through an adapter over their target (save mode 1.15, fast mode 1.05) are in bold. "
               "Turns: how often the host waits for the board before it sends on (every byte in save mode; "
               "each byte of the byte-by-byte exchanges and each data message in fast mode). Timer floor: the "
               "ratio with the latency timer holding each turn's reply for the whole timer and nothing else "
               "costing time (in fast mode at most that). Less the guest's own cost (save mode): the line "
               "time less, for every turn, what the guest's RFC 2217 run took per turn beyond the host's. "
               "-i says: what the tool's latency check (`-i`) said about the sync echo.")
    out.append("")
    out.append("### Save mode: the time beyond the wire per byte, taken apart")
    out.append("")
    out.append("| size | turns | the host's | the emulation's (guest less host, RFC 2217) "
               "| USB/IP and the driver in the guest (chips without a timer, mean, less guest RFC 2217) "
               "| the FT232R's timer (FT232R less the chips without) |")
    out.append("|---:|---:|---:|---:|---:|---|")
    for mode, size, turns, host, emulation, usb, timers in made_of(rows):
        out.append("| %d KB | %d | %s | %s | %s | %s |"
                   % (size, turns, fmt(host, "%.0f us"), fmt(emulation, "%.0f us"), fmt(usb, "%.0f us"),
                      "; ".join("%s: %.0f us" % (t, v) for t, v in timers) or "-"))
    out.append("")
    return "\n".join(out)


def write_markdown(path, rows, info):
    """Replaces this section of results.md (or appends it)."""
    text = ""
    if os.path.exists(path):
        with open(path) as f:
            text = f.read()
    with open(path, "w") as f:
        f.write(bench.replace_section(text, SECTION, markdown(rows, info)))
