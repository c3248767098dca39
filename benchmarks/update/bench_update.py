#!/usr/bin/env python3
"""Update and --list benchmark of the LmUpdate client.

Serves generated zip packages from nginx on 127.0.0.1 and answers the update
request with the project's test update server. Each round, for every package
size, runs in alternating order:

  client     LmUpdate --update in a fresh installation root that holds the
             reference appliance scripts (progress reports, write lock)
  baseline   curl -o, md5sum, unzip and the package's install script
  curl+md5   curl -o and md5sum alone

and, for the largest package only, "client+key": the client's update with
the vendor's signing key installed and the package announced with its
SHA-256 and an Ed25519 signature (checked while the bytes arrive).

and records wall time, CPU (user + system of the whole process tree, from
wait4) and peak RSS (LmUpdate's own high-water mark, sampled from /proc; the
tree's largest process for the baselines). One untimed pass under strace -f
counts the system calls of each variant. Then each appliance script starts
alone a few times, and LmUpdate --list runs against generated inventories
with and without conf/lm-lastupdate.

Prints Markdown tables on standard output. Usage: see --help.
"""

import argparse
import hashlib
import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from bench_report import (list_table, machine_note, md5_table, script_table,
                          update_table)

MIB = 1024 * 1024
PRODUCT_ID = 7


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, what):
    deadline = time.time() + 10
    while time.time() < deadline:
        if proc.poll() is not None:
            sys.exit(f"bench: {what} exited with status {proc.returncode}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"bench: {what} did not listen on port {port} within 10 s")


def stop(proc):
    if proc and proc.poll() is None:
        os.kill(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()


class Measured:
    def __init__(self, status, wall, cpu, rss_kib):
        self.status = status
        self.wall = wall
        self.cpu = cpu
        self.rss_kib = rss_kib


def high_water_kib(pid):
    try:
        with open(f"/proc/{pid}/status", encoding="ascii") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def measure(argv, env=None, cwd=None, stdout=None, own_rss=False, timeout=None):
    """Runs argv; wall time, CPU of the process and all it waited for, and
    peak RSS (the process's own when own_rss, else the tree's largest)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, env=env, cwd=cwd, stdout=stdout or subprocess.DEVNULL,
                            stderr=subprocess.STDOUT if stdout else subprocess.DEVNULL)
    peak = 0
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if own_rss:
            peak = max(peak, high_water_kib(proc.pid))
        if timeout and time.monotonic() - start > timeout:
            proc.kill()
            _, status, usage = os.wait4(proc.pid, 0)
            proc.returncode = -9
            return Measured(None, time.monotonic() - start, None, None)
        time.sleep(0.01)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    cpu = usage.ru_utime + usage.ru_stime
    return Measured(proc.returncode, wall, cpu, peak if own_rss else usage.ru_maxrss)


def run_checked(argv, env=None, expect=0):
    result = subprocess.run(argv, env=env, capture_output=True, text=True)
    if result.returncode != expect:
        sys.exit(f"bench: {' '.join(argv)} exited with {result.returncode}:\n"
                 f"{result.stdout}{result.stderr}")
    return result


INSTALL_SCRIPT = """#!/bin/sh
# install [-d INSTALL_PATH] -s UNPACKED_PACKAGE
dest=
while [ $# -gt 0 ]; do
    case $1 in
        -d) dest=$2; shift 2 ;;
        -s) from=$2; shift 2 ;;
        *) shift ;;
    esac
done
[ -n "$dest" ] || exit 2
mkdir -p "$dest" && cp "$from/payload.bin" "$dest/" || exit 2
exit 0
"""


def make_package(directory, mib):
    """A zip of an install script and mib MiB of incompressible payload."""
    staging = os.path.join(directory, f"staging-{mib}")
    os.makedirs(staging)
    with open(os.path.join(staging, "install"), "w", encoding="ascii") as f:
        f.write(INSTALL_SCRIPT)
    os.chmod(os.path.join(staging, "install"), 0o755)
    with open(os.path.join(staging, "payload.bin"), "wb") as f:
        for _ in range(mib):
            f.write(os.urandom(MIB))
    name = f"pkg-{mib}.zip"
    path = os.path.join(directory, "served", name)
    # Stored: deflating random bytes gains nothing and would only slow setup.
    subprocess.run(["zip", "-q", "-0", path, "install", "payload.bin"], cwd=staging, check=True)
    shutil.rmtree(staging)
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(MIB), b""):
            digest.update(block)
    return {"mib": mib, "name": name, "path": path, "size": os.path.getsize(path),
            "md5": digest.hexdigest()}


NGINX_CONF = """daemon off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
    log_format bench '$status $bytes_sent "$request"';
    access_log {access_log};
    sendfile on;
    types {{ application/zip zip; }}
    client_body_temp_path {dir}/tmp-body;
    proxy_temp_path {dir}/tmp-proxy;
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
"""


def start_nginx(scratch, access_log=None):
    """nginx serving scratch/served; with access_log, a line per request
    there: the status, the bytes sent (head and body), the request line
    in quotes."""
    conf_dir = os.path.join(scratch, "nginx")
    os.makedirs(conf_dir)
    port = free_port()
    conf = os.path.join(conf_dir, "nginx.conf")
    with open(conf, "w", encoding="ascii") as f:
        f.write(NGINX_CONF.format(dir=conf_dir, port=port, root=os.path.join(scratch, "served"),
                                  access_log=access_log + " bench" if access_log else "off"))
    proc = subprocess.Popen(["nginx", "-c", conf, "-p", conf_dir], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    wait_for_port(port, proc, "nginx")
    return proc, port


def update_response(package, url, signed="", major=2, package_format="zip"):
    """signed: more attributes of DownloadInfo (the sha256 and signature,
    a deltaIndex), or ""."""
    return ('<?xml version="1.0"?><LmUpdateResponse><Result code="201" status="ok"/>'
            '<PackageInfoList><PackageInfo path="" file="">'
            f'<ProductInfo id="{PRODUCT_ID}" name="bench" desc="Bench product" installPath=""/>'
            '<PlatformInfo arch="" os="" vendor="" version=""/>'
            f'<LmVersionInfo major="{major}" minor="0" patchLevel="0" buildNum="0" status="" '
            'desc=""/>'
            f'<DownloadInfo url="{url}" md5="{package["md5"]}" size="{package["size"]}" '
            f'{signed} time="" result="0"/><RunInfo format="{package_format}" '
            'installScript="install" result="0"/></PackageInfo></PackageInfoList>'
            '</LmUpdateResponse>')


def make_signing_key(scratch):
    """An Ed25519 key pair; the paths of the private and the public key."""
    private = os.path.join(scratch, "signing.key")
    public = os.path.join(scratch, "signing.pub")
    run_checked(["openssl", "genpkey", "-algorithm", "ed25519", "-out", private])
    run_checked(["openssl", "pkey", "-in", private, "-pubout", "-out", public])
    return private, public


def signed_attributes(package, private_key):
    """The sha256 and signature attributes scripts/sign-package (of this
    checkout) gives."""
    here = os.path.dirname(os.path.abspath(__file__))
    result = run_checked(["sh", os.path.join(here, "../../scripts/sign-package"), package["path"],
                          private_key, str(PRODUCT_ID), "2.0.0.0", "zip", "install", ""])
    return result.stdout.strip()


def start_update_server(scratch, source, package, nginx_port, signed=""):
    """The test update server answering every update request with package."""
    directory = os.path.join(scratch, f"server-{package['mib']}{'-signed' if signed else ''}")
    os.makedirs(directory)
    url = f"http://127.0.0.1:{nginx_port}/{package['name']}"
    response = os.path.join(directory, "response.xml")
    with open(response, "w", encoding="ascii") as f:
        f.write(update_response(package, url, signed))
    proc, port = serve_answer_file(directory, source, response)
    return proc, port, url


# The server's send buffer when its bytes are counted: what it counts as
# sent then stays within this of what the client took.
SENT_SNDBUF = 64 * 1024


def serve_answer_file(directory, source, response, routes=None, sent=None):
    """The test update server answering every update request with the
    file response (read again for each request), and the other routes
    given (its configuration format); sent: the file where it counts the
    bytes of each answer."""
    config = os.path.join(directory, "config.json")
    with open(config, "w", encoding="ascii") as f:
        json.dump({"routes": {"POST /lm-update": {"status": 200, "body_file": response},
                              **(routes or {})}}, f)
    port_file = os.path.join(directory, "port")
    proc = subprocess.Popen(
        [sys.executable, os.path.join(source, "tools/update_server.py"), "--config",
         config, "--log", os.path.join(directory, "requests.log"), "--port-file", port_file]
        + (["--sent", sent, "--sndbuf", str(SENT_SNDBUF)] if sent else []),
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while not (os.path.exists(port_file) and open(port_file, encoding="ascii").read().strip()):
        if proc.poll() is not None or time.time() > deadline:
            sys.exit("bench: the test update server did not start")
        time.sleep(0.05)
    port = int(open(port_file, encoding="ascii").read().split()[-1])
    return proc, port


def one_run_arguments(doc, timeout):
    """The options of a benchmark of one update run: --bin, --source and
    --timeout (seconds, timeout by default)."""
    parser = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory holding LmUpdate and SetNetwork")
    parser.add_argument("--source", required=True, help="source tree (scripts, tools)")
    parser.add_argument("--timeout", type=int, default=timeout,
                        help="seconds after which the update run is stopped")
    return parser.parse_args()


def serve_package(bench, mib):
    """A package of mib MiB and the test update server that serves it at
    /NAME and answers every update request with the file response.xml (the
    caller writes it); the package, that file's path and the port."""
    os.makedirs(os.path.join(bench.scratch, "served"))
    package = make_package(bench.scratch, mib)
    directory = os.path.join(bench.scratch, "server")
    os.makedirs(directory)
    response = os.path.join(directory, "response.xml")
    server, port = serve_answer_file(directory, bench.source, response,
                                     {"GET /" + package["name"]: {"body_file": package["path"]}})
    bench.procs.append(server)
    return package, response, port


class Bench:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.abspath(args.bin)
        self.source = os.path.abspath(args.source)
        self.scratch = tempfile.mkdtemp(prefix="lmbench.")
        os.chmod(self.scratch, 0o755)  # nginx's workers may run as another user
        self.lock_dirs = []
        self.procs = []

    def close(self):
        for proc in reversed(self.procs):
            stop(proc)
        shutil.rmtree(self.scratch, ignore_errors=True)
        for directory in self.lock_dirs:
            shutil.rmtree(directory, ignore_errors=True)
        shutil.rmtree("/tmp" + self.scratch, ignore_errors=True)
        try:
            os.rmdir("/tmp" + os.path.dirname(self.scratch))  # only when empty
        except OSError:
            pass

    # --- installation roots ------------------------------------------------

    def fresh_root(self, name, server_port=None):
        root = os.path.join(self.scratch, "roots", name)
        if os.path.exists(root):
            shutil.rmtree(root)
        for sub in ("bin", "conf", "tmp", "download"):
            os.makedirs(os.path.join(root, sub))
        scripts = os.path.join(self.source, "scripts/appliance/bin")
        for entry in os.listdir(scripts):
            shutil.copy(os.path.join(scripts, entry), os.path.join(root, "bin", entry))
        env = dict(os.environ, REGISTER_DIR=root)
        run_checked([f"{self.bin}/LmUpdate", "--init"], env)
        if server_port is not None:
            run_checked([f"{self.bin}/SetNetwork", "-S", "--server", f"127.0.0.1:{server_port}",
                         "--type", "http", "--timeout", "30"], env)
            run_checked([f"{self.bin}/LmUpdate", "--register", "--id", str(PRODUCT_ID), "--name",
                         "bench", "--desc", "Bench product", "--path",
                         os.path.join(root, "opt/bench"), "--version", "1.0.0.0"], env)
        return root, env

    # --- the three variants ------------------------------------------------

    def client_argv(self, root):
        return [f"{self.bin}/LmUpdate", "--update", "--id", str(PRODUCT_ID), "--verbose",
                "--download-dir", os.path.join(root, "download")]

    def baseline_argv(self, work, url, full):
        script = (f'curl -s -f -o "{work}/p.zip" "{url}" && md5sum "{work}/p.zip"')
        if full:
            script += (f' && unzip -q "{work}/p.zip" -d "{work}/x"'
                       f' && "{work}/x/install" -d "{work}/opt" -s "{work}/x"')
        return ["sh", "-c", script + " >/dev/null"]

    def prepare(self, variant, package, server_port, url, round_no):
        """A fresh root or work directory; the argv to measure and its check."""
        name = f"{variant}-{package['mib']}-{round_no}"
        if variant.startswith("client"):
            root, env = self.fresh_root(name, server_port)
            self.lock_dirs.append("/tmp" + root)
            if variant == "client+key":
                shutil.copy(self.public_key, os.path.join(root, "conf/lm-signing-key.pem"))
            installed = os.path.join(root, "opt/bench/payload.bin")
            return self.client_argv(root), env, 2, installed
        work = os.path.join(self.scratch, "roots", name)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        full = variant == "baseline"
        installed = os.path.join(work, "opt/payload.bin") if full else None
        return self.baseline_argv(work, url, full), None, 0, installed

    def run_variant(self, variant, package, server_port, url, round_no):
        argv, env, expect, installed = self.prepare(variant, package, server_port, url, round_no)
        log = open(os.path.join(self.scratch, f"{variant}-{package['mib']}.log"), "w")
        result = measure(argv, env=env, stdout=log, own_rss=variant.startswith("client"))
        log.close()
        if result.status != expect or (installed and not os.path.exists(installed)):
            with open(log.name, encoding="utf-8", errors="replace") as f:
                sys.exit(f"bench: {variant} at {package['mib']} MiB exited with "
                         f"{result.status}:\n{f.read()}")
        shutil.rmtree(os.path.dirname(argv[-1]) if variant.startswith("client") else
                      os.path.join(self.scratch, "roots", f"{variant}-{package['mib']}-"
                                   f"{round_no}"), ignore_errors=True)
        return result

    def count_syscalls(self, variant, package, server_port, url):
        argv, env, expect, _ = self.prepare(variant, package, server_port, url, "strace")
        out = os.path.join(self.scratch, f"strace-{variant}-{package['mib']}")
        subprocess.run(["strace", "-f", "-c", "-o", out, "--"] + argv, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out, encoding="ascii") as f:
            for line in f:
                fields = line.split()
                if fields and fields[-1] == "total":
                    return int(fields[3])
        return None

    # --- the update benchmark ----------------------------------------------

    def update_bench(self):
        os.makedirs(os.path.join(self.scratch, "served"))
        packages = [make_package(self.scratch, mib) for mib in self.args.sizes]
        nginx, nginx_port = start_nginx(self.scratch)
        self.procs.append(nginx)
        servers = {}
        for package in packages:
            proc, port, url = start_update_server(self.scratch, self.source, package, nginx_port)
            self.procs.append(proc)
            servers[package["mib"]] = (port, url)
        largest = packages[-1]
        private_key, self.public_key = make_signing_key(self.scratch)
        proc, signed_port, _ = start_update_server(
            self.scratch, self.source, largest, nginx_port,
            signed_attributes(largest, private_key))
        self.procs.append(proc)
        variants = ["client", "baseline", "curl+md5"]
        results = {(v, p["mib"]): [] for v in variants for p in packages}
        results[("client+key", largest["mib"])] = []
        for round_no in range(self.args.rounds):
            order = variants if round_no % 2 == 0 else list(reversed(variants))
            for package in packages:
                port, url = servers[package["mib"]]
                for variant in order:
                    results[(variant, package["mib"])].append(
                        self.run_variant(variant, package, port, url, round_no))
            results[("client+key", largest["mib"])].append(self.run_variant(
                "client+key", largest, signed_port, servers[largest["mib"]][1], round_no))
            print(f"bench: round {round_no + 1} of {self.args.rounds} done", file=sys.stderr)
        self.md5 = self.md5_bench(packages[-1])
        syscalls = {}
        if not self.args.no_strace:
            for package in packages:
                port, url = servers[package["mib"]]
                for variant in variants:
                    syscalls[(variant, package["mib"])] = self.count_syscalls(
                        variant, package, port, url)
        return packages, results, syscalls

    # --- MD5 against md5sum ------------------------------------------------

    def md5_bench(self, package):
        """md5sum's throughput on the package (CPU time, file in the page
        cache) and MD5::fileDigest's from the Google Benchmark program."""
        sums = []
        for _ in range(self.args.rounds):
            result = measure(["md5sum", package["path"]])
            sums.append(package["size"] / MIB / result.cpu)
        own = None
        program = self.args.md5_benchmark
        if program and os.path.exists(program):
            run = subprocess.run([program, "--benchmark_filter=BM_Md5File",
                                  "--benchmark_repetitions=5", "--benchmark_format=json"],
                                 capture_output=True, text=True)
            if run.returncode == 0 and run.stdout.strip():
                own = [b["bytes_per_second"] / MIB for b in json.loads(run.stdout)["benchmarks"]
                       if b.get("run_type") == "iteration"]
            else:  # an older program without BM_Md5File: no row
                print(f"bench: {program} has no BM_Md5File", file=sys.stderr)
        return sums, own

    # --- one start of each appliance script --------------------------------

    def script_bench(self):
        root, env = self.fresh_root("scripts")
        pid = str(os.getpid())
        runs = {
            "update_status.pl (download report)":
                ["bin/update_status.pl", "--action", "update", "--id", "7", "--status",
                 "download", "--downloaded_size", "1024", "--total_size", "4096"],
            "firmware_update.pl (download report)":
                ["bin/firmware_update.pl", "--action", "UPDATE", "--updatePID", pid, "--status",
                 "download", "--downloaded_size", "1024", "--total_size", "4096", "--version",
                 "1.0"],
            "write_lock.pl LOCK": ["bin/write_lock.pl", "--action", "LOCK", "--pid", pid,
                                   "--timeout", "5"],
            "write_lock.pl UNLOCK": ["bin/write_lock.pl", "--action", "UNLOCK", "--pid", pid,
                                     "--timeout", "5"],
            "perl -e 1 (the interpreter alone)": ["-e", "1"],
        }
        results = {name: [] for name in runs}
        for _ in range(self.args.script_rounds):
            for name, argv in runs.items():
                script = [os.path.join(root, argv[0])] + argv[1:] if argv[0] != "-e" else argv
                results[name].append(measure(["perl"] + script, env=env))
        return results

    # --- the --list benchmark ----------------------------------------------

    def list_root(self, count, last_update):
        root, env = self.fresh_root(f"list-{count}-{int(last_update)}")
        products = []
        for i in range(count):
            pid = 2000 + i
            products.append(
                f'<InstalledProduct><ProductInfo id="{pid}" name="product{pid}" '
                f'desc="Product {pid}" installPath="/opt/p{pid}" serialNo="" parent="" '
                f'langCode="" OEM=""/><LmVersionInfo major="1" minor="2" patchLevel="3" '
                f'buildNum="{i}" status="" desc=""/></InstalledProduct>')
        inventory = os.path.join(root, "conf/lm-inventory")
        with open(inventory, encoding="utf-8") as f:
            text = f.read()
        at = text.index("</Products>")
        with open(inventory, "w", encoding="utf-8") as f:
            f.write(text[:at] + "".join(products) + text[at:])
        if last_update:
            entries = "".join(
                f'<Entry ProductID="{2000 + i}" LastUpdate="2026-01-{1 + i % 28:02d}" '
                f'LastSuccessUpdate="2026-01-01" LastUpdateStatus="ok" UpdateMessage="none"/>'
                for i in range(count))
            with open(os.path.join(root, "conf/lm-lastupdate"), "w", encoding="utf-8") as f:
                f.write(f"<LmUpdate><UpdateInfo>{entries}</UpdateInfo></LmUpdate>")
        return env

    def list_bench(self):
        counts = self.args.list_counts
        results = {}
        envs = {}
        for last_update in (False, True):
            for count in counts:
                envs[(count, last_update)] = self.list_root(count, last_update)
                results[(count, last_update)] = []
        timed_out = set()
        for round_no in range(self.args.list_rounds):
            for key in results:
                if key in timed_out:
                    continue
                result = measure([f"{self.bin}/LmUpdate", "--list"], env=envs[key],
                                 timeout=self.args.list_timeout)
                if result.status is None:
                    timed_out.add(key)
                elif result.status != 0:
                    sys.exit(f"bench: --list of {key[0]} products exited with {result.status}")
                else:
                    results[key].append(result)
        return results, timed_out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory holding LmUpdate and SetNetwork")
    parser.add_argument("--source", required=True, help="source tree (scripts, test server)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--sizes", type=lambda s: [int(x) for x in s.split(",")],
                        default=[16, 64, 256], help="package sizes in MiB")
    parser.add_argument("--list-counts", type=lambda s: [int(x) for x in s.split(",")],
                        default=[10, 100, 1000, 10000])
    parser.add_argument("--list-rounds", type=int, default=3)
    parser.add_argument("--script-rounds", type=int, default=20)
    parser.add_argument("--list-timeout", type=float, default=60,
                        help="seconds after which a --list run is stopped and not repeated")
    parser.add_argument("--no-strace", action="store_true")
    parser.add_argument("--md5-benchmark", help="the lm_benchmarks program, for its MD5 row")
    parser.add_argument("--skip-update", action="store_true")
    parser.add_argument("--skip-list", action="store_true")
    args = parser.parse_args()

    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        began = time.time()
        load = os.getloadavg()[0]
        out = [f"LmUpdate from {args.bin}", ""]
        if not args.skip_update:
            packages, results, syscalls = bench.update_bench()
            out += [update_table(packages, results, syscalls, args.rounds), "",
                    md5_table(bench.md5, packages[-1]["mib"]), ""]
        out += [script_table(bench.script_bench(), args.script_rounds), ""]
        if not args.skip_list:
            results, timed_out = bench.list_bench()
            out += [list_table(results, timed_out, args.list_counts, args.list_timeout), ""]
        out.append(f"Machine: {machine_note()}; load average at the start {load:.2f}; "
                   f"{time.time() - began:.0f} s in all.")
        print("\n".join(out))
    finally:
        bench.close()


if __name__ == "__main__":
    main()
