"""What the benchmark reads of the machine: a server's CPU and memory from its Linux process
(under Wine each Windows process is one), the wineserver's CPU, the machine's busy share, and
waiting on a condition with a deadline."""

import os
import platform
import subprocess
import time

# The programs the benchmark compares, and what it runs them with.
REAL = "VeskTrayServer.exe"
BARE = "VeskBareServer.exe"
BURN = "VeskBareServerBurnIdle.exe"
ALLOC = "VeskBareServerAllocPerRequest.exe"
CLIENT = "VeskServerBenchClient.exe"
CLIENTS = 4
ALLOC_KIB_PER_REQUEST = 1  # what VeskBareServerAllocPerRequest keeps


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
