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
import subprocess
import sys

from VeskBenchMeasure import BenchFailure
from VeskBenchReport import print_summary
from VeskBenchDrive import Bench, FULL, SMOKE


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
        args.wine = wine_loader(os.path.join(args.bin, "VeskTrayServer.exe"))
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
