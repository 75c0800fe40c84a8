#!/usr/bin/env python3
"""VeskTrayServer against the bare server, the least that does its job on this platform.

Both run under the same conditions: from one folder, with the same hook library (one that
answers at once) and the same settings file (start mode 1), one after the other in the order
A B B A A B ..., so that the drift of a shared machine falls on both alike. Each round gives
one figure per server and one ratio real/bare; the report shows the medians over rounds and
the spread of the ratios.

CPU and memory come from the servers' own Linux processes (under Wine each Windows process is
one), since Win32's counters for another process read 0 under Wine: CPU from the schedstat of
every thread, memory from status (VmRSS, RssAnon). The wineserver's CPU comes from its
schedstat too. Two positive controls, bare servers that burn CPU while idle and that keep
memory per request, prove that the figures can see such a cost.

    VeskServerBench.py --bin BUILD/bin --work DIR            the full run
    VeskServerBench.py --bin BUILD/bin --work DIR --smoke    a few seconds, for ctest

Exits non-zero when a reply was wrong or missing or a server misbehaved; a figure that misses
its target is reported, not failed.
"""

import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REAL = "VeskTrayServer.exe"
BARE = "VeskBareServer.exe"
BURN = "VeskBareServerBurnIdle.exe"
ALLOC = "VeskBareServerAllocPerRequest.exe"
CLIENT = "VeskServerBenchClient.exe"
CLIENTS = 4

# Name, unit, how the ratio is judged: ("max", limit) means real/bare <= limit, ("min", limit)
# real/bare >= limit, None no target.
METRICS = [
    ("startup_ms", "ms", ("max", 1.10)),
    ("p50_us", "us", ("max", 1.03)),
    ("p99_us", "us", None),
    ("throughput1", "req/s", ("min", 0.97)),
    ("throughput4", "req/s", ("min", 0.97)),
    ("cpu_us_per_request", "us", None),
    ("wineserver_us_per_request", "us", None),
    ("idle_cpu_ms", "ms", "zero"),
    ("rss_start_kib", "KiB", ("max", 1.10)),
    ("rss_load_kib", "KiB", ("max", 1.10)),
    ("anon_start_kib", "KiB", None),
    ("anon_load_kib", "KiB", None),
]


class BenchFailure(Exception):
    pass


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise BenchFailure(f"timed out waiting for {what}")
        time.sleep(0.005)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read(path, mode="r"):
    try:
        with open(path, mode) as f:
            return f.read()
    except OSError:
        return None


def cpu_ns(pid):
    """CPU time of every live thread of a process, in nanoseconds."""
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        raise BenchFailure(f"process {pid} is gone")
    for task in tasks:
        text = read(f"/proc/{pid}/task/{task}/schedstat")
        if text:
            total += int(text.split()[0])
    return total


def memory_kib(pid):
    fields = {}
    for line in (read(f"/proc/{pid}/status") or "").splitlines():
        name, _, value = line.partition(":")
        if name in ("VmRSS", "RssAnon"):
            fields[name] = int(value.split()[0])
    if len(fields) != 2:
        raise BenchFailure(f"no memory figures for process {pid}")
    return fields["VmRSS"], fields["RssAnon"]


def wineserver_pid():
    """The wineserver of this prefix: its working folder is named after the prefix's device
    and inode."""
    info = os.stat(os.environ["WINEPREFIX"])
    folder = f"server-{info.st_dev:x}-{info.st_ino:x}"
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        if not (read(f"/proc/{pid}/comm") or "").startswith("wineserver"):
            continue
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) == folder:
                return int(pid)
        except OSError:
            pass
    return None


def process_with_tag(tag, exe):
    """The Linux process of a Windows program started with this tag in its environment."""
    marker = f"VESK_BENCH_TAG={tag}\0".encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        environ = read(f"/proc/{pid}/environ", "rb")
        if environ and marker in environ:
            cmdline = read(f"/proc/{pid}/cmdline", "rb") or b""
            if exe.encode() in cmdline:
                return int(pid)
    return None


def cpu_ticks_by_process():
    """utime + stime of every process, for telling what else ran during the run."""
    ticks = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        text = read(f"/proc/{pid}/stat")
        if not text:
            continue
        name = text[text.index("(") + 1 : text.rindex(")")]
        fields = text[text.rindex(")") + 2 :].split()
        ticks[int(pid)] = (name, int(fields[11]) + int(fields[12]))
    return ticks


class Bench:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.client = os.path.join(self.work, CLIENT)
        self.instance = 0
        self.wineserver = None
        self.servers = set()  # Linux pids of servers started and not yet seen to end

    # --- set-up -------------------------------------------------------------------------

    def prepare(self):
        bin_dir = self.args.bin
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        hook = (
            os.path.join(bin_dir, "bench", "VeskTrayHook.hk")
            if self.args.hook == "echo"
            else os.path.join(bin_dir, "VeskTrayHook.hk")
        )
        sources = [os.path.join(bin_dir, REAL), hook] + [
            os.path.join(bin_dir, "bench", name) for name in (BARE, BURN, ALLOC, CLIENT)
        ]
        for source in sources:
            if not os.path.isfile(source):
                raise BenchFailure(f"missing {source}: build the vesk_server_bench target")
            shutil.copy(source, self.work)
        # UTF-16LE with a byte-order mark, CR LF: the layout the server writes itself.
        text = "[VeskTrayServer]\r\nRegistration Method=1\r\n"
        with open(os.path.join(self.work, "VeskTrayServer.ini"), "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))

        self.wineserver = wineserver_pid()
        if self.wineserver is None:
            # One wineserver for the whole run, so that its CPU can be read; it goes by itself
            # a minute after the last Wine process.
            subprocess.Popen(
                ["wineserver", "-p60"],
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            ).wait()
            self.wineserver = wait_until(wineserver_pid, 20, "the wineserver")
        # The first Wine process of a prefix brings up its services; keep that out of the
        # figures.
        self.run_server(BARE, startups=1, requests=10, requests4=2, idle=0)

    # --- one client -------------------------------------------------------------------------

    def client_command(self, *arguments):
        return ["wine", self.client] + [str(a) for a in arguments]

    def run_client(self, *arguments, env=None):
        # Wine passes its Unix stderr on to the processes it starts, so a server started by the
        # client would hold a pipe open for as long as it runs: errors go through a file.
        with tempfile.TemporaryFile("w+") as errors:
            result = subprocess.run(
                self.client_command(*arguments),
                env=env,
                stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE,
                stderr=errors,
                text=True,
                timeout=120,
            )
            errors.seek(0)
            if result.returncode != 0:
                raise BenchFailure(
                    f"client {' '.join(map(str, arguments))} failed: {errors.read().strip()}"
                )
        return result.stdout.split()

    def start(self, exe):
        self.instance += 1
        tag = f"{os.getpid()}-{self.instance}"
        env = dict(os.environ, VESK_BENCH_TAG=tag)
        words = self.run_client(
            "start", windows_path(os.path.join(self.work, exe)), self.hook_answer(), env=env
        )
        if len(words) != 2 or words[0] != "started":
            raise BenchFailure(f"unexpected start report {words}")
        pid = wait_until(lambda: process_with_tag(tag, exe), 10, f"the process of {exe}")
        self.servers.add(pid)
        return float(words[1]) / 1000.0, pid

    def quit(self, pid):
        self.run_client("quit")
        wait_until(lambda: not os.path.exists(f"/proc/{pid}"), 20, "the server to end")
        self.servers.discard(pid)

    def stop_leftovers(self):
        """After a failure: a server left running would answer the next run's clients."""
        for pid in list(self.servers):
            try:
                self.quit(pid)
            except (BenchFailure, subprocess.TimeoutExpired):
                try:
                    os.kill(pid, 9)
                except OSError:
                    pass

    def hook_answer(self):
        return "echo" if self.args.hook == "echo" else "zero"

    def load(self, server_pid, clients, requests):
        """Sends requests from several client processes at once; returns requests per second,
        the first client's p50 and p99, and the CPU of server and wineserver per request."""
        processes = []
        try:
            for index in range(clients):
                processes.append(
                    subprocess.Popen(
                        self.client_command(
                            "load", self.hook_answer(), requests, 0x9E3779B9 + index
                        ),
                        stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE,
                        text=True,
                    )
                )
            for process in processes:
                if process.stdout.readline().strip() != "ready":
                    raise BenchFailure(f"load client not ready: {process.stderr.read().strip()}")
            server_before = cpu_ns(server_pid)
            wineserver_before = cpu_ns(self.wineserver)
            for process in processes:
                process.stdin.write("go\n")
                process.stdin.flush()
            reports = []
            for process in processes:
                words = process.stdout.readline().split()
                if len(words) != 6 or words[0] != "done":
                    raise BenchFailure(f"load client failed: {process.stderr.read().strip()}")
                reports.append([float(w) for w in words[1:]])
            server_cpu = cpu_ns(server_pid) - server_before
            wineserver_cpu = cpu_ns(self.wineserver) - wineserver_before
            for process in processes:
                if process.wait(timeout=60) != 0:
                    raise BenchFailure(f"load client failed: {process.stderr.read().strip()}")
        finally:
            for process in processes:
                if process.poll() is None:
                    process.kill()
                    process.wait()
        total = sum(r[0] for r in reports)
        span_us = max(r[2] for r in reports) - min(r[1] for r in reports)
        return {
            "throughput": total / (span_us / 1e6),
            "p50_us": reports[0][3],
            "p99_us": reports[0][4],
            "cpu_us_per_request": server_cpu / 1000.0 / total,
            "wineserver_us_per_request": wineserver_cpu / 1000.0 / total,
        }

    # --- one server instance ----------------------------------------------------------------

    def run_server(self, exe, startups, requests, requests4, idle):
        """Start-up (the median of several starts), then load, idle and memory of the last."""
        times = []
        for _ in range(startups - 1):
            startup, pid = self.start(exe)
            times.append(startup)
            self.quit(pid)
        startup, pid = self.start(exe)
        times.append(startup)
        try:
            figures = {"startup_ms": statistics.median(times)}
            figures["rss_start_kib"], figures["anon_start_kib"] = memory_kib(pid)
            one = self.load(pid, 1, requests)
            figures.update(
                p50_us=one["p50_us"],
                p99_us=one["p99_us"],
                throughput1=one["throughput"],
                cpu_us_per_request=one["cpu_us_per_request"],
                wineserver_us_per_request=one["wineserver_us_per_request"],
            )
            figures["throughput4"] = self.load(pid, CLIENTS, requests4)["throughput"]
            figures["rss_load_kib"], figures["anon_load_kib"] = memory_kib(pid)
            before = cpu_ns(pid)
            time.sleep(idle)
            figures["idle_cpu_ms"] = (cpu_ns(pid) - before) / 1e6
        finally:
            self.quit(pid)
        return figures

    # --- the whole run ----------------------------------------------------------------------

    def run(self):
        a = self.args
        sizes = dict(startups=a.startups, requests=a.requests, requests4=a.requests4, idle=a.idle)
        started = time.time()
        ticks_before = cpu_ticks_by_process()
        load_before = os.getloadavg()
        self.prepare()
        rounds = []
        controls = {}
        for index in range(a.rounds):
            order = [(REAL, "real"), (BARE, "bare")]
            if index % 2:
                order.reverse()
            figures = {}
            for exe, name in order:
                figures[name] = self.run_server(exe, **sizes)
                self.progress(f"round {index + 1}/{a.rounds} {name}", figures[name])
            rounds.append(figures)
            if index == a.rounds // 2:
                # Mid-run, so that they see the same machine as the rounds around them.
                for exe, name in ((BURN, "burn-idle"), (ALLOC, "alloc-per-request")):
                    controls[name] = self.run_server(exe, **sizes)
                    self.progress(f"control {name}", controls[name])
        result = {
            "machine": machine(),
            "settings": dict(sizes, rounds=a.rounds, clients=CLIENTS, hook=a.hook),
            "seconds": round(time.time() - started, 1),
            "load_average_before": load_before,
            "load_average_after": os.getloadavg(),
            "other_processes": other_processes(ticks_before, cpu_ticks_by_process(), started),
            "rounds": rounds,
            "controls": controls,
        }
        result["summary"] = summarise(rounds, controls)
        return result

    def progress(self, label, figures):
        if self.args.quiet:
            return
        shown = ", ".join(f"{k}={v:.4g}" for k, v in figures.items())
        print(f"{label}: {shown}", file=sys.stderr, flush=True)


def machine():
    model = ""
    for line in (read("/proc/cpuinfo") or "").splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "kernel": platform.release(),
        "wine": wine,
        "memory_kib": int((read("/proc/meminfo") or "x 0").split()[1]),
    }


def other_processes(before, after, started):
    """What else took CPU while the benchmark ran: the five biggest, in CPU seconds."""
    hertz = os.sysconf("SC_CLK_TCK")
    elapsed = max(time.time() - started, 1e-9)
    mine = {os.getpid()}
    used = []
    for pid, (name, ticks) in after.items():
        if pid in mine:
            continue
        spent = (ticks - before.get(pid, (name, 0))[1]) / hertz
        if spent >= 0.5:
            used.append((spent, name, pid))
    used.sort(reverse=True)
    return [
        {"name": name, "pid": pid, "cpu_s": round(spent, 1), "share": round(spent / elapsed, 2)}
        for spent, name, pid in used[:5]
    ]


def summarise(rounds, controls):
    summary = {}
    for name, unit, target in METRICS:
        real = [r["real"][name] for r in rounds]
        bare = [r["bare"][name] for r in rounds]
        entry = {
            "unit": unit,
            "real": statistics.median(real),
            "bare": statistics.median(bare),
        }
        if target == "zero":
            entry["verdict"] = "met" if max(real) == 0 and max(bare) == 0 else "missed"
            entry["target"] = "0 for both"
        else:
            ratios = [q / b if b else float("inf") for q, b in zip(real, bare)]
            entry.update(
                ratio=statistics.median(ratios), ratio_low=min(ratios), ratio_high=max(ratios)
            )
            if target:
                sense, limit = target
                entry["target"] = f"{'<=' if sense == 'max' else '>='} {limit}"
                ok = entry["ratio"] <= limit if sense == "max" else entry["ratio"] >= limit
                entry["verdict"] = "met" if ok else "missed"
        summary[name] = entry
    if controls:
        bare_idle = summary["idle_cpu_ms"]["bare"]
        bare_anon = summary["anon_load_kib"]["bare"] - summary["anon_start_kib"]["bare"]
        burn = controls["burn-idle"]["idle_cpu_ms"]
        alloc = controls["alloc-per-request"]
        alloc_growth = alloc["anon_load_kib"] - alloc["anon_start_kib"]
        summary["controls"] = {
            "burn-idle idle_cpu_ms": {"control": burn, "bare": bare_idle, "seen": burn > 0},
            "alloc-per-request anon growth under load (KiB)": {
                "control": alloc_growth,
                "bare": bare_anon,
                "seen": alloc_growth > bare_anon + 256,
            },
        }
    return summary


def print_summary(result, out):
    summary = result["summary"]
    s = result["settings"]
    out.write(
        f"{s['rounds']} rounds (A B B A ...), {s['requests']} requests from 1 client, "
        f"{s['clients']} x {s['requests4']} from {s['clients']} clients, {s['idle']} s idle, "
        f"start-up median of {s['startups']} starts, hook {s['hook']}; {result['seconds']} s\n"
    )
    out.write(
        f"{'figure':28} {'real':>11} {'bare':>11} {'real/bare':>10} {'spread':>15} "
        f"{'target':>10}  verdict\n"
    )
    for name, unit, _ in METRICS:
        e = summary[name]
        ratio = f"{e['ratio']:.3f}" if "ratio" in e else "-"
        spread = f"{e['ratio_low']:.3f}-{e['ratio_high']:.3f}" if "ratio" in e else "-"
        out.write(
            f"{name + ' (' + unit + ')':28} {e['real']:11.2f} {e['bare']:11.2f} {ratio:>10} "
            f"{spread:>15} {e.get('target', '-'):>10}  {e.get('verdict', '')}\n"
        )
    for name, entry in summary.get("controls", {}).items():
        out.write(
            f"control {name}: {entry['control']:.1f} against bare {entry['bare']:.1f}"
            f" -> {'seen' if entry['seen'] else 'NOT SEEN'}\n"
        )
    m = result["machine"]
    out.write(
        f"machine: {m['cpu']}, {m['cores']} cores, {m['memory_kib'] // 1024} MiB, "
        f"Linux {m['kernel']}, {m['wine']}; load average "
        f"{result['load_average_before'][0]:.2f} before, {result['load_average_after'][0]:.2f} after\n"
    )
    for p in result["other_processes"]:
        out.write(f"  also running: {p['name']} (pid {p['pid']}): {p['cpu_s']} s CPU, {p['share']:.0%}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--work", required=True, help="folder to run the servers from (emptied)")
    parser.add_argument("--smoke", action="store_true", help="a small size, for ctest")
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--requests", type=int, default=10000, help="from one client")
    parser.add_argument("--requests4", type=int, default=5000, help="from each of 4 clients")
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of idle measured")
    parser.add_argument("--startups", type=int, default=3, help="starts per server instance")
    parser.add_argument("--hook", choices=("echo", "default"), default="echo")
    parser.add_argument("--json", help="also write every figure to this file")
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()
    if args.smoke:
        args.rounds, args.requests, args.requests4, args.idle, args.startups = 2, 200, 50, 0.2, 1
    if "WINEPREFIX" not in os.environ:
        parser.error("WINEPREFIX must name the project's Wine prefix")

    bench = Bench(args)
    try:
        result = bench.run()
    except (BenchFailure, subprocess.TimeoutExpired) as failure:
        print(f"VeskServerBench: {failure}", file=sys.stderr)
        bench.stop_leftovers()
        return 1
    print_summary(result, sys.stdout)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=1)
    if "controls" in result["summary"] and not all(
        c["seen"] for c in result["summary"]["controls"].values()
    ):
        print("VeskServerBench: a positive control did not move its figure", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
