#!/usr/bin/python3
"""Power cuts at evenly spread moments of each flow, and the run after them.

Each flow (an update that installs; one that defers and the later --delay
install; one whose package the server does not have, recorded as failed;
the firmware request and update; SetNetwork -S; --init and --register) is first run once on tools/powercut_fs.py to count its file
operations on the installation root (appliance scripts, unzip and install
scripts included). Then, for each cut point, the flow runs again from the
same starting state and the power is cut at that operation: only what was
made durable survives. On what survives:
  - every XML state file parses (an absent one means what its reader says);
  - the inventory names the old or the new version, the new one only after
    an install whose script exited 0;
  - the flow run again ends installed (2) or up to date (0), fetching at
    most the bytes that were not durable, blocked by no lock or record.
The strict mode of the file system also fails a flow that renames a file
whose data it did not make durable first.

With --faults, the update flow runs once with each of ENOSPC and EIO on the
write, fsync and rename of each state file it writes instead: the run ends
with that step's failure status, logs "LmUpdate: cannot write FILE: ERROR",
publishes nothing half-written, and the next run converges.

Needs root, /dev/fuse and python3-fusepy (scripts/install-deps --crash);
without them it exits 77 (skipped), under CI (CI set) 1.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET
import zipfile

SKIPPED = 77
PYTHON = "/usr/bin/python3"  # Debian's, which has fusepy
SERVER_PORT_TIMEOUT = 10
RUN_TIMEOUT = 60
NEW, OLD = "2.0.0.1", "1.0.0.0"


def fail(message):
    raise SystemExit("power_cut_sweep: " + message)


def skip_or_fail(reason):
    if os.environ.get("CI"):
        fail(reason)
    print("power_cut_sweep: skipped: " + reason)
    sys.exit(SKIPPED)


def check_prerequisites():
    if os.geteuid() != 0:
        skip_or_fail("needs root to mount FUSE")
    if not os.path.exists("/dev/fuse"):
        skip_or_fail("no /dev/fuse")
    probe = subprocess.run([PYTHON, "-c", "import fusepy"], capture_output=True)
    if probe.returncode != 0:
        skip_or_fail("no python3-fusepy (scripts/install-deps --crash)")
    if os.environ.get("LM_TEST_EMULATOR"):
        skip_or_fail("not under an emulator")


class Server:
    """tools/update_server.py with a configuration and answer files it
    reads on each request."""

    def __init__(self, source, scratch):
        self.dir = os.path.join(scratch, "server")
        os.makedirs(self.dir)
        self.config = os.path.join(self.dir, "config.json")
        self.log = os.path.join(self.dir, "requests.log")
        self.sent = os.path.join(self.dir, "sent")
        self.set_routes({})
        port_file = os.path.join(self.dir, "port")
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(source, "tools/update_server.py"), "--config",
             self.config, "--log", self.log, "--sent", self.sent, "--port-file", port_file],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + SERVER_PORT_TIMEOUT
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            if self.proc.poll() is not None or time.time() > deadline:
                fail("the test update server did not start")
            time.sleep(0.02)
        self.port = int(open(port_file).read().split()[-1])

    def set_routes(self, routes):
        with open(self.config + ".new", "w") as f:
            json.dump({"routes": routes}, f)
        os.replace(self.config + ".new", self.config)

    def mark(self):
        """Where the logs end now: for download_bytes."""
        return [os.path.getsize(p) if os.path.exists(p) else 0 for p in (self.log, self.sent)]

    def download_bytes(self, since):
        """Body bytes of the /lm-download answers since mark, and their
        number (the client asks one thing at a time, so answers pair with
        requests in order)."""
        def lines(path, offset):
            with open(path, "rb") as f:
                f.seek(offset)
                return f.read().decode().splitlines()
        requests = [json.loads(line) for line in lines(self.log, since[0])]
        answers = [line.split() for line in lines(self.sent, since[1])]
        total = count = 0
        for request, answer in zip(requests, answers):
            if request["path"].startswith("/lm-download"):
                total, count = total + int(answer[1]), count + 1
        return total, count

    def close(self):
        self.proc.kill()
        self.proc.wait()


class Mount:
    """tools/powercut_fs.py on the root, loaded from an image; unmounted,
    it leaves what was durable in saved and its counts in stats."""

    def __init__(self, sweep, image, cut_at=0, faults=()):
        self.sweep = sweep
        self.saved = os.path.join(sweep.scratch, "saved")
        self.stats_path = os.path.join(sweep.scratch, "stats.json")
        ready = os.path.join(sweep.scratch, "ready")
        for path in (self.saved, self.stats_path, ready):
            remove(path)
        empty_directory(sweep.root)
        argv = [PYTHON, os.path.join(sweep.source, "tools/powercut_fs.py"), sweep.root,
                "--image", image, "--save", self.saved, "--stats", self.stats_path,
                "--ready", ready]
        if cut_at:
            argv += ["--cut-at", str(cut_at)]
        for fault in faults:
            argv += ["--fail", fault]
        self.proc = subprocess.Popen(argv, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 10
        while not os.path.exists(ready):
            if self.proc.poll() is not None or time.time() > deadline:
                fail("powercut_fs did not mount: " + self.proc.stderr.read())
            time.sleep(0.01)

    def cut(self):
        """Unmounts; the stats. The root holds what was durable."""
        subprocess.run(["umount", self.sweep.root], check=True)
        _, err = self.proc.communicate(timeout=30)
        if self.proc.returncode != 0:
            fail("powercut_fs ended with %d: %s" % (self.proc.returncode, err))
        with open(self.stats_path) as f:
            stats = json.load(f)
        # ROOT/tmp holds scratch space and the appliance's progress file,
        # nothing a later run relies on.
        stats["violations"] = [v for v in stats.get("violations", [])
                               if " -> tmp/" not in v]
        empty_directory(self.sweep.root)
        # Owners need no copying: the sweep runs as root, as the flows do.
        shutil.copytree(self.saved, self.sweep.root, symlinks=True, dirs_exist_ok=True)
        return stats


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def empty_directory(path):
    for entry in os.listdir(path):
        remove(os.path.join(path, entry))


def zip_package(path, members):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for name, (content, mode) in members.items():
            info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            info.external_attr = (0o100000 | mode) << 16
            z.writestr(info, content)
    with open(path, "rb") as f:
        data = f.read()
    return {"path": path, "size": len(data), "md5": hashlib.md5(data).hexdigest()}


def update_response(package, product, url):
    """An answer offering package as version NEW of product."""
    major, minor, patch, build = NEW.split(".")
    return ('<?xml version="1.0"?><LmUpdateResponse><Result code="201" status="ok"/>'
            '<PackageInfoList><PackageInfo path="" file="">'
            f'<ProductInfo id="{product}" name="prod{product}" desc="" installPath=""/>'
            '<PlatformInfo arch="" os="" vendor="" version=""/>'
            f'<LmVersionInfo major="{major}" minor="{minor}" patchLevel="{patch}" '
            f'buildNum="{build}" status="" desc=""/>'
            f'<DownloadInfo url="{url}" md5="{package["md5"]}" size="{package["size"]}" '
            f'time="" result="0"/><RunInfo format="zip" installScript="install" result="0"/>'
            '</PackageInfo></PackageInfoList></LmUpdateResponse>')


UP_TO_DATE = ('<?xml version="1.0"?><LmUpdateResponse><Result code="200" status="ok"/>'
              '<PackageInfoList></PackageInfoList></LmUpdateResponse>')


def parse_xml(path):
    """None when the file parses, else why not."""
    try:
        ET.parse(path)
        return None
    except ET.ParseError as e:
        return "%s: %s (%d bytes)" % (path, e, os.path.getsize(path))


def inventory_versions(root):
    """{id: version} of the inventory, {} when it is absent."""
    path = os.path.join(root, "conf/lm-inventory")
    if not os.path.exists(path):
        return {}
    versions = {}
    for product in ET.parse(path).getroot().iter("InstalledProduct"):
        info, version = product.find("ProductInfo"), product.find("LmVersionInfo")
        if info is None or version is None:
            continue
        versions[info.get("id")] = ".".join(
            version.get(k, "") for k in ("major", "minor", "patchLevel", "buildNum"))
    return versions


class Flow:
    """A sequence of client runs from a prepared starting state."""

    name = ""
    product = "5"

    def __init__(self, sweep):
        self.sweep = sweep
        self.root = sweep.root
        self.image = os.path.join(sweep.scratch, "image-" + self.name)
        self.done = os.path.join(sweep.scratch, "done-" + self.name)

    # --- what each flow says -------------------------------------------
    def prepare(self):
        """Builds the starting state in the root (not mounted)."""
        self.sweep.base_root(register=True)

    def steps(self):
        """The runs of the flow: (argv, acceptable exit statuses)."""
        raise NotImplementedError

    def serve(self):
        """Sets the server's answers for the root as it is now."""

    def check_cut(self):
        """Problems in the state a cut left."""
        return self.sweep.xml_problems() + self.version_problems()

    def check_end(self, fetched, bound):
        """Problems after the flow ran again to its end."""
        problems = self.sweep.xml_problems() + self.version_problems()
        if inventory_versions(self.root).get(self.product) != NEW:
            problems.append("not installed at the end: %s" % inventory_versions(self.root))
        return problems + self.fetch_problems(fetched, bound)

    def fetch_bound(self):
        """The most body bytes the next run may fetch; None: not bounded."""
        return None

    # --- shared ------------------------------------------------------
    def version_problems(self):
        version = inventory_versions(self.root).get(self.product)
        if version not in (OLD, NEW):
            return ["inventory names product %s at %s" % (self.product, version)]
        if version == NEW and not os.path.exists(self.done):
            return ["inventory names %s without a completed install" % NEW]
        return []

    @staticmethod
    def fetch_problems(fetched, bound):
        if bound is None or fetched[0] <= bound:
            return []
        return ["the next run fetched %d body bytes in %d answers, at most %d were missing"
                % (fetched[0], fetched[1], bound)]

    def install_script(self, exit_status):
        return ("#!/bin/sh\nif [ \"$1\" = -d ]; then mkdir -p \"$2\" && cp \"$4/payload\" "
                f"\"$2/payload\" || exit 3; fi\necho done >> {self.done}\nexit {exit_status}\n")


class UpdateFlow(Flow):
    name = "update"

    def prepare(self):
        super().prepare()
        self.sweep.client(["SetNetwork", "-S", "--budget", "100"], expect=0)
        self.package = zip_package(os.path.join(self.sweep.scratch, "p5.zip"), {
            "install": (self.install_script(0), 0o755),
            "payload": (random.Random(5).randbytes(96 * 1024), 0o644)})

    def local_file(self):
        return os.path.join(self.root, "download/5/2_0_0_1/p5.zip")

    def serve(self):
        installed = inventory_versions(self.root).get(self.product) == NEW
        self.sweep.serve_update(UP_TO_DATE if installed else update_response(
            self.package, 5, "pkg/p5.zip"), {"GET /lm-download": {"body_file": self.package["path"]}})

    def steps(self):
        return [(self.sweep.update_argv(), (0, 2))]

    def fetch_bound(self):
        if inventory_versions(self.root).get(self.product) == NEW:
            return 0
        if not os.path.exists(self.local_file()):
            return self.package["size"]
        have = os.path.getsize(self.local_file())
        record = os.path.join(self.root, "conf/lm-partial-files")
        recorded = os.path.exists(record) and self.local_file() in open(
            record, errors="replace").read()
        # A part resumes only with its record; a whole file also without.
        return self.package["size"] - (have if recorded or have == self.package["size"] else 0)


class DeferFlow(UpdateFlow):
    name = "defer"

    def prepare(self):
        Flow.prepare(self)
        self.package = zip_package(os.path.join(self.sweep.scratch, "p5d.zip"), {
            "install": ("#!/bin/sh\nexit 1\n", 0o755),
            "install-package": (self.install_script(0), 0o755),
            "payload": (random.Random(6).randbytes(32 * 1024), 0o644)})

    def steps(self):
        # A package still deferred is left to --delay install (251).
        return [(self.sweep.update_argv(), (0, 2, 251)),
                (["LmUpdate", "--delay", "install", "--id", "5"], (0, 2, 255))]

    def fetch_bound(self):
        # A package still listed as deferred waits for --delay install.
        listed = os.path.join(self.root, "conf/lm-delay-packages")
        if os.path.exists(listed) and 'ProductInfo id="5"' in open(listed).read():
            return 0
        return super().fetch_bound()


class FailedFlow(UpdateFlow):
    """A package the server does not have: the run records the failure
    (conf/lm-failed-packages), and the next one skips it."""
    name = "failed"

    def serve(self):
        self.sweep.serve_update(update_response(self.package, 5, "pkg/p5.zip"),
                                {"GET /lm-download": {"status": 404, "body": "no"}})

    def steps(self):
        return [(self.sweep.update_argv(), (251,))]

    def recorded(self):
        path = os.path.join(self.root, "conf/lm-failed-packages")
        return os.path.exists(path) and self.package["md5"] in open(path).read()

    def fetch_bound(self):
        return 0 if self.recorded() else None

    def check_end(self, fetched, bound):
        problems = self.sweep.xml_problems() + self.version_problems()
        if not self.recorded():
            problems.append("the failure is not recorded at the end")
        if bound == 0 and fetched[1]:
            problems.append("a recorded failure was fetched again")
        return problems


class FirmwareFlow(Flow):
    name = "firmware"
    product = None
    CONTENT = random.Random(9).randbytes(64 * 1024)

    def prepare(self):
        self.sweep.base_root(register=False)
        path = os.path.join(self.sweep.scratch, "f.bin")
        with open(path, "wb") as f:
            f.write(self.CONTENT)
        self.file = {"path": path, "size": len(self.CONTENT),
                     "md5": hashlib.md5(self.CONTENT).hexdigest()}
        answer = update_response(self.file, 9, "fw/f.bin").replace(
            '<LmVersionInfo major="2" minor="0" patchLevel="0" buildNum="1" status="" desc=""/>',
            '<ExtVersionInfo version="3.1"/>')
        os.makedirs(os.path.join(self.root, "shared_conf"), exist_ok=True)
        with open(os.path.join(self.root, "shared_conf/lm-firmware-packages"), "w") as f:
            f.write(answer)
        self.answer = answer

    def serve(self):
        self.sweep.server.set_routes({
            "POST /lm-firmware-update": {"status": 200, "body": self.answer},
            "GET /lm-sessionid": {"status": 200, "body": "SID42"},
            "GET /lm-download": {"body_file": self.file["path"]}})

    def steps(self):
        download = os.path.join(self.root, "download")
        return [(["LmUpdate", "--firmware", "get_update_info", "--arg", "9"], (0,)),
                (["LmUpdate", "--firmware", "update", "--arg", "3.1", "--download-dir", download],
                 (0,))]

    def version_problems(self):
        return []

    def check_end(self, fetched, bound):
        problems = self.sweep.xml_problems()
        local = os.path.join(self.root, "download/9/3_1/f.bin")
        if not os.path.exists(local) or open(local, "rb").read() != self.CONTENT:
            problems.append("the firmware file is not whole at the end")
        return problems + self.fetch_problems(fetched, bound)

    def fetch_bound(self):
        local = os.path.join(self.root, "download/9/3_1/f.bin")
        return self.file["size"] - (os.path.getsize(local) if os.path.exists(local) else 0)


class SetNetworkFlow(Flow):
    name = "setnetwork"
    product = None

    def prepare(self):
        self.sweep.base_root(register=False)

    def steps(self):
        return [(["SetNetwork", "-S", "--server", "127.0.0.1:%d" % self.sweep.server.port,
                  "--type", "http", "--timeout", "17", "--budget", "64"], (0,))]

    def version_problems(self):
        return []

    def check_cut(self):
        problems = self.sweep.xml_problems()
        text = open(os.path.join(self.root, "conf/network.xml"), errors="replace").read()
        if ("17" in text) != ("mibPerDay=\"64\"" in text):
            problems.append("network.xml holds part of the change: " + text)
        return problems

    def check_end(self, fetched, bound):
        text = open(os.path.join(self.root, "conf/network.xml"), errors="replace").read()
        return self.check_cut() + ([] if "mibPerDay=\"64\"" in text else ["change lost"])


class RegisterFlow(Flow):
    name = "register"

    def prepare(self):
        self.sweep.base_root(register=False, init=False)

    def steps(self):
        def register(product, version):
            return (["LmUpdate", "--register", "--id", product, "--name", "prod" + product,
                     "--path", os.path.join(self.root, "opt/prod" + product), "--version",
                     version], (0,))
        return [(["LmUpdate", "--init"], (0,)), register("5", OLD), register("7", OLD),
                register("5", NEW)]

    def version_problems(self):
        versions = inventory_versions(self.root)
        if "7" in versions and versions.get("5") not in (OLD, NEW):
            return ["product 5 lost while product 7 was registered: %s" % versions]
        return []

    def check_end(self, fetched, bound):
        versions = inventory_versions(self.root)
        versions.pop("1000", None)  # the updater itself
        problems = self.sweep.xml_problems()
        if versions != {"5": NEW, "7": OLD}:
            problems.append("inventory at the end: %s" % versions)
        return problems


FLOWS = [UpdateFlow, DeferFlow, FailedFlow, FirmwareFlow, SetNetworkFlow, RegisterFlow]
# Shares of the cut points: the update flows have the most operations.
SHARES = {"update": 0.28, "defer": 0.28, "failed": 0.08, "firmware": 0.18, "setnetwork": 0.06,
          "register": 0.12}
# The state files an update writes, for the failure injection, and the
# status of a run that cannot write one: the inventory fails the update
# (-2), the list of packages to install fails the install (-6); without its
# partial record or its byte count a download goes on.
UPDATE_STATE_FILES = {"conf/lm-inventory": 254, "conf/lm-partial-files": 2,
                      "conf/lm-byte-count": 2, "conf/lm-newpkgs": 250}


class Sweep:
    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.source = os.path.abspath(args.source)
        self.scratch = tempfile.mkdtemp(prefix="lmcrash-")
        self.root = os.path.join(self.scratch, "root")
        os.makedirs(self.root)
        self.server = Server(self.source, self.scratch)
        self.verbose = args.verbose
        self.failures = []
        self.keep = False

    def close(self):
        if os.path.ismount(self.root):
            subprocess.run(["umount", "-l", self.root])
        self.server.close()
        if self.keep:
            print("power_cut_sweep: kept " + self.scratch)
            return
        shutil.rmtree(self.scratch, ignore_errors=True)
        shutil.rmtree("/tmp" + self.root, ignore_errors=True)  # the install lock's directory

    # --- running the client --------------------------------------------
    def client(self, argv, expect=None):
        """Runs LmUpdate or SetNetwork in a session of its own, so that a
        cut kills it and its children only."""
        env = dict(os.environ, REGISTER_DIR=self.root, LMUPDATE_BACKOFF_BASE_MS="20")
        proc = subprocess.run([os.path.join(self.bin, argv[0])] + argv[1:], env=env,
                              capture_output=True, text=True, errors="replace",
                              timeout=RUN_TIMEOUT, start_new_session=True)
        if expect is not None and proc.returncode != expect:
            fail("%s exited %d: %s%s" % (" ".join(argv), proc.returncode, proc.stdout,
                                         proc.stderr))
        return proc

    def update_argv(self):
        return ["LmUpdate", "--update", "--id", "5", "--download-dir",
                os.path.join(self.root, "download"), "--verbose"]

    def serve_update(self, response, routes):
        path = os.path.join(self.server.dir, "update.xml")
        with open(path, "w") as f:
            f.write(response)
        self.server.set_routes({"POST /lm-update": {"status": 200, "body_file": path}, **routes})

    def base_root(self, register, init=True):
        empty_directory(self.root)
        for sub in ("bin", "conf", "tmp", "download"):
            os.makedirs(os.path.join(self.root, sub))
        scripts = os.path.join(self.source, "scripts/appliance/bin")
        for entry in os.listdir(scripts):
            shutil.copy(os.path.join(scripts, entry), os.path.join(self.root, "bin", entry))
        if not init:
            return
        self.client(["LmUpdate", "--init"], expect=0)
        self.client(["SetNetwork", "-S", "--server", "127.0.0.1:%d" % self.server.port, "--type",
                     "http", "--timeout", "10"], expect=0)
        if register:
            self.client(["LmUpdate", "--register", "--id", "5", "--name", "prod5", "--path",
                         os.path.join(self.root, "opt/prod5"), "--version", OLD], expect=0)

    def xml_problems(self):
        problems = []
        for directory in ("conf", "shared_conf"):
            path = os.path.join(self.root, directory)
            for name in sorted(os.listdir(path)) if os.path.isdir(path) else []:
                if name.startswith(".") or name.endswith(".lock"):
                    continue
                problem = parse_xml(os.path.join(path, name))
                if problem:
                    problems.append(problem)
        return problems

    # --- one flow -------------------------------------------------------
    def run_steps(self, flow, steps):
        """Runs the steps, the server answering for the state before each;
        the first step's result that was not acceptable (or None), what
        the steps wrote on standard error, and the last exit status."""
        errors = ""
        for argv, accepted in steps:
            flow.serve()
            proc = self.client(argv)
            errors += proc.stderr
            if proc.returncode not in accepted:
                said = [line for line in (proc.stdout + proc.stderr).splitlines()
                        if line.startswith(("LmUpdate: ", "EC_"))]
                return ("%s exited %d: %s" % (" ".join(argv[:3]), proc.returncode,
                                              " | ".join(said)[-1500:]), errors, proc.returncode)
        return None, errors, proc.returncode

    def prepare(self, flow):
        flow.prepare()
        remove(flow.image)
        shutil.copytree(self.root, flow.image, symlinks=True)
        empty_directory(self.root)

    def count(self, flow):
        """Runs the flow whole on the file system; its operation count."""
        remove(flow.done)
        mount = Mount(self, flow.image)
        problem, _, _ = self.run_steps(flow, flow.steps())
        stats = mount.cut()
        if problem:
            fail("flow %s does not pass without a cut: %s" % (flow.name, problem))
        self.report(flow.name, "whole", stats.get("violations", []))
        return stats["ops"]

    def cut_point(self, flow, cut_at, fault=None, state_file=None):
        """The flow cut at operation cut_at (or failing as fault says, then
        cut at its end), checked, run again to its end and checked again."""
        remove(flow.done)
        mount = Mount(self, flow.image, cut_at=cut_at, faults=[fault] if fault else [])
        _, errors, status = self.run_steps(flow, flow.steps())
        stats = mount.cut()
        where = "%s at %d (%s)" % (flow.name, cut_at, stats.get("cut") or stats.get("failed"))
        problems = list(stats.get("violations", []))
        if fault:
            problems += self.fault_problems(stats, errors, status, state_file)
        problems += flow.check_cut()
        if self.keep:
            shutil.copytree(self.root, os.path.join(self.scratch, "after-cut"), symlinks=True)
        bound = flow.fetch_bound()
        mark = self.server.mark()
        again, _, _ = self.run_steps(flow, flow.steps())
        problems += [again] if again else []
        problems += flow.check_end(self.server.download_bytes(mark), bound)
        self.report(flow.name, where, problems)

    @staticmethod
    def fault_problems(stats, errors, status, state_file):
        if not stats.get("failed"):
            return ["the flow never came to " + state_file]
        problems = []
        if status != UPDATE_STATE_FILES[state_file]:
            problems.append("%s: exit status %d, not %d" % (stats["failed"], status,
                                                          UPDATE_STATE_FILES[state_file]))
        if not any(line.startswith("LmUpdate: cannot write ") and (state_file + ": ") in line
                   for line in errors.splitlines()):
            problems.append("%s: no \"LmUpdate: cannot write %s: ERROR\" line: %s"
                            % (stats["failed"], state_file, errors[-1500:]))
        return problems

    def report(self, flow, where, problems):
        if problems:
            self.failures.append("%s: %s" % (where, "; ".join(problems)))
            print("FAIL %s: %s" % (where, "; ".join(problems)), flush=True)
        elif self.verbose:
            print("ok   %s" % where, flush=True)

    def sweep_flow(self, flow, points):
        self.prepare(flow)
        total = self.count(flow)
        chosen = sorted({max(1, round(k * total / (points + 1))) for k in range(1, points + 1)})
        started = time.monotonic()
        for cut_at in chosen:
            self.cut_point(flow, cut_at)
        print("flow %-10s %4d operations, %3d cut points, %5.1f s" %
              (flow.name, total, len(chosen), time.monotonic() - started), flush=True)
        return len(chosen)

    def inject_faults(self):
        flow = UpdateFlow(self)
        self.prepare(flow)
        runs = 0
        for state_file in UPDATE_STATE_FILES:
            directory, name = os.path.split(state_file)
            temp = "%s/.%s.*" % (directory, name)
            for op, glob in (("write", temp), ("fsync", temp), ("rename", state_file)):
                for errno_name in ("ENOSPC", "EIO"):
                    self.cut_point(flow, 0, "%s:%s:%s" % (op, glob, errno_name), state_file)
                    runs += 1
        print("faults: %d runs" % runs, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory holding LmUpdate and SetNetwork")
    parser.add_argument("--source", required=True, help="source tree (tools, scripts)")
    parser.add_argument("--points", type=int, default=220, help="cut points over all flows")
    parser.add_argument("--flows", default=",".join(SHARES), help="flows to sweep")
    parser.add_argument("--faults", action="store_true", help="also the failure injection")
    parser.add_argument("--verbose", action="store_true", help="print every point")
    parser.add_argument("--at", type=int, help="only this cut point of the one flow given, "
                        "keeping the scratch directory to look at")
    args = parser.parse_args()
    check_prerequisites()
    started = time.monotonic()
    sweep = Sweep(args)
    points = 0
    try:
        if args.at:
            flow = next(f for f in FLOWS if f.name == args.flows)(sweep)
            sweep.prepare(flow)
            sweep.keep = True
            sweep.cut_point(flow, args.at)
            return
        for flow_class in FLOWS:
            if flow_class.name in args.flows.split(","):
                share = max(1, round(args.points * SHARES[flow_class.name]))
                points += sweep.sweep_flow(flow_class(sweep), share)
        if args.faults:
            sweep.inject_faults()
    finally:
        sweep.close()
    print("%d cut points in %.0f s, %d failed" % (points, time.monotonic() - started,
                                                  len(sweep.failures)))
    sys.exit(1 if sweep.failures else 0)


if __name__ == "__main__":
    main()
