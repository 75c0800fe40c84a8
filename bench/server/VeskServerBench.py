#!/usr/bin/env python3
"""VeskTrayServer against the bare server, the least that does its job on this platform.

Both run under the same conditions: from one folder, with the same hook library (one that
answers at once) and the same settings file (start mode 1). They take turns in the order
A B B A A B ..., so that the drift of a shared machine falls on both alike: start-ups one
after the other, and under load both servers run at once while the client processes send
short bursts to one and then the other. Every pair of turns gives one ratio real/bare; the
report shows the medians and the spread of those ratios.

CPU and memory come from the servers' own Linux processes (under Wine each Windows process is
one), since Win32's counters for another process read 0 under Wine: CPU from the schedstat of
every thread, memory from status (VmRSS, RssAnon). The wineserver's CPU comes from its
schedstat too. Two positive controls, bare servers that burn CPU while idle and that keep
memory per request, are measured the same way against the bare server, to show that the
figures see such a cost.

    VeskServerBench.py --bin BUILD/bin --work DIR            the full run, about two minutes
    VeskServerBench.py --bin BUILD/bin --work DIR --smoke    a few seconds, for ctest

Exits non-zero when a reply was wrong or missing, a server misbehaved or a control went
unseen; a figure that misses its target is reported, not failed.
"""

import argparse
import json
import os
import platform
import select
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
ALLOC_KIB_PER_REQUEST = 1  # what VeskBareServerAllocPerRequest keeps

# Name, unit, target on the median ratio real/bare: ("max", x) at most x, ("min", x) at least
# x, "zero" both exactly 0, None no target.
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

# A round is `pairs` pairs of short bursts, A B B A ...; every round gives one figure per server.
FULL = dict(
    startups=20, sessions=2, rounds=30, rounds4=20, pairs=20, requests=50, requests4=25, idle=10.0
)
SMOKE = dict(
    startups=1, sessions=1, rounds=2, rounds4=1, pairs=2, requests=20, requests4=10, idle=0.3
)


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
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        raise BenchFailure(f"process {pid} is gone")
    total = 0
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
        if not pid.isdigit() or not (read(f"/proc/{pid}/comm") or "").startswith("wineserver"):
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
            if exe.encode() in (read(f"/proc/{pid}/cmdline", "rb") or b""):
                return int(pid)
    return None


def cpu_ticks_by_process():
    """utime + stime of every process, for telling what else ran during the run."""
    ticks = {}
    for pid in os.listdir("/proc"):
        text = read(f"/proc/{pid}/stat") if pid.isdigit() else None
        if text:
            fields = text[text.rindex(")") + 2 :].split()
            name = text[text.index("(") + 1 : text.rindex(")")]
            ticks[int(pid)] = (name, int(fields[11]) + int(fields[12]))
    return ticks


def populate(folder, files):
    """A folder to run servers from: the files, and a settings file in start mode 1."""
    os.makedirs(folder)
    for source in files:
        if not os.path.isfile(source):
            raise BenchFailure(f"missing {source}: build the vesk_server_bench target")
        shutil.copy(source, folder)
    # UTF-16LE with a byte-order mark, CR LF: the layout the server writes itself.
    text = "[VeskTrayServer]\r\nRegistration Method=1\r\n"
    with open(os.path.join(folder, "VeskTrayServer.ini"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


class Server:
    def __init__(self, exe, windows_pid, pid, startup_ms):
        self.exe = exe
        self.windows_pid = windows_pid
        self.pid = pid
        self.startup_ms = startup_ms


class LoadClients:
    """Client processes that send bursts of requests to whichever server they are told."""

    def __init__(self, bench, count):
        self.bench = bench
        self.processes = []
        for index in range(count):
            self.processes.append(
                subprocess.Popen(
                    bench.client_command("load", bench.hook_answer(), 0x9E3779B9 + index),
                    stdin=subprocess.PIPE,
                    stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE,
                    text=True,
                )
            )
        try:
            for process in self.processes:
                if process.stdout.readline().strip() != "ready":
                    raise BenchFailure(f"load client not ready: {self.errors(process)}")
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise

    def errors(self, process):
        if process.poll() is None:
            process.kill()
        return process.stderr.read().strip()

    def burst(self, server, requests):
        """Every client sends requests to the server at once; the server's and the wineserver's
        CPU are read before and after, when nothing else in the prefix is busy."""
        server_before = cpu_ns(server.pid)
        wineserver_before = cpu_ns(self.bench.wineserver)
        for process in self.processes:
            process.stdin.write(f"{server.windows_pid} {requests}\n")
            process.stdin.flush()
        reports = []
        for process in self.processes:
            words = process.stdout.readline().split()
            if len(words) != 4 or words[0] != "done":
                raise BenchFailure(f"load client failed: {self.errors(process)}")
            reports.append([float(w) for w in words[1:]])
        return {
            "requests": sum(r[0] for r in reports),
            "us": max(r[2] for r in reports) - min(r[1] for r in reports),
            "cpu_ns": cpu_ns(server.pid) - server_before,
            "wineserver_ns": cpu_ns(self.bench.wineserver) - wineserver_before,
        }

    def round_trips(self, server):
        """p50 and p99 of the first client's round trips to the server since the last call."""
        reports = []
        for process in self.processes:
            process.stdin.write(f"stats {server.windows_pid}\n")
            process.stdin.flush()
        for process in self.processes:
            words = process.stdout.readline().split()
            if len(words) != 4 or words[0] != "stats":
                raise BenchFailure(f"load client failed: {self.errors(process)}")
            reports.append([float(w) for w in words[1:]])
        return reports[0][1], reports[0][2]

    def close(self):
        for process in self.processes:
            process.stdin.close()
        for process in self.processes:
            try:
                if process.wait(timeout=30) != 0:
                    raise BenchFailure(f"load client failed: {process.stderr.read().strip()}")
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if kind is None:
            self.close()
        else:
            for process in self.processes:
                if process.poll() is None:
                    process.kill()
                    process.wait()


def alternating(pairs, a, b):
    """A B, B A, A B, ...: pairs of turns whose order alternates."""
    for index in range(pairs):
        yield (a, b) if index % 2 == 0 else (b, a)


class Bench:
    def __init__(self, args, sizes):
        self.args = args
        self.sizes = sizes
        self.work = os.path.abspath(args.work)
        self.client = os.path.join(self.work, CLIENT)
        self.instance = 0
        self.wineserver = None
        self.servers = {}  # Linux pid -> Server, for those started and not yet seen to end
        self.holder = None  # the client process that keeps the desktop up

    def prepare(self):
        bin_dir = self.args.bin
        shutil.rmtree(self.work, ignore_errors=True)
        hooks = {
            "echo": os.path.join(bin_dir, "bench", "VeskTrayHook.hk"),
            "default": os.path.join(bin_dir, "VeskTrayHook.hk"),
        }
        programs = [os.path.join(bin_dir, REAL)] + [
            os.path.join(bin_dir, "bench", name) for name in (BARE, BURN, ALLOC, CLIENT)
        ]
        populate(self.work, programs + [hooks[self.args.hook]])
        # The real server with the other hook, whose answers the clients do not expect.
        other = "default" if self.args.hook == "echo" else "echo"
        populate(os.path.join(self.work, "other-hook"), programs[:1] + [hooks[other]])

        self.wineserver = wineserver_pid()
        if self.wineserver is None:
            # One wineserver for the whole run, so that its CPU can be read; it goes by itself
            # a minute after the last Wine process.
            subprocess.run(
                ["wineserver", "-p60"],
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
            self.wineserver = wait_until(wineserver_pid, 20, "the wineserver")
        self.holder = subprocess.Popen(
            self.client_command("hold"),
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
        )
        up = select.select([self.holder.stdout], [], [], 60)[0]
        if not up or self.holder.stdout.readline().strip() != "ready":
            raise BenchFailure("the desktop did not come up within 60 s")
        # The first Wine process of a prefix brings up its services; keep that out of the
        # figures.
        self.quit(self.start(BARE))

    def release_desktop(self):
        if self.holder:
            self.holder.stdin.close()
            try:
                self.holder.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.holder.kill()
                self.holder.wait()
            self.holder = None

    # --- servers ----------------------------------------------------------------------------

    def hook_answer(self):
        return "echo" if self.args.hook == "echo" else "zero"

    def client_command(self, *arguments):
        return [self.args.wine, self.client] + [str(a) for a in arguments]

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
                command = " ".join(map(str, arguments))
                raise BenchFailure(f"client {command} failed: {errors.read().strip()}")
        return result.stdout.split()

    def start(self, exe):
        self.instance += 1
        tag = f"{os.getpid()}-{self.instance}"
        env = dict(os.environ, VESK_BENCH_TAG=tag)
        path = windows_path(os.path.join(self.work, exe))
        words = self.run_client("start", path, self.hook_answer(), env=env)
        if len(words) != 3 or words[0] != "started":
            raise BenchFailure(f"unexpected start report {words}")
        pid = wait_until(lambda: process_with_tag(tag, exe), 10, f"the process of {exe}")
        server = Server(exe, int(words[2]), pid, float(words[1]) / 1000.0)
        self.servers[pid] = server
        return server

    def check_wrong_replies_fail(self):
        """The run proves its own check: a server whose replies differ from what the clients
        expect of the hook must fail start-up, and must not be left running."""
        self.instance += 1
        tag = f"{os.getpid()}-{self.instance}"
        env = dict(os.environ, VESK_BENCH_TAG=tag)
        server = windows_path(os.path.join(self.work, "other-hook", REAL))
        try:
            self.run_client("start", server, self.hook_answer(), env=env)
        except BenchFailure as failure:
            if "the hook answers" not in str(failure):
                raise
        else:
            raise BenchFailure("a server with the wrong answers passed the reply check")
        wait_until(lambda: process_with_tag(tag, REAL) is None, 10, "the refused server to end")

    def quit(self, server):
        self.run_client("quit", server.windows_pid)
        wait_until(lambda: not os.path.exists(f"/proc/{server.pid}"), 20, "the server to end")
        del self.servers[server.pid]

    def stop_leftovers(self):
        """After a failure: a server left running would answer the next run's clients."""
        for server in list(self.servers.values()):
            try:
                self.quit(server)
            except (BenchFailure, subprocess.TimeoutExpired):
                try:
                    os.kill(server.pid, 9)
                except OSError:
                    pass

    # --- measurements -----------------------------------------------------------------------

    def startups(self, a, b):
        """Start-up times in alternating pairs, each server alone in the prefix."""
        pairs = []
        for order in alternating(self.sizes["startups"], a, b):
            figures = {}
            for exe in order:
                server = self.start(exe)
                figures[exe] = server.startup_ms
                self.quit(server)
            pairs.append((figures[a], figures[b]))
        return pairs

    def session(self, a, b):
        """Both servers at once: memory after start, rounds of bursts from one and from four
        clients, memory after the load, then both idle together."""
        s = self.sizes
        started = [self.start(exe) for exe in (a, b)]
        one = {a: started[0], b: started[1]}
        result = {"memory_start": {exe: memory_kib(one[exe].pid) for exe in (a, b)}}
        loads = (
            (1, s["rounds"], s["requests"], "rounds1"),
            (CLIENTS, s["rounds4"], s["requests4"], "rounds4"),
        )
        for clients, rounds, requests, key in loads:
            with LoadClients(self, clients) as load:
                for exe in (a, b):  # warm-up, not counted
                    load.burst(one[exe], requests)
                    load.round_trips(one[exe])
                result[key] = [self.round(load, one, requests) for _ in range(rounds)]
        result["memory_load"] = {exe: memory_kib(one[exe].pid) for exe in (a, b)}
        before = {exe: cpu_ns(one[exe].pid) for exe in (a, b)}
        time.sleep(s["idle"])
        result["idle_cpu_ms"] = {exe: (cpu_ns(one[exe].pid) - before[exe]) / 1e6 for exe in (a, b)}
        for server in started:
            self.quit(server)
        return result

    def round(self, load, servers, requests):
        """Bursts to one server and the other, A B B A ..., so short that the drift of the
        machine falls on both alike; the figures of each server over its bursts."""
        sums = {exe: dict(requests=0, us=0.0, cpu_ns=0, wineserver_ns=0) for exe in servers}
        a, b = servers
        for order in alternating(self.sizes["pairs"], a, b):
            for exe in order:
                for name, value in load.burst(servers[exe], requests).items():
                    sums[exe][name] += value
        figures = {}
        for exe, total in sums.items():
            p50, p99 = load.round_trips(servers[exe])
            figures[exe] = {
                "throughput": total["requests"] / (total["us"] / 1e6),
                "p50_us": p50,
                "p99_us": p99,
                "cpu_us_per_request": total["cpu_ns"] / 1000.0 / total["requests"],
                "wineserver_us_per_request": total["wineserver_ns"] / 1000.0 / total["requests"],
            }
        return figures

    def run(self):
        started = time.time()
        ticks_before = cpu_ticks_by_process()
        busy_before = busy_ticks()
        load_before = os.getloadavg()
        self.prepare()
        self.check_wrong_replies_fail()
        self.progress("reply check: a server answering otherwise than the hook fails the run")
        self.progress("start-ups")
        startup_pairs = self.startups(REAL, BARE)
        sessions = []
        for index in range(self.sizes["sessions"]):
            self.progress(f"session {index + 1}")
            sessions.append(self.session(*((REAL, BARE) if index % 2 == 0 else (BARE, REAL))))
        controls = {}
        for exe in (BURN, ALLOC):
            self.progress(f"control {exe}")
            controls[exe] = self.session(exe, BARE)
        result = {
            "machine": machine(self.args.wine),
            "settings": dict(self.sizes, clients=CLIENTS, hook=self.args.hook),
            "seconds": round(time.time() - started, 1),
            "load_average_before": load_before,
            "load_average_after": os.getloadavg(),
            "machine_busy": busy_share(busy_before, busy_ticks()),
            "other_processes": other_processes(
                ticks_before, cpu_ticks_by_process(), started, {self.wineserver}
            ),
        }
        result["summary"] = summarise(startup_pairs, sessions)
        result["controls"] = judge_controls(controls, self.sizes)
        result["raw"] = {"startups": startup_pairs, "sessions": sessions, "controls": controls}
        return result

    def progress(self, text):
        if not self.args.quiet:
            print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)


def session_pairs(sessions, metric):
    """(real, bare) pairs of one metric from every session."""
    pairs = []
    for s in sessions:
        if metric in ("p50_us", "p99_us", "cpu_us_per_request", "wineserver_us_per_request"):
            pairs += [(p[REAL][metric], p[BARE][metric]) for p in s["rounds1"]]
        elif metric in ("throughput1", "throughput4"):
            rounds = s["rounds1" if metric == "throughput1" else "rounds4"]
            pairs += [(p[REAL]["throughput"], p[BARE]["throughput"]) for p in rounds]
        elif metric == "idle_cpu_ms":
            pairs.append((s["idle_cpu_ms"][REAL], s["idle_cpu_ms"][BARE]))
        else:
            moment = "memory_start" if metric.endswith("start_kib") else "memory_load"
            column = 0 if metric.startswith("rss") else 1
            pairs.append((s[moment][REAL][column], s[moment][BARE][column]))
    return pairs


def quartiles(values):
    values = sorted(values)
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def summarise(startup_pairs, sessions):
    summary = {}
    for name, unit, target in METRICS:
        pairs = startup_pairs if name == "startup_ms" else session_pairs(sessions, name)
        real = [p[0] for p in pairs]
        bare = [p[1] for p in pairs]
        entry = {
            "unit": unit,
            "pairs": len(pairs),
            "real": statistics.median(real),
            "bare": statistics.median(bare),
        }
        if target == "zero":
            entry["target"] = "0 for both"
            entry["verdict"] = "met" if max(real) == 0 and max(bare) == 0 else "missed"
        else:
            ratios = [r / b if b else float("inf") for r, b in pairs]
            low, high = quartiles(ratios)
            entry.update(
                ratio=statistics.median(ratios),
                ratio_q1=low,
                ratio_q3=high,
                ratio_min=min(ratios),
                ratio_max=max(ratios),
            )
            if target:
                sense, limit = target
                entry["target"] = f"{'<=' if sense == 'max' else '>='} {limit}"
                met = entry["ratio"] <= limit if sense == "max" else entry["ratio"] >= limit
                entry["verdict"] = "met" if met else "missed"
        summary[name] = entry
    return summary


def judge_controls(controls, sizes):
    """Each control against the bare server of its own session: the figure it should move."""
    burn = controls[BURN]
    alloc = controls[ALLOC]
    # Every round sends each server `pairs` bursts; the warm-up adds one of each size.
    one = (sizes["rounds"] * sizes["pairs"] + 1) * sizes["requests"]
    four = (sizes["rounds4"] * sizes["pairs"] + 1) * CLIENTS * sizes["requests4"]
    requests = one + four

    def growth(session, exe):
        return session["memory_load"][exe][1] - session["memory_start"][exe][1]

    extra = growth(alloc, ALLOC) - growth(alloc, BARE)
    return {
        "burn idle CPU (ms)": {
            "control": burn["idle_cpu_ms"][BURN],
            "bare": burn["idle_cpu_ms"][BARE],
            "seen": burn["idle_cpu_ms"][BURN] > 0 and burn["idle_cpu_ms"][BARE] == 0,
        },
        "alloc anonymous memory growth under load (KiB)": {
            "control": growth(alloc, ALLOC),
            "bare": growth(alloc, BARE),
            "expected": requests * ALLOC_KIB_PER_REQUEST,
            "seen": extra >= 0.5 * requests * ALLOC_KIB_PER_REQUEST,
            # What the resident-memory target would make of it.
            "rss_load_ratio": alloc["memory_load"][ALLOC][0] / alloc["memory_load"][BARE][0],
        },
    }


def machine(loader):
    model = ""
    for line in (read("/proc/cpuinfo") or "").splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    wine = subprocess.run([loader, "--version"], capture_output=True, text=True).stdout.strip()
    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "kernel": platform.release(),
        "wine": wine,
        "memory_mib": int((read("/proc/meminfo") or "x 0").split()[1]) // 1024,
    }


def busy_ticks():
    """(busy, all) CPU ticks of the whole machine so far."""
    fields = [int(f) for f in (read("/proc/stat") or "cpu 0 0 0 0").split("\n")[0].split()[1:]]
    idle = fields[3] + (fields[4] if len(fields) > 4 else 0)  # idle and iowait
    return sum(fields) - idle, sum(fields)


def busy_share(before, after):
    """How busy the machine's cores were, 0 to 1, the benchmark included."""
    busy, total = after[0] - before[0], after[1] - before[1]
    return round(busy / total, 2) if total else 0.0


def other_processes(before, after, started, ours):
    """What else took CPU while the benchmark ran: the five biggest."""
    hertz = os.sysconf("SC_CLK_TCK")
    elapsed = max(time.time() - started, 1e-9)
    used = []
    for pid, (name, ticks) in after.items():
        spent = (ticks - before.get(pid, (name, 0))[1]) / hertz
        if pid != os.getpid() and pid not in ours and spent >= 0.5:
            used.append((spent, name, pid))
    used.sort(reverse=True)
    return [
        {"name": n, "pid": p, "cpu_s": round(t, 1), "share": round(t / elapsed, 2)}
        for t, n, p in used[:5]
    ]


def print_summary(result, out):
    s = result["settings"]
    out.write(
        f"start-up: {s['startups']} pairs; load: {s['sessions']} sessions of {s['rounds']} rounds "
        f"from 1 client and {s['rounds4']} from {s['clients']}, each round {s['pairs']} pairs of "
        f"bursts of {s['requests']} requests ({s['clients']} x {s['requests4']} from "
        f"{s['clients']} clients); {s['idle']} s idle; "
        f"hook {s['hook']}; {result['seconds']} s in all\n"
    )
    out.write(
        f"{'figure':30} {'real':>10} {'bare':>10} {'real/bare':>9} {'quartiles':>13} "
        f"{'min-max':>13} {'n':>3} {'target':>10}  verdict\n"
    )
    for name, unit, _ in METRICS:
        e = result["summary"][name]
        if "ratio" in e:
            ratio = f"{e['ratio']:.3f}"
            quart = f"{e['ratio_q1']:.3f}-{e['ratio_q3']:.3f}"
            span = f"{e['ratio_min']:.2f}-{e['ratio_max']:.2f}"
        else:
            ratio = quart = span = "-"
        out.write(
            f"{name + ' (' + unit + ')':30} {e['real']:10.2f} {e['bare']:10.2f} {ratio:>9} "
            f"{quart:>13} {span:>13} {e['pairs']:>3} {e.get('target', '-'):>10}  "
            f"{e.get('verdict', '')}\n"
        )
    out.write(
        "reply check: every reply was checked; a server answering otherwise than the hook "
        "failed the run\n"
    )
    for name, c in result["controls"].items():
        expected = f" (expected {c['expected']:.0f})" if "expected" in c else ""
        if "rss_load_ratio" in c:
            expected += f", resident after load {c['rss_load_ratio']:.2f} x bare"
        seen = "seen" if c["seen"] else "NOT SEEN"
        out.write(f"control: {name}: {c['control']:.2f} against bare {c['bare']:.2f}{expected}")
        out.write(f" -> {seen}\n")
    m = result["machine"]
    out.write(
        f"machine: {m['cpu']}, {m['cores']} cores, {m['memory_mib']} MiB, "
        f"Linux {m['kernel']}, {m['wine']}; load average "
        f"{result['load_average_before'][0]:.2f} before, "
        f"{result['load_average_after'][0]:.2f} after; cores busy {result['machine_busy']:.0%} "
        f"of the time, the benchmark included\n"
    )
    for p in result["other_processes"]:
        out.write(
            f"  CPU during the run: {p['name']} (pid {p['pid']}): {p['cpu_s']} s, "
            f"{p['share']:.0%} of a core\n"
        )


def wine_loader(program):
    """The loader a program's PE header asks for (Debian's `wine` always picks the 32-bit one)."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                    "tools", "pecheck"))
    import VeskPeCheck

    machine = VeskPeCheck.Pe(program).machine
    return "/usr/lib/wine/wine64" if machine == "x86_64" else "/usr/lib/wine/wine"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--work", required=True, help="folder to run the servers from (emptied)")
    parser.add_argument("--smoke", action="store_true", help="a small size, for ctest")
    for name, value in FULL.items():
        parser.add_argument(f"--{name}", type=type(value), help=f"default {value}")
    parser.add_argument("--hook", choices=("echo", "default"), default="echo",
                        help="echo: the benchmark's hook, whose answers depend on the argument; "
                        "default: the project's default hook, which answers 0")
    parser.add_argument("--wine", help="the Wine loader for the build's programs (default: "
                        "the one their machine type needs: wine64 for x86_64, wine for i686)")
    parser.add_argument("--json", help="also write every figure to this file")
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()
    if "WINEPREFIX" not in os.environ:
        parser.error("WINEPREFIX must name the project's Wine prefix")
    if args.wine is None:
        args.wine = wine_loader(os.path.join(args.bin, REAL))
    sizes = dict(SMOKE if args.smoke else FULL)
    for name in FULL:
        if getattr(args, name) is not None:
            sizes[name] = getattr(args, name)

    bench = Bench(args, sizes)
    try:
        result = bench.run()
    except (BenchFailure, subprocess.TimeoutExpired) as failure:
        print(f"VeskServerBench: {failure}", file=sys.stderr)
        bench.stop_leftovers()
        return 1
    finally:
        bench.release_desktop()
    print_summary(result, sys.stdout)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=1)
    if not all(c["seen"] for c in result["controls"].values()):
        print("VeskServerBench: a positive control did not move its figure", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
