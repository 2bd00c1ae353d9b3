#!/usr/bin/env python3
"""shards.py BUILD_DIR [RUNS]: what --shard costs, on W2 (20,000 data sets of
20 points; gen_workload w2).

- total CPU (user + system, of every process) of W2 as 4 shards run two at a
  time (knotfit -q --shard=K/4), against one run with -j 1, each into a fresh
  KEL tree; paired runs, median and range of the ratio;
- the wall and CPU time of knotfit-merge joining 100 shards' --json
  summaries of W2 (and with --report, the shards having run with it),
  median and range.
The machine is noisy: run it three times."""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1])
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
knotfit = os.path.join(build, "knotfit")
merge = os.path.join(build, "knotfit-merge")


def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def fresh(kel):
    shutil.rmtree(kel, ignore_errors=True)
    os.makedirs(os.path.join(kel, "CS", "plot"))
    return dict(os.environ, TROV_KEL=kel)


def timed(start_all):
    """The CPU the processes start_all starts (and waits for) take."""
    before = cpu()
    start_all()
    return cpu() - before


def summary(name, values, unit=""):
    print("%-44s median %.3f%s  range %.3f-%.3f  (%d runs)" %
          (name, statistics.median(values), unit, min(values), max(values), len(values)))


with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR", "/tmp")) as work:
    w2 = os.path.join(work, "w2.txt")
    with open(w2, "wb") as f:
        subprocess.run([os.path.join(build, "gen_workload"), "w2"], stdout=f, check=True)
    kel = os.path.join(work, "kel")
    ratios, one_cpu, shard_cpu = [], [], []
    for _ in range(runs):
        env = fresh(kel)
        one = timed(lambda: subprocess.run([knotfit, "-q", "-j", "1", w2], env=env, check=True))
        env = fresh(kel)

        def two_at_a_time():
            for pair in ((0, 1), (2, 3)):
                procs = [subprocess.Popen([knotfit, "-q", "--shard=%d/4" % k, w2], env=env)
                         for k in pair]
                for p in procs:
                    p.wait()

        shards = timed(two_at_a_time)
        one_cpu.append(one)
        shard_cpu.append(shards)
        ratios.append(shards / one)
    summary("W2 one run -j 1: CPU", one_cpu, " s")
    summary("W2 4 shards, two at a time: total CPU", shard_cpu, " s")
    summary("W2 4 shards / one run: CPU ratio", ratios)

    for report in (False, True):
        jsons = []
        env = fresh(kel)
        for k in range(100):
            options = ["--report=%s/s%d.html" % (work, k)] if report else []
            path = "%s/s%d.json" % (work, k)
            subprocess.run([knotfit, "-q", "--shard=%d/100" % k, "--json=" + path] + options + [w2],
                           env=env, check=True)
            jsons.append(path)
        walls, cpus = [], []
        for _ in range(runs):
            outputs = ["--json=%s/run.json" % work] + (["--report=%s/run.html" % work] if report else [])
            start = time.monotonic()
            cpus.append(timed(lambda: subprocess.run([merge] + outputs + jsons, check=True)))
            walls.append(time.monotonic() - start)
        what = "merge of 100 shards' JSON" + (" with --report" if report else "")
        summary(what + ": wall", walls, " s")
        summary(what + ": CPU", cpus, " s")
