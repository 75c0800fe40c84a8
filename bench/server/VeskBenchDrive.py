"""How the benchmark drives the servers: the programs it runs from one folder, a server started
and stopped, the client processes that load it, and the turns A B B A ... of a whole run."""

import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

from VeskBenchMeasure import (ALLOC, BARE, BURN, CLIENT, CLIENTS, REAL, BenchFailure, busy_share,
                              busy_ticks, cpu_ns, cpu_ticks_by_process, machine, memory_kib,
                              other_processes, process_with_tag, wait_until, windows_path,
                              wineserver_pid)
from VeskBenchReport import judge_controls, summarise


# A round is `pairs` pairs of short bursts, A B B A ...; every round gives one figure per server.
FULL = dict(
    startups=20, sessions=2, rounds=30, rounds4=20, pairs=20, requests=50, requests4=25, idle=10.0
)


SMOKE = dict(
    startups=1, sessions=1, rounds=2, rounds4=1, pairs=2, requests=20, requests4=10, idle=0.3
)


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
