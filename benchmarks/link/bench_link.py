#!/usr/bin/env python3
"""Flaky-link benchmark: one LmUpdate --update of a 4 MiB package over a
slow link that stalls and resets.

The test update server answers the update request and serves the package;
the client's server setting and the package URL both point at
tools/link_relay.py in front of it: 32,000 B/s each way (256 kbit/s), a
300 ms round trip, a 10 s stall every 60 s and a reset of every open
connection every 30 s, on the relay's timeline. The client runs with its
real retry schedule.

Reports whether the run finished (exit status, package installed), the
bytes the relay delivered to the client beyond the package's size, and the
wall time against the ideal: size ÷ rate plus the stalls that fall inside
that time. Goals: extra bytes ≤ 2% of the size, time ≤ 1.3 × ideal. Prints
Markdown; exits with status 1 when the update did not finish.
"""

import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../update"))
from bench_update import (Bench, measure, one_run_arguments, serve_package,  # noqa: E402
                          stop, update_response)

RATE = 32000
LATENCY_MS = 300
STALL, STALL_EVERY = 10, 60
RESET_EVERY = 30
PACKAGE_MIB = 4
GOAL_EXTRA_PERCENT = 2.0
GOAL_TIME_RATIO = 1.3


def start_relay(source, target_port, stats, lifetime):
    return start_relay_with(source, target_port, stats, lifetime, [
        "--rate", str(RATE), "--latency-ms", str(LATENCY_MS), "--stall", str(STALL),
        "--stall-every", str(STALL_EVERY), "--reset-every-seconds", str(RESET_EVERY)])


def start_relay_with(source, target_port, stats, lifetime, link):
    """The relay with the link options given; its process, port and start."""
    argv = [sys.executable, os.path.join(source, "tools/link_relay.py"), str(target_port),
            *link, "--stats", stats, "--lifetime", str(lifetime)]
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True)
    started = time.monotonic()
    line = proc.stdout.readline()
    if not line.startswith("PORT "):
        sys.exit("bench: the link relay did not start")
    return proc, int(line.split()[1]), started


def ideal_seconds(size, offset):
    """The time size bytes take at RATE from offset seconds into the relay's
    timeline, waiting out the stalls met; and how many were met."""
    left, at, stalls = size / RATE, offset, 0
    while True:
        period_end = (int(at // STALL_EVERY) + 1) * STALL_EVERY
        stall_start = period_end - STALL
        if at + left <= stall_start:
            return at + left - offset, stalls
        left -= max(0.0, stall_start - at)
        at, stalls = period_end, stalls + 1


def verdict(met, finished):
    if not finished:
        return "n/a: the run did not finish"
    return "met" if met else "not met"


def report(package, result, installed, stats, offset, timeout):
    size = package["size"]
    finished = result.status == 2 and installed
    delivered = stats["bytes_to_client"]
    extra = delivered - size
    extra_percent = 100.0 * extra / size
    ideal, stalls = ideal_seconds(size, offset)
    ratio = result.wall / ideal
    status = "killed after %d s" % timeout if result.status is None \
        else "exit status %d" % result.status
    run = "%s: %s, package %s" % ("finished" if finished else "did not finish", status,
                                  "installed" if installed else "not installed")
    return "\n".join([
        "### LmUpdate --update over a flaky, metered link", "",
        f"Link (tools/link_relay.py): {RATE} B/s each way, {LATENCY_MS} ms round trip, a "
        f"{STALL} s stall every {STALL_EVERY} s, a reset every {RESET_EVERY} s; package "
        f"{size} bytes ({PACKAGE_MIB} MiB zip).", "",
        "| figure | value | goal | verdict |", "|---|---|---|---|",
        f"| update run | {run} | exit status 2, installed | "
        f"{'met' if finished else 'not met'} |",
        f"| bytes delivered to the client | {delivered} | – | – |",
        f"| extra bytes (delivered − size) | {extra} ({extra_percent:.2f}% of the size) | "
        f"≤ {GOAL_EXTRA_PERCENT:g}% | {verdict(extra_percent <= GOAL_EXTRA_PERCENT, finished)} |",
        f"| wall time | {result.wall:.1f} s | – | – |",
        f"| ideal time (size ÷ rate + {stalls} stall(s) met) | {ideal:.1f} s | – | – |",
        f"| wall ÷ ideal | {ratio:.2f} | ≤ {GOAL_TIME_RATIO:g} | "
        f"{verdict(ratio <= GOAL_TIME_RATIO, finished)} |", "",
        f"Relay: {stats['connections']} connection(s), {stats['resets']} reset(s), "
        f"{stats['bytes_from_client']} bytes from the client; the client started "
        f"{offset:.1f} s into the relay's timeline."])


def main():
    args = one_run_arguments(__doc__, 300)
    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        package, response, server_port = serve_package(bench, PACKAGE_MIB)
        stats_path = os.path.join(bench.scratch, "relay-stats.json")
        relay, relay_port, relay_start = start_relay(bench.source, server_port, stats_path,
                                                     args.timeout + 30)
        bench.procs.append(relay)
        with open(response, "w", encoding="ascii") as f:
            f.write(update_response(package, f"http://127.0.0.1:{relay_port}/{package['name']}"))
        root, env = bench.fresh_root("link", relay_port)
        bench.lock_dirs.append("/tmp" + root)
        log_path = os.path.join(bench.scratch, "client.log")
        offset = time.monotonic() - relay_start
        with open(log_path, "w") as log:
            result = measure(bench.client_argv(root), env=env, stdout=log, timeout=args.timeout)
        installed = os.path.exists(os.path.join(root, "opt/bench/payload.bin"))
        stop(relay)  # its last stats written
        with open(stats_path, encoding="ascii") as f:
            stats = json.load(f)
        print(report(package, result, installed, stats, offset, args.timeout))
        if result.status != 2 or not installed:
            with open(log_path, encoding="utf-8", errors="replace") as f:
                print("bench: the update did not finish; the client's output ends:\n" +
                      f.read()[-3000:], file=sys.stderr)
            sys.exit(1)
    finally:
        bench.close()


if __name__ == "__main__":
    main()
