#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# Paired timing for bench/run: the commands of a case run in turn, round after round, so that
# whatever else loads the machine weighs on each alike; medians, peak memory and per-round ratios.
import json
import os
import statistics
import sys
import time


PEAK = os.path.join(os.environ.get("TMPDIR", "/tmp"), "bench-peak.txt")


def run_once(cmd, clean):
    """Wall seconds, CPU seconds and peak resident kilobytes of one run (descendants included).
    The peak comes from GNU time: a process started from this one would count this one's memory
    too, as a child's peak includes what it had before it ran its program."""
    for path in clean:
        if os.path.lexists(path):
            os.remove(path)
    devnull = os.open(os.devnull, os.O_RDWR)
    actions = [(os.POSIX_SPAWN_DUP2, devnull, 0), (os.POSIX_SPAWN_DUP2, devnull, 1),
               (os.POSIX_SPAWN_DUP2, devnull, 2)]
    timed = ["/usr/bin/time", "-f", "%M", "-o", PEAK] + cmd
    begin = time.perf_counter()
    pid = os.posix_spawn(timed[0], timed, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - begin
    os.close(devnull)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: {' '.join(cmd)} failed (exit {os.waitstatus_to_exitcode(status)})")
    peak = int(open(PEAK).read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak


def measure(case, runs):
    """case: {"name", "commands": [{"name", "cmd", "clean"}]}; the first command is ours."""
    results = {c["name"]: [] for c in case["commands"]}
    for c in case["commands"]:  # one unmeasured round: caches warm, files in place
        run_once(c["cmd"], c.get("clean", []))
    for _ in range(runs):
        for c in case["commands"]:
            results[c["name"]].append(run_once(c["cmd"], c.get("clean", [])))
    return results


def ms(seconds):
    return f"{seconds * 1000:8.1f} ms"


def report(case, results):
    names = [c["name"] for c in case["commands"]]
    ours = results[names[0]]
    print(f"-- {case['name']}")
    print(f"   {'':34} {'wall (median)':>13} {'cpu (median)':>13} {'peak':>9}")
    for name in names:
        rows = results[name]
        wall = statistics.median(r[0] for r in rows)
        cpu = statistics.median(r[1] for r in rows)
        peak = max(r[2] for r in rows) / 1024
        print(f"   {name:34} {ms(wall):>13} {ms(cpu):>13} {peak:6.1f} MB")
    for name in names[1:]:
        # Round by round, so that a busy moment slows both sides of the ratio.
        wall = statistics.median(a[0] / b[0] for a, b in zip(ours, results[name]))
        cpu = statistics.median(a[1] / b[1] for a, b in zip(ours, results[name]) if b[1] > 0)
        print(f"   {names[0]} / {name}: {wall:.2f}x wall, {cpu:.2f}x cpu (median of rounds)")
    return {name: {"wall": statistics.median(r[0] for r in results[name]),
                   "cpu": statistics.median(r[1] for r in results[name]),
                   "peak_mb": max(r[2] for r in results[name]) / 1024,
                   "ratios": [a[0] / b[0] for a, b in zip(ours, results[name])]}
            for name in names}


def main():
    plan = json.load(open(sys.argv[1]))
    summary = {}
    for case in plan["cases"]:
        summary[case["name"]] = report(case, measure(case, plan["runs"]))
    json.dump(summary, open(sys.argv[2], "w"), indent=1)


if __name__ == "__main__":
    main()
