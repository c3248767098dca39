#!/usr/bin/env python3
"""Byte-budget benchmark: a day of update runs against a server that fails
in every way, under a budget of 25 MiB a day.

Each run is asked for a 4 MiB package that the server, in turn, cuts by
resets (through tools/link_relay.py at 2 MiB/s, a reset every 1.5 MiB), ends
early, answers 503 with a
Retry-After, answers 404, sends with a wrong MD5, or serves whole. Between
runs the product goes back to its old version and its failure records are
dropped, as if their intervals had passed, so that every run wants the
package again; all runs fall in one UTC day (the worst case). Reports, run
by run, the bytes the client counted (conf/lm-byte-count), the bytes that
crossed the link to it (heads and bodies: the test server's count, or the
relay's for the runs through it) and the test server's own count; goal:
neither of the first two passes the budget.
Prints Markdown; exits with status 1 when the goal is missed.
"""

import argparse
import json
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../update"))
from bench_update import (PRODUCT_ID, Bench, make_package, measure,  # noqa: E402
                          run_checked, serve_answer_file, update_response)
from bench_link import start_relay_with  # noqa: E402

BUDGET_MIB = 25
MIB = 1024 * 1024
RUNS = 24
MODES = ["reset", "short", "busy", "404", "digest", "whole"]


def routes(package, mode):
    """The test server's answers to the package's requests in mode."""
    whole = {"body_file": package["path"]}
    return {
        "reset": whole,  # the relay resets the link
        "short": [dict(whole, close_after=MIB), whole],
        "busy": [{"status": 503, "headers": {"Retry-After": "1"}, "body": "busy"}, whole],
        "404": {"status": 404, "body": "no"},
        "digest": whole,
        "whole": whole,
    }[mode]


def answers_sent(path):
    """The bytes of each answer the server sent, in order."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="ascii") as f:
        return [int(line.split()[0]) for line in f if line.strip()]


def relay_delivered(path):
    if not os.path.exists(path):
        return 0
    with open(path, encoding="ascii") as f:
        return json.load(f)["bytes_to_client"]


def counted(root):
    path = os.path.join(root, "conf/lm-byte-count")
    if not os.path.exists(path):
        return 0
    found = re.search(r'bytes="(\d+)"', open(path, encoding="ascii").read())
    return int(found.group(1)) if found else -1


def rewind(bench, root, env):
    """The product back at 1.0.0.0, no failure record, no download."""
    run_checked([f"{bench.bin}/LmUpdate", "--deregister", "--id", str(PRODUCT_ID), "--name",
                 "bench"], env)
    run_checked([f"{bench.bin}/LmUpdate", "--register", "--id", str(PRODUCT_ID), "--name",
                 "bench", "--desc", "Bench product", "--path", os.path.join(root, "opt/bench"),
                 "--version", "1.0.0.0"], env)
    for name in ("conf/lm-failed-packages", "download", "opt"):
        path = os.path.join(root, name)
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.remove(path)
    os.makedirs(os.path.join(root, "download"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory holding LmUpdate and SetNetwork")
    parser.add_argument("--source", required=True, help="source tree (scripts, tools)")
    parser.add_argument("--runs", type=int, default=RUNS, help="runs in the day")
    parser.add_argument("--keep", action="store_true", help="keep the scratch directory")
    args = parser.parse_args()
    bench = Bench(args)
    limit = BUDGET_MIB * MIB
    try:
        os.makedirs(os.path.join(bench.scratch, "served"))
        package = make_package(bench.scratch, 4)
        directory = os.path.join(bench.scratch, "server")
        os.makedirs(directory)
        response = os.path.join(directory, "response.xml")
        sent_path = os.path.join(directory, "sent")
        config = os.path.join(directory, "config.json")
        server, port = serve_answer_file(directory, bench.source, response, sent=sent_path)
        bench.procs.append(server)
        relay_stats = os.path.join(bench.scratch, "relay.json")
        relay, relay_port, _ = start_relay_with(
            bench.source, port, relay_stats, 600,
            # At a link's pace: a loopback relay fills the client's socket
            # buffer, which a reset then throws away unread.
            ["--rate", str(2 * MIB), "--reset-every-bytes", str(3 * MIB // 2)])
        bench.procs.append(relay)
        root, env = bench.fresh_root("budget", port)
        env = dict(env, LMUPDATE_BACKOFF_BASE_MS="100")
        run_checked([f"{bench.bin}/SetNetwork", "-S", "--budget", str(BUDGET_MIB)], env)
        rows, worst, link = [], 0, 0
        for run in range(args.runs):
            answers_before = len(answers_sent(sent_path))
            relayed_before = relay_delivered(relay_stats)
            mode = MODES[run % len(MODES)]
            host = relay_port if mode == "reset" else port
            announced = dict(package, md5="0" * 32) if mode == "digest" else package
            with open(response, "w", encoding="ascii") as f:
                f.write(update_response(announced, f"http://127.0.0.1:{host}/{package['name']}"))
            with open(config, "w", encoding="ascii") as f:
                json.dump({"routes": {"POST /lm-update": {"status": 200, "body_file": response},
                                      "GET /" + package["name"]: routes(package, mode)}}, f)
            result = measure(bench.client_argv(root), env=env, stdout=open(os.devnull, "w"),
                             timeout=120)
            answers = answers_sent(sent_path)
            day_counted, day_sent, run_answers = counted(root), sum(answers), \
                answers[answers_before:]
            # Through the relay, what crossed the link is what it delivered;
            # the server's count also holds what sat in the relay's queue.
            # The update answer (the run's first) comes direct.
            link += (run_answers[0] + relay_delivered(relay_stats) - relayed_before
                     if mode == "reset" else sum(run_answers))
            worst = max(worst, day_counted, link)
            rows.append(f"| {run + 1} | {mode} | {result.status} | {day_counted} | {link} | "
                        f"{day_sent} |")
            rewind(bench, root, env)
        met = worst <= limit
        print("\n".join([
            "### A day of failing runs under a 25 MiB budget", "",
            f"Package {package['size']} bytes; budget {limit} bytes; "
            f"{args.runs} runs in one day, the failure records dropped between runs.", "",
            "| run | server | exit | counted today | sent over the link today | "
            "the server's own count |",
            "|---|---|---|---|---|---|", *rows, "",
            f"Most the count or the link reached: {worst} bytes "
            f"({100.0 * worst / limit:.1f}% of the budget): goal ≤ budget "
            f"{'met' if met else 'not met'}. The server's own count also holds what waited "
            "in the relay's queue (a quarter of a second at its rate) when it reset the "
            "link, which never reached the client."]))
        if not met:
            sys.exit(1)
    finally:
        if args.keep:
            print(f"scratch: {bench.scratch}", file=sys.stderr)
        else:
            bench.close()


if __name__ == "__main__":
    main()
