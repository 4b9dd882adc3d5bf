#!/usr/bin/env python3
"""Prints the table of one benchmark run from the wrk outputs that bench/run collected.

    report.py RESULTS_DIR "SERVERS" "LOADS" "SETUP TEXT"

RESULTS_DIR holds LOAD.SERVER.ROUND.wrk (measured, one per round), LOAD.SERVER.warmup,
tarnwick.rss ("LOAD KiB" lines, first "start") and tarnwick.loglines. With several rounds
each figure is the median of its rounds, which a shared, noisy machine disturbs less than
any one of them; failed requests are summed over the rounds.
"""

import glob
import os
import re
import statistics
import sys

LOAD_NAMES = {
    "keepalive": "4 KiB keep-alive",
    "close": "4 KiB Connection: close",
    "large": "1 MiB keep-alive",
    "index": "index of 200 files",
}

# Tarnwick's goals as ratios to a peer, taken from one run: (load, peer, measure, least ratio).
TARGETS = [
    ("keepalive", "nginx", "rps", 0.8),
    ("close", "nginx", "rps", 0.8),
    ("large", "nginx", "mibps", 1.0),
    ("index", "nginx", "rps", 1.0),
]

# wrk prints sizes with 1024-based units and times with these suffixes.
SIZE_UNITS = {"B": 1.0, "KB": 1024.0, "MB": 1024.0**2, "GB": 1024.0**3, "TB": 1024.0**4}
TIME_MS = {"us": 0.001, "ms": 1.0, "s": 1000.0, "m": 60000.0, "h": 3600000.0}


def parse_size(text):
    m = re.fullmatch(r"([\d.]+)([KMGT]?B)", text)
    return float(m.group(1)) * SIZE_UNITS[m.group(2)] if m else float("nan")


def parse_time_ms(text):
    m = re.fullmatch(r"([\d.]+)(us|ms|s|m|h)", text)
    return float(m.group(1)) * TIME_MS[m.group(2)] if m else float("nan")


def parse_wrk(path):
    """The figures of one wrk output, or None when the file is missing."""
    if not os.path.exists(path):
        return None
    text = open(path, encoding="utf-8", errors="replace").read()
    result = {"rps": float("nan"), "mibps": float("nan"), "p50": float("nan"), "p99": float("nan"),
              "requests": 0, "errors": {}}
    m = re.search(r"Requests/sec:\s+([\d.]+)", text)
    if m:
        result["rps"] = float(m.group(1))
    m = re.search(r"Transfer/sec:\s+(\S+)", text)
    if m:
        result["mibps"] = parse_size(m.group(1)) / 1024.0**2
    m = re.search(r"^\s+50%\s+(\S+)", text, re.M)
    if m:
        result["p50"] = parse_time_ms(m.group(1))
    m = re.search(r"^\s+99%\s+(\S+)", text, re.M)
    if m:
        result["p99"] = parse_time_ms(m.group(1))
    m = re.search(r"(\d+) requests in", text)
    if m:
        result["requests"] = int(m.group(1))
    m = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", text)
    if m:
        for name, value in zip(("connect", "read", "write", "timeout"), m.groups()):
            if int(value):
                result["errors"][name] = int(value)
    m = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
    if m and int(m.group(1)):
        result["errors"]["non-2xx"] = int(m.group(1))
    return result


def parse_rounds(results, load, server):
    """The median figures of a load and server over the rounds, or None without any."""
    rounds = [parse_wrk(path) for path in sorted(glob.glob(os.path.join(results, "%s.%s.*.wrk" % (load, server))))]
    if not rounds:
        return None
    merged = {key: statistics.median(r[key] for r in rounds) for key in ("rps", "mibps", "p50", "p99")}
    merged["requests"] = sum(r["requests"] for r in rounds)
    merged["errors"] = {}
    for r in rounds:
        for name, count in r["errors"].items():
            merged["errors"][name] = merged["errors"].get(name, 0) + count
    merged["rounds"] = len(rounds)
    return merged


def error_text(errors):
    return ", ".join("%s %d" % item for item in errors.items()) if errors else "0"


def ratio(a, b):
    return a / b if b and b == b and a == a else float("nan")


def main():
    results, servers, loads, setup = sys.argv[1], sys.argv[2].split(), sys.argv[3].split(), sys.argv[4]
    figures = {(load, server): parse_rounds(results, load, server) for load in loads for server in servers}
    # Tarnwick's RSS after its start and after each load, in order (several rounds repeat
    # the loads); the table shows the last figure of each load.
    rounds = max((f["rounds"] for f in figures.values() if f), default=1)
    rss_series = []
    rss_path = os.path.join(results, "tarnwick.rss")
    if os.path.exists(rss_path):
        for line in open(rss_path):
            key, value = line.split()
            rss_series.append((key, int(value)))
    rss = dict(rss_series)

    print()
    print("Tarnwick beside its peers (%s%s)" % (setup, ", median of %d rounds" % rounds if rounds > 1 else ""))
    print()
    header = "%-24s %-9s %11s %9s %9s %9s  %-22s %s" % (
        "load", "server", "req/s", "MiB/s", "p50 ms", "p99 ms", "failed", "vs tarnwick")
    print(header)
    print("-" * len(header))
    for load in loads:
        mine = figures.get((load, "tarnwick"))
        for server in servers:
            f = figures[(load, server)]
            if f is None:
                print("%-24s %-9s %s" % (LOAD_NAMES[load], server, "(no result)"))
                continue
            note = ""
            if server != "tarnwick" and mine:
                measure = "mibps" if load == "large" else "rps"
                note = "tarnwick x%.2f" % ratio(mine[measure], f[measure])
            elif server == "tarnwick" and load in rss:
                note = "RSS %d KiB" % rss[load]
            print("%-24s %-9s %11.0f %9.1f %9.2f %9.2f  %-22s %s" % (
                LOAD_NAMES[load], server, f["rps"], f["mibps"], f["p50"], f["p99"],
                error_text(f["errors"]), note))
    print()

    if "tarnwick" in servers:
        print("Targets (Tarnwick's ratio to the peer, this run):")
        for load, peer, measure, least in TARGETS:
            mine, theirs = figures.get((load, "tarnwick")), figures.get((load, peer))
            if load not in loads or peer not in servers or not mine or not theirs:
                continue
            r = ratio(mine[measure], theirs[measure])
            print("  %-24s %-8s %-6s x%.2f (goal >= %.2f)  %s" % (
                LOAD_NAMES[load], peer, "MiB/s" if measure == "mibps" else "req/s", r, least,
                "met" if r >= least else "NOT MET"))
        failures = sum(sum(f["errors"].values()) for f in figures.values() if f)
        print("  %-24s %s" % ("failed requests (all)", "none" if failures == 0 else "%d  NOT MET" % failures))
        if rss_series:
            print("  %-24s %s" % ("Tarnwick RSS (KiB)", " -> ".join("%s %d" % kv for kv in rss_series)))
        lines_path = os.path.join(results, "tarnwick.loglines")
        completed_path = os.path.join(results, "tarnwick.completed")
        if os.path.exists(lines_path) and os.path.exists(completed_path):
            answered = sum(int(line) for line in open(completed_path) if line.strip())
            print("  %-24s %s lines for %d requests that wrk completed (warm-ups included)" % (
                "Tarnwick request log", open(lines_path).read().strip(), answered))
    print()


if __name__ == "__main__":
    main()
