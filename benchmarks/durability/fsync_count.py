#!/usr/bin/env python3
"""How often one normal update syncs: one LmUpdate --update of a 2 MiB zip
package (an install script that exits 0) under strace -f -y.

Counts, from the trace of the client and everything it starts:
  - the fsync and fdatasync calls per file and per directory (syncfs and
    sync_file_range too, should any appear);
  - the state files written: renames into ROOT/conf and elsewhere;
  - the fsync calls that go with each such file: those of the renamed file
    before its rename, and those of its directory after it (up to the next
    rename into that directory);
  - the write() calls to the downloaded package file and its fsync calls,
    so that a sync per block of a download would show.

Prints Markdown tables and a last line `fsync per state file: X (max Y)`;
exits with status 1 when the update did not install the package.
"""

import os
import re
import signal
import subprocess
import sys
from collections import Counter, defaultdict

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../update"))
from bench_update import Bench, one_run_arguments, serve_package, update_response  # noqa: E402

PACKAGE_MIB = 2
SYNCS = ("fsync", "fdatasync", "syncfs", "sync_file_range")
RENAMES = ("rename", "renameat", "renameat2")
WRITES = ("write", "pwrite64", "writev", "pwritev", "pwritev2")
# "PID name(args" of a call's first line; a resumed call ("<... name resumed>")
# carries no arguments and is left out.
CALL = re.compile(r"^(\d+)\s+(\w+)\((.*)$")
# An argument: a descriptor with its path (strace -y), AT_FDCWD or a string.
ARG = re.compile(r'(-?\d+)<(.*?)>|(AT_FDCWD)|"((?:[^"\\]|\\.)*)"')
# The random part of a temporary name (mkstemp's and mkdtemp's six characters).
TEMP = re.compile(r"(\.|lmupdate-)[A-Za-z0-9_]{6}(?=/|$)")


def parse(trace_path):
    """The calls of the trace in order: (name, fd path or None, [path, ...]),
    the paths of a rename made absolute by their directory descriptors."""
    calls = []
    with open(trace_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = CALL.match(line)
            if not match:
                continue
            name, args = match.group(2), list(ARG.finditer(match.group(3)))
            fd_path = args[0].group(2) if args and args[0].group(2) is not None else None
            if fd_path:
                fd_path = fd_path.removesuffix(" (deleted)")
            paths, directory = [], ""
            for arg in args:
                if arg.group(4) is not None:
                    paths.append(os.path.join(directory, arg.group(4)))
                directory = arg.group(2) or ""
            calls.append((name, fd_path, paths))
    return calls


def state_file_writes(calls):
    """Each rename with the syncs that make it durable: [source, target, n],
    n counting the syncs of source before the rename and the first sync of
    the target's directory after it."""
    writes, waiting = [], []
    for index, (name, path, paths) in enumerate(calls):
        if name in RENAMES and len(paths) >= 2:
            data = sum(1 for n, p, _ in calls[:index] if n in SYNCS and p == paths[0])
            writes.append([paths[0], paths[1], data])
            waiting.append(writes[-1])
        elif name in SYNCS and path:
            for write in reversed(waiting):
                if os.path.dirname(write[1]) == path:
                    write[2] += 1
                    waiting.remove(write)
                    break
    return writes


def short(path, root):
    path = TEMP.sub(r"\1XXXXXX", path)
    return "ROOT" + path[len(root):] if path.startswith(root) else path


def sync_table(calls, root):
    syncs = Counter((name, short(path or "?", root)) for name, path, _ in calls
                    if name in SYNCS)
    # Known only for what is still there: the run removes some directories.
    kinds = {short(path, root): "directory" if os.path.isdir(path) else
             "file" if os.path.exists(path) else "removed since"
             for name, path, _ in calls if name in SYNCS and path}
    lines = ["| file or directory | kind | " + " | ".join(SYNCS) + " |",
             "|---|---|" + "---|" * len(SYNCS)]
    for path in sorted({p for _, p in syncs}):
        lines.append(f"| {path} | {kinds.get(path, '?')} | " +
                     " | ".join(str(syncs[(n, path)]) for n in SYNCS) + " |")
    total = Counter(name for name, _ in syncs.elements())
    lines.append("| all | | " + " | ".join(str(total[n]) for n in SYNCS) + " |")
    return lines


def rename_table(writes, root):
    by_target = defaultdict(list)
    for source, target, n in writes:
        by_target[(short(source, root), short(target, root))].append(n)
    lines = ["| renamed | into | times | fsync calls each (data and directory) |",
             "|---|---|---|---|"]
    for (source, target), counts in by_target.items():
        each = f"{min(counts)}" if min(counts) == max(counts) else \
            f"{min(counts)} to {max(counts)}"
        lines.append(f"| {source} | {target} | {len(counts)} | {each} |")
    return lines


def package_table(calls, root, name):
    on_package = defaultdict(Counter)
    for call, path, _ in calls:
        if path and os.path.basename(path) == name and (call in WRITES or call in SYNCS):
            on_package[short(path, root)]["write" if call in WRITES else "sync"] += 1
    lines = ["| downloaded package file | write calls | fsync and fdatasync calls |",
             "|---|---|---|"]
    return lines + [f"| {p} | {c['write']} | {c['sync']} |"
                    for p, c in sorted(on_package.items())]


def report(calls, root, package):
    writes = state_file_writes(calls)
    conf = os.path.join(root, "conf")
    state = [n for _, target, n in writes if os.path.dirname(target) == conf]
    average = sum(state) / len(state) if state else 0.0
    return "\n".join(
        [f"### fsync calls of one LmUpdate --update ({PACKAGE_MIB} MiB zip, "
         f"{package['size']} bytes)", ""] + sync_table(calls, root) + [""] +
        rename_table(writes, root) +
        ["", f"Renames: {len(writes)}, {len(state)} of them state files into ROOT/conf, "
         f"{len(writes) - len(state)} elsewhere (progress reports, the lock, the package "
         "file).", ""] + package_table(calls, root, package["name"]) +
        ["", f"fsync per state file: {average:.2f} (max {max(state, default=0)})"])


def main():
    args = one_run_arguments(__doc__, 120)
    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        package, response, port = serve_package(bench, PACKAGE_MIB)
        with open(response, "w", encoding="ascii") as f:
            f.write(update_response(package, f"http://127.0.0.1:{port}/{package['name']}"))
        root, env = bench.fresh_root("fsync", port)
        bench.lock_dirs.append("/tmp" + root)
        trace = os.path.join(bench.scratch, "trace")
        log_path = os.path.join(bench.scratch, "client.log")
        argv = ["strace", "-f", "-qq", "-y", "-o", trace, "-e",
                "trace=" + ",".join(SYNCS + RENAMES + WRITES), "--"] + bench.client_argv(root)
        with open(log_path, "w") as log:
            status = subprocess.run(argv, env=env, stdout=log, stderr=subprocess.STDOUT,
                                    timeout=args.timeout).returncode
        installed = os.path.exists(os.path.join(root, "opt/bench/payload.bin"))
        if status != 2 or not installed:
            with open(log_path, encoding="utf-8", errors="replace") as f:
                print(f"bench: the update exited with {status}, package "
                      f"{'installed' if installed else 'not installed'}; the client's "
                      "output ends:\n" + f.read()[-3000:], file=sys.stderr)
            sys.exit(1)
        print(report(parse(trace), os.path.realpath(root), package))
    finally:
        bench.close()


if __name__ == "__main__":
    main()
