#!/usr/bin/env python3
"""Download benchmark: vkburn (save and fast mode) and vkram against vksim
pacing the line at its real rate. Started by bench/run; see bench/README.md
for the matrix, the wire-limited minimum and the columns of the table."""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

SIZES_KB = [4, 64, 256]
RATES = [115200, 38400]
LATENCIES_MS = [0, 1]
MODES = ["save", "fast", "vkram"]
ENTRY = 0x00809C00
BLOCK_WORDS = 32  # the sample's converter command: -Output_Block_Size 32

# Runs left out to keep the whole benchmark near ten minutes: with a 1 ms
# turnaround, save mode pays it for every byte and would need minutes of
# pure line time (the smaller sizes show the same ratio), and the largest
# program at 38400 baud adds nothing the 115200 baud runs do not show.
SKIPPED = {
    (115200, 1, 256, "save"): "~320 s of line time",
    (38400, 1, 64, "save"): "~105 s of line time",
    (38400, 1, 256, "save"): "~410 s of line time",
    (38400, 1, 256, "fast"): "~75 s of line time",
    (38400, 1, 256, "vkram"): "~75 s of line time",
}

RUN_TIMEOUT_S = 600  # one download; the longest (save, 256 KB, 38400) needs ~145 s


def log(text):
    print(text, flush=True)


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


# ---------------------------------------------------------------- programs

def make_program(workdir, size_kb, converter):
    """Writes size_kb KB of pseudo-random words as NAME.bin and converts it
    into the four lane files with the sample's command. Returns the name."""
    name = "P%d" % size_kb
    rng = random.Random(size_kb)
    data = bytes(rng.getrandbits(8) for _ in range(size_kb * 1024))
    with open(os.path.join(workdir, name + ".bin"), "wb") as f:
        f.write(data)
    for lane in range(4):
        subprocess.run(
            [converter, name + ".bin", "-binary", "-split", "4", str(lane),
             "-o", "%s.X%d" % (name, lane), "-Tektronix_Extended",
             "-execution-start-address", "0x%08X" % ENTRY,
             "-Output_Block_Size", str(BLOCK_WORDS)],
            cwd=workdir, check=True)
    return name


# ---------------------------------------------------------------- one run

class SimError(Exception):
    pass


def launch_vksim(bindir, workdir, options):
    """Starts vksim with `options`, its output in workdir/vksim.out; returns
    the process and the port it listens on."""
    out = open(os.path.join(workdir, "vksim.out"), "w+")
    sim = subprocess.Popen([os.path.join(bindir, "vksim")] + options, stdin=subprocess.DEVNULL,
                           stdout=out, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        out.seek(0)
        m = re.search(r"listening on 127\.0\.0\.1:(\d+)", out.read())
        if m:
            return sim, int(m.group(1))
        if sim.poll() is not None:
            break
        time.sleep(0.02)
    sim.kill()
    sim.wait()
    raise SimError("vksim did not start")


def start_sim(bindir, workdir, baud, latency_ms, trace):
    return launch_vksim(bindir, workdir, ["--pace", "--baud", str(baud), "--latency", str(latency_ms), "--once",
                                          "--idle-timeout", "60", "--trace", trace, "--trace-times"])


def peak_rss_kb(pid):
    """The process's peak resident set so far (VmHWM), or 0 once it is gone.
    Read from /proc because a child's own rusage counts the memory of the
    Python process it was forked from."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_tool(tooldir, tool, args, port, timeout_s):
    """Runs the tool, returns (stdout, exit code, wall s, cpu s, peak rss KB)."""
    env = dict(os.environ)
    env["VK_COM1"] = "rfc2217://127.0.0.1:%d" % port
    for n in (2, 3, 4):
        env["VK_COM%d" % n] = "rfc2217://127.0.0.1:1"
    out_path = os.path.join(tooldir, tool + ".out")
    with open(out_path, "wb") as out:
        t0 = time.monotonic()
        proc = subprocess.Popen([os.path.join(tooldir, tool)] + args, cwd=tooldir, env=env,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = t0 + timeout_s
        rss = 0
        while True:
            rss = max(rss, peak_rss_kb(proc.pid))
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid != 0:
                break
            if time.monotonic() > deadline:
                proc.kill()
                pid, status, usage = os.wait4(proc.pid, 0)
                break
            time.sleep(0.02)
        wall = time.monotonic() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    with open(out_path, "rb") as f:
        text = f.read().decode("latin-1")
    return text, proc.returncode, wall, usage.ru_utime + usage.ru_stime, rss


def read_trace(path):
    """Returns [(seconds, kind, byte or event text)], kind '>', '<', 'x' or '#'."""
    lines = []
    with open(path) as f:
        for line in f:
            stamp, _, rest = line.rstrip("\n").partition(" ")
            kind, _, value = rest.partition(" ")
            t = int(stamp) / 1e6
            lines.append((t, kind, int(value, 16) if kind in "<>x" else value))
    return lines


def download_phase(trace, sync):
    """The trace from the first host byte after the sync bytes on."""
    for i, (_, kind, value) in enumerate(trace):
        if kind == ">" and value != sync:
            return trace[i:]
    return []


def message_stats(host, tool):
    """Walks the host's bytes of the download by the protocol. Returns (data
    messages, their bytes, bytes of the other messages, messages answered)."""
    k = s = other = answered = 0
    i = 0
    while i < len(host):
        c = host[i]
        if tool == "vkburn":
            if c == 0x00:  # StartDownload: name, 0, six date bytes, type
                try:
                    n = host.index(0, i + 1) + 8 - i
                except ValueError:
                    n = len(host) - i
                other += n
            elif c == 0x02:  # LoadData, its length field counts the whole message
                n = (host[i + 1] << 8) | host[i + 2]
                k += 1
                s += n
            elif c == 0x01:  # LoadStartAddress
                n = 5
                other += n
            else:  # EndDownload, EndSession; the closing byte 0x0C waits for nothing
                n = 1
                other += 0 if c == 0x0C else 1
        else:
            if c == 0x00:  # data message, then its checksum
                n = (host[i + 1] << 8) | host[i + 2]
                k += 1
                s += n
                answered += 1
            elif c == 0x05:  # start message and its checksum; the closing 0x05 after
                n = 6          # it waits for nothing
                other += 5
                answered += 1
            else:
                n = 1
        i += n
    return k, s, other, answered


def wire_minimum(mode, phase, baud, latency_ms):
    """Line time the download needs with a host that takes no time at all
    (see bench/README.md for the model)."""
    bit = 1.0 / baud
    t = 10 * bit
    d = latency_ms / 1000.0
    host = [v for _, kind, v in phase if kind == ">"]
    n_host = len(host)
    n_board = sum(1 for _, kind, _ in phase if kind == "<")
    if mode == "save":
        return n_host * (t + d) + n_board * t, n_host, n_board
    if mode == "fast":
        k, s, _, _ = message_stats(host, "vkburn")
        rest = (n_host - s) * (t + d) + (n_board - s - 2 * k) * t
        return rest + (s + 3 * k) * t + k * d, n_host, n_board
    k, s, other, replies = message_stats(host, "vkram")
    return (s + other) * t + replies * (t + d), n_host, n_board


def line_time(trace_path, mode, baud, latency_ms):
    """From a --trace-times trace: the download's line time (from the start
    of its first host byte to the arrival of the board's last byte), its
    wire-limited minimum and the numbers of host and board bytes."""
    trace = read_trace(trace_path)
    phase = download_phase(trace, 0x0F if mode == "vkram" else 0x7F)
    t_byte = 10.0 / baud
    first_host = next(t for t, kind, _ in phase if kind == ">")
    last_board = max(t for t, kind, _ in phase if kind == "<")
    measured = last_board - (first_host - t_byte)
    minimum, n_host, n_board = wire_minimum(mode, phase, baud, latency_ms)
    return measured, minimum, n_host, n_board


def one_run(bindir, workdir, program, size_kb, mode, baud, latency_ms):
    tooldir = tempfile.mkdtemp(prefix="run-", dir=workdir)
    tool = "vkram" if mode == "vkram" else "vkburn"
    shutil.copy(os.path.join(bindir, tool), tooldir)
    for lane in range(4):
        shutil.copy(os.path.join(workdir, "%s.X%d" % (program, lane)), tooldir)
    # The board answers at the stored rate, so the connection takes one try.
    with open(os.path.join(tooldir, tool + ".SET"), "w") as f:
        f.write("PORT=COM1\nBAUD=%d\n" % baud)
        if tool == "vkburn":
            f.write("MODE=%s\n" % ("f" if mode == "fast" else "s"))
    trace_path = os.path.join(tooldir, "trace.txt")
    sim, port = start_sim(bindir, tooldir, baud, latency_ms, trace_path)
    try:
        text, code, wall, cpu, rss = run_tool(tooldir, tool, [program, "-i"], port, RUN_TIMEOUT_S)
    finally:
        try:
            sim.wait(timeout=10)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
    if code != 0:
        raise SimError("%s %s exited with %d:\n%s" % (tool, program, code, text[-2000:]))
    m = re.search(r"Download Time = ([0-9.]+) Seconds", text)
    download_line = float(m.group(1)) if m else float("nan")
    m = re.search(r"Target Connected In\s+(\d+) Milliseconds", text)
    connect_ms = int(m.group(1)) if m else -1
    measured, minimum, n_host, n_board = line_time(trace_path, mode, baud, latency_ms)
    shutil.rmtree(tooldir)
    return {
        "size_kb": size_kb, "mode": mode, "baud": baud, "latency": latency_ms,
        "download_line": download_line, "wall": wall, "connect_ms": connect_ms,
        "measured": measured, "minimum": minimum, "ratio": measured / minimum,
        "cpu_ms_per_kb": cpu * 1000.0 / size_kb, "cpu_s": cpu, "rss_kb": rss,
        "host_bytes": n_host, "board_bytes": n_board,
    }


# ---------------------------------------------------------------- output

TARGET = {"save": 1.10, "fast": 1.05, "vkram": 1.05}
CPU_TARGET_MS_PER_KB = 2.0
MODE_TITLE = {"save": "vkburn save", "fast": "vkburn fast", "vkram": "vkram"}


def ratio_ok(row):
    return row["ratio"] <= TARGET[row["mode"]]


def print_row(row):
    log("  %-11s %3d KB %6d Bd %d ms | Download Time %6.1f s  wall %7.2f s | "
        "line %8.3f s  minimum %8.3f s  ratio %.3f%s | cpu %6.1f ms = %.3f ms/KB  rss %d KB  connect %d ms"
        % (MODE_TITLE[row["mode"]], row["size_kb"], row["baud"], row["latency"],
           row["download_line"], row["wall"], row["measured"], row["minimum"], row["ratio"],
           "" if ratio_ok(row) else " (over target)", row["cpu_s"] * 1000, row["cpu_ms_per_kb"],
           row["rss_kb"], row["connect_ms"]))


def marginal_cpu(rows):
    """Per (mode, baud, latency): the CPU each further KB costs, from the
    smallest and the largest program run, and the fixed cost of a run."""
    out = {}
    for mode in MODES:
        for baud in RATES:
            for lat in LATENCIES_MS:
                sel = sorted((r for r in rows if (r["mode"], r["baud"], r["latency"]) == (mode, baud, lat)),
                             key=lambda r: r["size_kb"])
                if len(sel) < 2:
                    continue
                a, b = sel[0], sel[-1]
                per_kb = (b["cpu_s"] - a["cpu_s"]) * 1000.0 / (b["size_kb"] - a["size_kb"])
                fixed = a["cpu_s"] * 1000.0 - per_kb * a["size_kb"]
                out[(mode, baud, lat)] = (per_kb, fixed, a["size_kb"], b["size_kb"])
    return out


def write_markdown(path, rows, skipped, info):
    out = []
    out.append("# Download benchmark results")
    out.append("")
    out.append("Made by `bench/run` on %s (%s; load average %s before the runs, %s after). "
               "The columns and the line-time model are explained in `bench/README.md`. Targets: "
               "line time at most 1.10 x the wire-limited minimum in save mode and 1.05 x in fast "
               "mode and for vkram; host CPU below 2 ms per KB of program."
               % (info["date"], info["host"], info["load_before"], info["load_after"]))
    out.append("")
    out.append("| mode | size | baud | turnaround | Download Time line | wall | connect | "
               "line time | wire minimum | ratio | host CPU | CPU / KB | peak RSS |")
    out.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        out.append("| %s | %d KB | %d | %d ms | %.1f s | %.2f s | %d ms | %.3f s | %.3f s | %s | "
                   "%.0f ms | %.2f ms | %d KB |"
                   % (MODE_TITLE[r["mode"]], r["size_kb"], r["baud"], r["latency"],
                      r["download_line"], r["wall"], r["connect_ms"], r["measured"], r["minimum"],
                      ("%.3f" if ratio_ok(r) else "**%.3f**") % r["ratio"],
                      r["cpu_s"] * 1000, r["cpu_ms_per_kb"], r["rss_kb"]))
    for (baud, lat, size, mode), why in skipped:
        out.append("| %s | %d KB | %d | %d ms | not run: %s | | | | | | | | |"
                   % (MODE_TITLE[mode], size, baud, lat, why))
    out.append("")
    out.append("Ratios over their target are in bold.")
    out.append("")
    out.append("## Host CPU per KB")
    out.append("")
    out.append("What each further KB of program costs (the CPU difference between the largest and "
               "the smallest program run, over their difference in size), and what a run costs "
               "whatever its size (process start, connection, the input drain before the download).")
    out.append("")
    out.append("| mode | baud | turnaround | CPU per further KB | fixed per run | from sizes | target |")
    out.append("|---|---:|---:|---:|---:|---|---|")
    for (mode, baud, lat), (per_kb, fixed, small, large) in marginal_cpu(rows).items():
        out.append("| %s | %d | %d ms | %.2f ms | %.1f ms | %d and %d KB | %s |"
                   % (MODE_TITLE[mode], baud, lat, per_kb, fixed, small, large,
                      "met" if per_kb < CPU_TARGET_MS_PER_KB else "**not met**"))
    out.append("")
    out.append("## Reader memory")
    out.append("")
    out.append("Peak resident memory of the tool (VmHWM) at 115200 baud without turnaround:")
    out.append("")
    out.append("| mode | " + " | ".join("%d KB program" % s for s in SIZES_KB) + " |")
    out.append("|---|" + "---:|" * len(SIZES_KB))
    for mode in MODES:
        cells = []
        for size in SIZES_KB:
            rss = [r["rss_kb"] for r in rows
                   if r["mode"] == mode and r["size_kb"] == size and r["baud"] == 115200 and r["latency"] == 0]
            cells.append("%d KB" % rss[0] if rss else "-")
        out.append("| %s | %s |" % (MODE_TITLE[mode], " | ".join(cells)))
    out.append("")
    out.append("![time against program size](results.png)")
    out.append("")
    with open(path, "w") as f:
        f.write("\n".join(out))


def replace_section(text, title, body):
    """`text` with its section headed `title` (up to the next heading of
    the same level) replaced by `body`, or with `body` appended."""
    start = text.find("\n" + title + "\n")
    if start < 0:
        text = text.rstrip("\n")
        return (text + "\n\n" if text else "") + body.rstrip("\n") + "\n"
    end = text.find("\n## ", start + 1)
    rest = text[end:] if end >= 0 else ""
    return text[:start + 1] + body.rstrip("\n") + "\n" + rest


def write_plot(path, rows, workdir, gnuplot):
    """Per rate and turnaround: time against program size per mode with its
    wire-limited minimum (log scales), and below it the ratio of the two."""
    panels = [(b, l) for b in RATES for l in LATENCIES_MS]
    colours = {"save": "#c0392b", "fast": "#2471a3", "vkram": "#229954"}
    data = {}
    for baud, lat in panels:
        for mode in MODES:
            sel = sorted((r for r in rows if r["baud"] == baud and r["latency"] == lat and r["mode"] == mode),
                         key=lambda r: r["size_kb"])
            if not sel:
                continue
            name = os.path.join(workdir, "plot-%d-%d-%s.dat" % (baud, lat, mode))
            with open(name, "w") as f:
                for r in sel:
                    f.write("%d %.6f %.6f %.6f\n" % (r["size_kb"], r["measured"], r["minimum"], r["ratio"]))
            data[(baud, lat, mode)] = name
    script = ["set terminal pngcairo size 1600,1500 font ',10'",
              "set output '%s'" % path,
              "set multiplot layout 4,2 title 'Download time against program size: points are the "
              "measured line time, dashed lines the wire-limited minimum; below, their ratio'",
              "set logscale x", "set xtics (4, 16, 64, 256)", "set xrange [3:350]",
              "set xlabel 'program size (KB of words)'", "set key top left", "set grid"]
    for kind in ("time", "ratio"):
        for baud, lat in panels:
            plots = []
            for mode in MODES:
                name = data.get((baud, lat, mode))
                if not name:
                    continue
                if kind == "time":
                    plots.append("'%s' using 1:2 with linespoints lw 2 pt 7 lc rgb '%s' title '%s'"
                                 % (name, colours[mode], MODE_TITLE[mode]))
                    plots.append("'%s' using 1:3 with lines dt 2 lw 1 lc rgb '%s' notitle"
                                 % (name, colours[mode]))
                else:
                    plots.append("'%s' using 1:4 with linespoints lw 2 pt 7 lc rgb '%s' title '%s'"
                                 % (name, colours[mode], MODE_TITLE[mode]))
            if kind == "time":
                script += ["set logscale y", "set ylabel 'seconds'", "set yrange [*:*]"]
            else:
                script += ["unset logscale y", "set ylabel 'line time / wire minimum'",
                           "set yrange [0.95:*]"]
                plots += ["1.05 with lines dt 3 lc rgb '#555555' title 'fast, vkram target'",
                          "1.10 with lines dt 4 lc rgb '#999999' title 'save target'"]
            script.append("set title '%s, %d Bd, turnaround %d ms'" % (kind, baud, lat))
            script.append("plot " + ", ".join(plots))
    script.append("unset multiplot")
    subprocess.run([gnuplot], input="\n".join(script) + "\n", text=True, check=True)


def run_boards(args, workdir, converter, gnuplot, ser2net, write):
    """The N-board part (bench/boards.py); writes its section of results.md
    and results-boards.png when `write`."""
    import boards
    size = args.boards_kb or (16 if args.quick else boards.SIZE_KB)
    counts = [1, 4] if args.quick else boards.COUNTS
    keys = None
    if args.only:  # "save" (the single-board name) stands for both save-mode runs
        keys = [k for m in args.only.split(",") if m for k in (["save1", "save0"] if m == "save" else [m])]
    program = make_program(workdir, size, converter)
    load_before = load_average()
    log("== %s boards at once, %d KB each, direct and through ser2net"
        % (", ".join(str(n) for n in counts), size))
    started = time.monotonic()
    rows, floors = boards.run_all(args.bin, workdir, program, size, ser2net, args.rtt, counts, keys)
    took = time.monotonic() - started
    log("many boards took %.0f s" % took)
    if write:
        info = {"date": time.strftime("%Y-%m-%d"),
                "host": "%d cores, Linux %s" % (os.cpu_count(), os.uname().release),
                "load_before": load_before, "load_after": load_average(), "took": took}
        md = os.path.join(args.out, "results.md")
        png = os.path.join(args.out, "results-boards.png")
        boards.write_markdown(md, rows, floors, size, info, "results-boards.png")
        boards.write_plot(png, rows, size, workdir, gnuplot)
        log("wrote the many-boards section of %s and %s" % (md, png))
    n, targets = boards.targets(rows)
    for what, path, value, met in targets:
        log("  %d boards, %s: %s: %s (%s)" % (n, path, what, "met" if met else "NOT MET", value))


def run_usb(args, workdir, write):
    """The through-adapter part (bench/usb.py); rewrites its section of
    results.md when `write`."""
    import usb
    lane = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "usb", "lane.sh")
    load_before = load_average()
    try:
        rows, guest = usb.run_all(args.bin, workdir, lane, args.quick)
    except usb.UsbError as e:
        sys.exit("bench: %s" % e)
    if write:
        info = {"date": time.strftime("%Y-%m-%d"),
                "host": "%d cores, Linux %s" % (os.cpu_count(), os.uname().release),
                "load_before": load_before, "load_after": load_average(), "rounds": usb.ROUNDS}
        info.update(guest)
        md = os.path.join(args.out, "results.md")
        usb.write_markdown(md, rows, info)
        log("wrote the through-adapter section of %s" % md)
    for what, ratio, less, floor, met in usb.targets(rows):
        log("  FT232R, the tool's defaults, %s: %s (%.3f; %s less the guest's own cost; the timer's floor %s)"
            % (what, "met" if met else "NOT MET", ratio, "%.3f" % less if less else "-",
               "%.3f" % floor if floor else "-"))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True, help="directory with vkburn, vkram and vksim")
    parser.add_argument("--out", required=True, help="directory for results.md and results.png")
    parser.add_argument("--quick", action="store_true",
                        help="4 and 64 KB at 115200 Bd only, results not written (for trying changes); "
                             "with --boards: 1 and 4 boards, 16 KB")
    parser.add_argument("--only", default="",
                        help="modes to run, e.g. save,fast (with --boards: fast,vkram,save1,save0)")
    parser.add_argument("--boards", action="store_true",
                        help="only the many-boards part: 1, 4 and 16 boards at once, direct and through "
                             "ser2net; rewrites its section of results.md and results-boards.png")
    parser.add_argument("--boards-kb", type=int, default=0,
                        help="program size of the many-boards part (default 32 KB)")
    parser.add_argument("--usb", action="store_true",
                        help="only the through-adapter part: vkburn through the emulated USB serial adapters "
                             "in the USB lane's guest kernel; rewrites its section of results.md "
                             "(with --quick: the FT232R and RFC 2217 with 4 KB, nothing written)")
    parser.add_argument("--rtt", default="", help="the loopback round-trip program (bench/rtt.cpp, built)")
    args = parser.parse_args()

    converter = shutil.which("srec_cat")
    gnuplot = shutil.which("gnuplot")
    ser2net = shutil.which("ser2net") or ("/usr/sbin/ser2net" if os.access("/usr/sbin/ser2net", os.X_OK) else None)
    if not converter or (not gnuplot and not args.quick and not args.usb):
        sys.exit("bench: srec_cat and gnuplot are needed (Debian packages srecord, gnuplot-nox)")
    with_boards = args.boards or not (args.quick or args.usb)
    if with_boards and (not ser2net or not args.rtt):
        sys.exit("bench: the many-boards part needs ser2net (Debian package ser2net) and --rtt")

    workdir = tempfile.mkdtemp(prefix="vkbench-")
    try:
        if args.boards:
            run_boards(args, workdir, converter, gnuplot, ser2net, write=not args.quick)
            return
        if args.usb:
            run_usb(args, workdir, write=not args.quick)
            return
        run_single(args, workdir, converter, gnuplot)
        if not args.quick:
            run_boards(args, workdir, converter, gnuplot, ser2net, write=True)
            run_usb(args, workdir, write=True)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def run_single(args, workdir, converter, gnuplot):
    """One board at a time: every size, rate, turnaround and mode."""
    sizes = [4, 64] if args.quick else SIZES_KB
    rates = [115200] if args.quick else RATES
    modes = [m for m in MODES if not args.only or m in args.only.split(",")]
    load_before = load_average()
    programs = {s: make_program(workdir, s, converter) for s in sizes}
    rows, skipped = [], []
    started = time.monotonic()
    for baud in rates:
        for lat in LATENCIES_MS:
            for size in sizes:
                for mode in modes:
                    key = (baud, lat, size, mode)
                    if key in SKIPPED:
                        skipped.append((key, SKIPPED[key]))
                        continue
                    row = one_run(args.bin, workdir, programs[size], size, mode, baud, lat)
                    rows.append(row)
                    print_row(row)
    log("benchmark took %.0f s" % (time.monotonic() - started))
    if not args.quick:
        os.makedirs(args.out, exist_ok=True)
        info = {"date": time.strftime("%Y-%m-%d"),
                "host": "%d cores, Linux %s" % (os.cpu_count(), os.uname().release),
                "load_before": load_before, "load_after": load_average()}
        write_markdown(os.path.join(args.out, "results.md"), rows, skipped, info)
        write_plot(os.path.join(args.out, "results.png"), rows, workdir, gnuplot)
        log("wrote %s and %s" % (os.path.join(args.out, "results.md"),
                                 os.path.join(args.out, "results.png")))
    over = [r for r in rows if not ratio_ok(r)]
    log("%d of %d runs over their ratio target" % (len(over), len(rows)))
    for (mode, baud, lat), (per_kb, fixed, _, _) in marginal_cpu(rows).items():
        log("  %-11s %6d Bd %d ms: %.2f ms CPU per further KB, %.1f ms fixed per run"
            % (MODE_TITLE[mode], baud, lat, per_kb, fixed))


if __name__ == "__main__":
    main()
