#!/usr/bin/env python3
"""Block-delta benchmark: what an update of v1 to v2 costs on the wire.

For each pair of tools/make_delta_pairs.py (rebuild, scattered, zip), with
nginx on 127.0.0.1 serving v2, its zsync control file and its delta index,
and the test update server answering the update request:

  full      LmUpdate --update of v2 in a fresh installation root (no seed)
  zsync     Debian's zsync -i v1 -o OUT URL.zsync (control file made with
            zsyncmake -b 4096, its bytes counted)
  delta     LmUpdate --update of v2 with deltaIndex, in a root where an
            update run installed v1 first (the client keeps it as seed);
            index bytes counted

Bytes on the wire (heads and bodies) and requests come from nginx's access
log; the update answer (from the test update server, the same for every
method) is not counted. CPU is user + system of the process and all it
waited for (install scripts, mount), from wait4; peak RSS is LmUpdate's own
high-water mark, zsync's from wait4. Prints Markdown tables.
"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../update"))
from bench_update import (Bench, measure, run_checked, serve_answer_file,  # noqa: E402
                          start_nginx, update_response)

MIB = 1024 * 1024
PAIRS = (("rebuild", "img"), ("scattered", "img"), ("zip", "zip"))
DELTA_LINE = re.compile(r"LmUpdate: delta \S+: (\d+) bytes fetched, (\d+) from the seed, "
                        r"(\d+) requests")
NO_DELTA = "n/a: client without delta support"


def version_file(pair, version):
    """What the VERSION file of a package says: the scattered pair is the
    rebuild pair's v1 image, its v2 with data blocks of other files
    overwritten."""
    return "rebuild v1" if pair == "scattered" else f"{pair} {version}"


def file_md5(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(MIB), b""):
            digest.update(block)
    return digest.hexdigest()


class Wire:
    """What nginx's access log gained since the last call."""

    def __init__(self, path):
        self.path = path
        self.offset = 0

    def since(self):
        time.sleep(0.2)  # nginx logs a request once its answer went out
        with open(self.path, encoding="utf-8", errors="replace") as f:
            f.seek(self.offset)
            lines = f.read().splitlines()
            self.offset = f.tell()
        statuses = [line.split()[0] for line in lines]
        return {"bytes": sum(int(line.split()[1]) for line in lines),
                "requests": len(lines), "statuses": statuses}


class DeltaBench(Bench):
    def __init__(self, args):
        super().__init__(args)
        self.served = os.path.join(self.scratch, "served")
        os.makedirs(self.served)
        self.index_tool = args.index_tool if args.index_tool and \
            os.access(args.index_tool, os.X_OK) else None

    def start(self):
        log = os.path.join(self.scratch, "access.log")
        open(log, "w").close()
        os.chmod(log, 0o666)  # nginx's workers may run as another user
        nginx, self.port = start_nginx(self.scratch, access_log=log)
        self.procs.append(nginx)
        self.wire = Wire(log)
        directory = os.path.join(self.scratch, "answer")
        os.makedirs(directory)
        self.response = os.path.join(directory, "response.xml")
        open(self.response, "w").close()
        proc, self.server_port = serve_answer_file(directory, self.source, self.response)
        self.procs.append(proc)

    def publish(self, pair, ext):
        """Copies the pair where nginx serves it, with v2's zsync control
        file and delta index; the packages' descriptions."""
        packages = {}
        for version in ("v1", "v2"):
            name = f"{pair}-{version}.{ext}"
            path = os.path.join(self.served, name)
            shutil.copyfile(os.path.join(self.args.pairs, name), path)
            os.chmod(path, 0o644)
            packages[version] = {"name": name, "path": path, "size": os.path.getsize(path),
                                 "md5": file_md5(path), "format": ext}
        v2 = packages["v2"]["name"]
        subprocess.run(["zsyncmake", "-b", "4096", "-u", v2, "-o", v2 + ".zsync", v2],
                       cwd=self.served, check=True, stdout=subprocess.DEVNULL)
        if self.index_tool:
            run_checked([self.index_tool, packages["v2"]["path"],
                         packages["v2"]["path"] + ".lmdelta"])
        for name in os.listdir(self.served):
            os.chmod(os.path.join(self.served, name), 0o644)
        return packages

    def answer(self, package, major, delta=False):
        url = f"http://127.0.0.1:{self.port}/{package['name']}"
        extra = f'deltaIndex="{url}.lmdelta"' if delta else ""
        with open(self.response, "w", encoding="ascii") as f:
            f.write(update_response(package, url, extra, major, package["format"]))

    def update(self, root, env, log_name, expect_version):
        """One measured LmUpdate --update; its result, wire figures and
        verbose output."""
        log_path = os.path.join(self.scratch, log_name)
        self.wire.since()
        with open(log_path, "w") as log:
            result = measure(self.client_argv(root), env=env, stdout=log, own_rss=True)
        wire = self.wire.since()
        with open(log_path, encoding="utf-8", errors="replace") as f:
            output = f.read()
        installed = os.path.join(root, "opt/bench/VERSION")
        version = open(installed).read().strip() if os.path.exists(installed) else None
        if result.status != 2 or version != expect_version:
            sys.exit(f"bench: {log_name}: exit status {result.status}, installed "
                     f"{version!r} instead of {expect_version!r}:\n{output[-4000:]}")
        return result, wire, output

    def full(self, pair, packages, round_no):
        root, env = self.fresh_root(f"full-{pair}-{round_no}", self.server_port)
        self.lock_dirs.append("/tmp" + root)
        self.answer(packages["v2"], 3)
        result, wire, _ = self.update(root, env, f"full-{pair}.log", version_file(pair, "v2"))
        shutil.rmtree(root, ignore_errors=True)
        return {"result": result, **wire}

    def zsync(self, pair, packages, round_no):
        work = os.path.join(self.scratch, f"zsync-{pair}-{round_no}")
        os.makedirs(work)
        out = os.path.join(work, "out")
        url = f"http://127.0.0.1:{self.port}/{packages['v2']['name']}.zsync"
        self.wire.since()
        result = measure(["zsync", "-q", "-i", packages["v1"]["path"], "-o", out, url], cwd=work)
        wire = self.wire.since()
        if result.status != 0 or file_md5(out) != packages["v2"]["md5"]:
            sys.exit(f"bench: zsync of {pair} exited with {result.status} or made other bytes")
        shutil.rmtree(work)
        return {"result": result, **wire}

    def delta(self, pair, packages, round_no):
        if not self.index_tool:
            return {"na": "n/a: lmupdate-make-delta-index not built"}
        root, env = self.fresh_root(f"delta-{pair}-{round_no}", self.server_port)
        self.lock_dirs.append("/tmp" + root)
        self.answer(packages["v1"], 2)
        self.update(root, env, f"seed-{pair}.log", version_file(pair, "v1"))
        self.answer(packages["v2"], 3, delta=True)
        result, wire, output = self.update(root, env, f"delta-{pair}.log",
                                           version_file(pair, "v2"))
        shutil.rmtree(root, ignore_errors=True)
        line = DELTA_LINE.search(output)
        if not line:
            return {"na": NO_DELTA}
        return {"result": result, **wire, "client": tuple(int(n) for n in line.groups())}


def median_row(runs):
    """The median figures of several runs of one method."""
    if "na" in runs[0]:
        return runs[0]
    return {"bytes": statistics.median(r["bytes"] for r in runs),
            "requests": statistics.median(r["requests"] for r in runs),
            "wall": statistics.median(r["result"].wall for r in runs),
            "cpu": statistics.median(r["result"].cpu for r in runs),
            "rss": max(r["result"].rss_kib for r in runs) / 1024,
            "client": runs[-1].get("client")}


def ratio(a, b, digits=3):
    return f"{a / b:.{digits}f}" if a is not None and b else "n/a"


def table(pair, packages, rows):
    size = packages["v2"]["size"]
    lines = [f"### {pair}: v1 {packages['v1']['size']} bytes, v2 {size} bytes", "",
             "| method | bytes on the wire | % of the package | requests | wall s | CPU s | "
             "peak RSS MiB |", "|---|---|---|---|---|---|---|"]
    for method, row in rows.items():
        if "na" in row:
            lines.append(f"| {method} | {row['na']} | – | – | – | – | – |")
            continue
        lines.append(f"| {method} | {row['bytes']:.0f} | {100 * row['bytes'] / size:.2f} | "
                     f"{row['requests']:.0f} | {row['wall']:.2f} | {row['cpu']:.2f} | "
                     f"{row['rss']:.1f} |")
    delta, full, zsync = rows["LmUpdate delta"], rows["LmUpdate full"], rows["zsync"]
    lines.append("")
    if delta.get("client"):
        fetched, seeded, requests = delta["client"]
        lines.append(f"Client's own count: {fetched} bytes fetched, {seeded} from the seed, "
                     f"{requests} requests.")
    lines.append(f"Delta bytes ÷ zsync bytes: {ratio(delta.get('bytes'), zsync['bytes'])}; "
                 f"delta bytes ÷ package size: {ratio(delta.get('bytes'), size)}; "
                 f"CPU delta ÷ CPU full: {ratio(delta.get('cpu'), full['cpu'], 2)}.")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory holding LmUpdate and SetNetwork")
    parser.add_argument("--source", required=True, help="source tree (scripts, test server)")
    parser.add_argument("--pairs", required=True, help="output of tools/make_delta_pairs.py")
    parser.add_argument("--index-tool", help="lmupdate-make-delta-index (no delta row without)")
    parser.add_argument("--rounds", type=int, default=1)
    args = parser.parse_args()
    args.pairs = os.path.abspath(args.pairs)
    bench = DeltaBench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        bench.start()
        out = [f"LmUpdate from {args.bin}; median of {args.rounds} round(s)", ""]
        for pair, ext in PAIRS:
            packages = bench.publish(pair, ext)
            runs = {"LmUpdate full": [], "zsync": [], "LmUpdate delta": []}
            for round_no in range(args.rounds):
                runs["LmUpdate full"].append(bench.full(pair, packages, round_no))
                runs["zsync"].append(bench.zsync(pair, packages, round_no))
                runs["LmUpdate delta"].append(bench.delta(pair, packages, round_no))
            out += [table(pair, packages, {m: median_row(r) for m, r in runs.items()}), ""]
            print(f"bench: {pair} done", file=sys.stderr)
        print("\n".join(out))
    finally:
        bench.close()


if __name__ == "__main__":
    main()
