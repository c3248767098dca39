"""Markdown tables of the update benchmark's results (bench_update.py)."""

import os
import statistics


def med(values):
    return statistics.median(values) if values else float("nan")


def spread(values, digits=2):
    return f"{min(values):.{digits}f}–{max(values):.{digits}f}" if values else "–"


def update_table(packages, results, syscalls, rounds):
    lines = ["| package | variant | wall s (median, min–max) | CPU s (median, min–max) | "
             "peak RSS MiB | syscalls / MiB |",
             "|---|---|---|---|---|---|"]
    for package in packages:
        mib = package["mib"]
        for variant in ("client", "client+key", "baseline", "curl+md5"):
            runs = results.get((variant, mib))
            if not runs:
                continue
            walls = [r.wall for r in runs]
            cpus = [r.cpu for r in runs]
            rss = max(r.rss_kib for r in runs) / 1024
            calls = syscalls.get((variant, mib))
            per_mib = f"{calls / mib:.0f}" if calls else "–"
            lines.append(f"| {mib} MiB | {variant} | {med(walls):.2f} ({spread(walls)}) | "
                         f"{med(cpus):.2f} ({spread(cpus)}) | {rss:.1f} | {per_mib} |")
    lines += ["", f"Ratios, client ÷ baseline: median of the {rounds} per-round ratios "
              "(min–max).", "",
              "| package | wall ÷ baseline | CPU ÷ baseline | CPU ÷ curl+md5 | "
              "syscalls ÷ curl+md5 |", "|---|---|---|---|---|"]
    for package in packages:
        mib = package["mib"]
        client = results[("client", mib)]

        def ratio(variant, field):
            values = [getattr(c, field) / getattr(b, field)
                      for c, b in zip(client, results[(variant, mib)])]
            return f"{med(values):.2f} ({spread(values)})"

        calls = syscalls.get(("client", mib))
        base = syscalls.get(("curl+md5", mib))
        call_ratio = f"{calls / base:.2f}" if calls and base else "–"
        lines.append(f"| {mib} MiB | {ratio('baseline', 'wall')} | {ratio('baseline', 'cpu')} | "
                     f"{ratio('curl+md5', 'cpu')} | {call_ratio} |")
        if ("client+key", mib) in results:
            client = results[("client+key", mib)]
            lines.append(f"| {mib} MiB, client+key | {ratio('baseline', 'wall')} | "
                         f"{ratio('baseline', 'cpu')} | {ratio('curl+md5', 'cpu')} | – |")
    return "\n".join(lines)


def md5_table(md5, mib):
    sums, own = md5
    lines = ["| MD5 | MiB/s (median, min–max) |", "|---|---|",
             f"| md5sum, {mib} MiB file in the page cache (CPU time) | {med(sums):.0f} "
             f"({spread(sums, 0)}) |"]
    if own:
        lines.append("| MD5::fileDigest, BM_Md5File (64 MiB file, Google Benchmark) | "
                     f"{med(own):.0f} ({spread(own, 0)}) |")
    return "\n".join(lines)


def script_table(results, rounds):
    lines = [f"| appliance script, one start | CPU ms (median of {rounds}) | wall ms (median) |",
             "|---|---|---|"]
    for name, runs in results.items():
        lines.append(f"| {name} | {1000 * med([r.cpu for r in runs]):.1f} | "
                     f"{1000 * med([r.wall for r in runs]):.1f} |")
    return "\n".join(lines)


def list_table(results, timed_out, counts, timeout):
    lines = ["| products | lm-lastupdate | wall s (median, min–max) | CPU s (median) |",
             "|---|---|---|---|"]
    for (count, last_update), runs in results.items():
        if (count, last_update) in timed_out and not runs:
            lines.append(f"| {count} | {'yes' if last_update else 'no'} | > {timeout:.0f} "
                         "(stopped) | – |")
            continue
        walls = [r.wall for r in runs]
        lines.append(f"| {count} | {'yes' if last_update else 'no'} | {med(walls):.3f} "
                     f"({spread(walls, 3)}) | {med([r.cpu for r in runs]):.3f} |")
    if 100 in counts and 10000 in counts:
        lines += ["", "Linearity: time of 10,000 products ÷ (100 × time of 100 products), "
                  "medians of this run (goal ≤ 2):", ""]
        for last_update in (False, True):
            small = [r.wall for r in results[(100, last_update)]]
            large = [r.wall for r in results[(10000, last_update)]]
            value = f"{med(large) / (100 * med(small)):.2f}" if large and small else \
                f"> {timeout / (100 * med(small)):.1f}"
            lines.append(f"- {'with' if last_update else 'without'} conf/lm-lastupdate: {value}")
    return "\n".join(lines)


def machine_note():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo", encoding="ascii", errors="replace") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    load = os.getloadavg()
    return (f"{os.cpu_count()} × {cpu}, {os.uname().sysname} {os.uname().release}; "
            f"load average at the end {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


