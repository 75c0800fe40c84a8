"""What the benchmark reports: the metrics and their targets, the ratios real/bare summarised
per pair of turns, the positive controls judged, and the printed summary."""

import statistics

from VeskBenchMeasure import ALLOC, ALLOC_KIB_PER_REQUEST, BARE, BURN, CLIENTS, REAL


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
