#!/usr/bin/env python3
"""shards.py KNOTFIT KNOTFIT_MERGE parallel|slurm: a run split into 4 shards
(knotfit --shard=K/4 --json --report) adds up to one run: the same tree byte
for byte, the same lines on standard output and error but the closing
summaries, and knotfit-merge joins the shards' summaries into one run's JSON
summary and HTML report. The input: 3 files, 2,400 data sets, names repeated
within and across files, some skipped, some flagged.

- parallel: the shards run by GNU parallel (two at a time), as the user guide
  shows; and a shard stopped by SIGTERM and run again alone completes the
  tree, and a shard run twice writes the same bytes;
- slurm: the shards run as a Slurm job array (sbatch --array=0-3) and the
  merge as a job that waits for it (--dependency=afterok), on a Slurm of this
  machine that the test starts with its own configuration, munge key, socket,
  ports, state and logs, and stops (the daemons it started, by their pids).

Status 77 (skipped) where parallel, or Slurm and munge, are not installed.
Every process and every wait has a timeout."""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

knotfit, merge, mode = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
SHARDS = 4
problems = []


def check(what, got, want):
    if got != want:
        problems.append("%s: got %.300r, expected %.300r" % (what, got, want))


def generate(directory, sets, files=3, seed=47):
    """The inputs: data sets of 1 (skipped) to 10 points, a far gap now and
    then (flagged spacing), names drawn from fewer names than data sets."""
    rng = random.Random(seed)
    names = max(2, sets * 2 // 3)
    paths = []
    for f in range(files):
        lines = []
        for _ in range(sets // files):
            n = 1 if rng.random() < 0.02 else rng.randint(2, 10)
            x = rng.uniform(-5, 5)
            for i in range(n):
                x += rng.uniform(0.5, 1.5) * (3000 if rng.random() < 0.01 else 1)
                lines.append("%.6f %.6f" % (x, rng.uniform(-100, 100)))
            lines.append("NAME s%04d" % rng.randrange(names))
        path = os.path.join(directory, "in%d" % f)
        with open(path, "w") as out:
            out.write("\n".join(lines) + "\n")
        paths.append(path)
    return paths


def tree(top):
    found = {}
    for root, _, names in os.walk(top):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, top)] = f.read()
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


SUMMARY = re.compile(rb"^knotfit: \d+ data sets? written")


def lines(texts):
    """The lines of all the texts, sorted, the closing summaries left out."""
    return sorted(l for t in texts for l in t.splitlines() if not SUMMARY.match(l))


def kel(top):
    os.makedirs(os.path.join(top, "CS", "plot"))
    return dict(os.environ, TROV_KEL=top)


def one_run(work, inputs):
    """One run of the whole input: its tree, outputs and status."""
    env = kel(os.path.join(work, "kel.one"))
    run = subprocess.run([knotfit, "--json=" + os.path.join(work, "one.json"),
                          "--report=" + os.path.join(work, "one.html")] + inputs,
                         env=env, capture_output=True, timeout=300)
    return run


def compare(work, one, shard_dir, outs, errs, statuses):
    """The shards' tree, lines and merged summary and page against one run's."""
    check("tree", tree(os.path.join(work, "kel.shards")), tree(os.path.join(work, "kel.one")))
    check("standard output", lines(outs), lines([one.stdout]))
    check("standard error", lines(errs), lines([one.stderr]))
    check("statuses", max(statuses), one.returncode)
    for name in ("run.json", "run.html"):
        path = os.path.join(shard_dir, name)
        if not os.path.exists(path):
            problems.append("the merge wrote no " + name)
            continue
        check(name, read(path), read(os.path.join(work, "one." + name[4:])))


def shard_command(k, inputs, directory):
    return [knotfit, "--shard=%s/%d" % (k, SHARDS), "--json=%s/s%s.json" % (directory, k),
            "--report=%s/s%s.html" % (directory, k)] + inputs


def merge_command(directory):
    return [merge, "--json=%s/run.json" % directory, "--report=%s/run.html" % directory] + \
        ["%s/s%d.json" % (directory, k) for k in range(SHARDS)]


def with_parallel(work, inputs, one):
    env = kel(os.path.join(work, "kel.shards"))
    out = os.path.join(work, "out")
    os.mkdir(out)
    # The user guide's recipe, each shard's output kept apart.
    command = " ".join(shard_command("{}", inputs, out)) + " >%s/{}.out 2>%s/{}.err" % (out, out)
    subprocess.run(["parallel", "--will-cite", "-j", "2", "--joblog", out + "/jobs",
                          command, ":::"] + [str(k) for k in range(SHARDS)],
                   env=env, capture_output=True, timeout=300)
    statuses = [int(l.split(b"\t")[6]) for l in read(out + "/jobs").splitlines()[1:]]
    check("parallel's jobs", len(statuses), SHARDS)
    joined = subprocess.run(merge_command(out), capture_output=True, timeout=120)
    check("merge", (joined.returncode, joined.stderr), (0, b""))
    compare(work, one, out, [read("%s/%d.out" % (out, k)) for k in range(SHARDS)],
            [read("%s/%d.err" % (out, k)) for k in range(SHARDS)], statuses)


def stopped_and_again(work):
    """Shard 1 of a longer input stopped by SIGTERM, then run again alone:
    the tree is one run's; run once more, the same bytes again."""
    big = os.path.join(work, "big")
    os.mkdir(big)
    inputs = generate(big, 4000, files=1, seed=11)
    env_one = kel(os.path.join(big, "kel.one"))
    subprocess.run([knotfit, "-q"] + inputs, env=env_one, capture_output=True, timeout=300)
    top = os.path.join(big, "kel.shards")
    env = kel(top)
    for k in (0, 2, 3):
        subprocess.run([knotfit, "-q", "--shard=%d/4" % k] + inputs, env=env,
                       capture_output=True, timeout=300)
    cs = os.path.join(top, "CS")
    before = len(os.listdir(cs))
    stopped = subprocess.Popen([knotfit, "-q", "--shard=1/4"] + inputs, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while len(os.listdir(cs)) < before + 20 and time.monotonic() < deadline and stopped.poll() is None:
        time.sleep(0.002)
    stopped.send_signal(signal.SIGTERM)
    check("shard stopped by SIGTERM", stopped.wait(timeout=60), -signal.SIGTERM)
    check("stopped shard's tree is partial", tree(top) != tree(os.path.join(big, "kel.one")), True)
    again = []
    for _ in range(2):
        run = subprocess.run([knotfit, "--shard=1/4", "--json=" + big + "/s1.json"] + inputs,
                             env=env, capture_output=True, timeout=300)
        again.append((run.returncode, run.stdout, run.stderr, read(big + "/s1.json"), tree(top)))
    check("shard run again: the tree", again[0][4], tree(os.path.join(big, "kel.one")))
    check("shard run twice", again[1], again[0])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, ready, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if ready():
            return
        time.sleep(0.2)
    raise RuntimeError("timed out waiting for " + what)


def output(command, env):
    run = subprocess.run(command, env=env, capture_output=True, timeout=30)
    return run.stdout.decode() if run.returncode == 0 else None


def pid_of(path):
    try:
        return int(read(path))
    except (OSError, ValueError):
        return None


def stop(pid_files):
    """Stops the daemons this test started, by the pids they wrote."""
    pids = [p for p in map(pid_of, pid_files) if p]
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + 20
    for pid in pids:
        while time.monotonic() < deadline:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.1)
        else:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


SLURM_CONF = """ClusterName=knotfit
SlurmctldHost=localhost
SlurmUser={user}
SlurmdUser={user}
SlurmctldPort={ctld_port}
SlurmdPort={d_port}
AuthType=auth/munge
AuthInfo=socket={d}/munge/munge.sock
CredType=cred/munge
StateSaveLocation={d}/state
SlurmdSpoolDir={d}/spool
SlurmctldPidFile={d}/slurmctld.pid
SlurmdPidFile={d}/slurmd.pid
SlurmctldLogFile={d}/log/slurmctld.log
SlurmdLogFile={d}/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
MaxArraySize=1001
NodeName=knotfit1 NodeAddr=127.0.0.1 NodeHostname=knotfit1 CPUs={cpus} State=UNKNOWN
PartitionName=knotfit Nodes=knotfit1 Default=YES MaxTime=INFINITE State=UP OverSubscribe=YES
"""

# The user guide's job script: shard K of N, K the task's number plus the
# offset of its array; a status of 1 (a data set skipped or flagged) is no
# failure of the task, so that the merge that waits for it runs.
JOB = """#!/bin/sh
k=$((${{OFFSET:-0}} + SLURM_ARRAY_TASK_ID))
env TROV_KEL={kel} {knotfit} --shard=$k/{n} --json={out}/s$k.json --report={out}/s$k.html {inputs} >{out}/$k.out 2>{out}/$k.err
status=$?
echo $status >{out}/$k.status
[ $status -le 1 ]
"""


def with_slurm(work, inputs, one):
    d = os.path.join(work, "slurm")
    for sub in ("munge", "state", "spool", "log"):
        os.makedirs(os.path.join(d, sub), mode=0o700)
    key = os.path.join(d, "munge", "munge.key")
    with open(key, "wb") as f:
        f.write(os.urandom(1024))
    os.chmod(key, 0o400)
    user = subprocess.run(["id", "-un"], capture_output=True, text=True, timeout=10).stdout.strip()
    with open(os.path.join(d, "slurm.conf"), "w") as f:
        f.write(SLURM_CONF.format(d=d, user=user, ctld_port=free_port(), d_port=free_port(),
                                  cpus=os.cpu_count() or 1))
    # slurmd 22.05 loads a cgroup plugin whatever the task plugin: the v1
    # one, which starts where neither systemd nor a v2 hierarchy is.
    with open(os.path.join(d, "cgroup.conf"), "w") as f:
        f.write("CgroupPlugin=cgroup/v1\n")
    env = dict(os.environ, SLURM_CONF=os.path.join(d, "slurm.conf"))
    pid_files = [os.path.join(d, "slurmd.pid"), os.path.join(d, "slurmctld.pid"),
                 os.path.join(d, "munge", "munged.pid")]
    logs = [os.path.join(d, "log", "slurmctld.log"), os.path.join(d, "log", "slurmd.log"),
            os.path.join(d, "munge", "munged.log")]
    jobs = []
    try:
        subprocess.run(["munged", "--force", "--socket=" + d + "/munge/munge.sock",
                        "--key-file=" + key, "--pid-file=" + pid_files[2],
                        "--log-file=" + logs[2], "--seed-file=" + d + "/munge/munged.seed"],
                       check=True, timeout=30)
        wait_for("munged", lambda: os.path.exists(d + "/munge/munge.sock"), 30)
        subprocess.run(["slurmctld"], env=env, check=True, timeout=30)
        wait_for("slurmctld", lambda: output(["scontrol", "ping"], env) is not None and
                 "UP" in output(["scontrol", "ping"], env), 60)
        subprocess.run(["slurmd", "-N", "knotfit1"], env=env, check=True, timeout=30)
        wait_for("slurmd", lambda: (output(["sinfo", "-h", "-n", "knotfit1", "-o", "%t"], env)
                                    or "").strip() == "idle", 90)
        out = os.path.join(work, "out")
        os.mkdir(out)
        os.makedirs(os.path.join(work, "kel.shards", "CS", "plot"))
        job = os.path.join(work, "shard.sh")
        with open(job, "w") as f:
            f.write(JOB.format(kel=work + "/kel.shards", knotfit=knotfit, n=SHARDS, out=out,
                               inputs=" ".join(inputs)))
        array = subprocess.run(["sbatch", "--parsable", "--array=0-%d" % (SHARDS - 1),
                                "--output=" + out + "/slurm-%a.log", job],
                               env=env, capture_output=True, text=True, check=True, timeout=30)
        array_id = array.stdout.strip().split(";")[0]
        joined = subprocess.run(["sbatch", "--parsable", "--dependency=afterok:" + array_id,
                                 "--output=" + out + "/merge.log",
                                 "--wrap=" + " ".join(merge_command(out))],
                                env=env, capture_output=True, text=True, check=True, timeout=30)
        merge_id = joined.stdout.strip().split(";")[0]
        jobs.extend([array_id, merge_id])

        def done():
            left = output(["squeue", "-h", "-o", "%i %r", "-j", array_id + "," + merge_id], env)
            if left is not None and "DependencyNeverSatisfied" in left:
                raise RuntimeError("a shard's task failed: " + left)
            return left == ""

        wait_for("the jobs", done, 300)
        state = output(["scontrol", "-o", "show", "job", merge_id], env) or ""
        check("the merge job", re.findall(r"JobState=(\S+)|ExitCode=(\S+)", state),
              [("COMPLETED", ""), ("", "0:0")])
        statuses = [int(read("%s/%d.status" % (out, k))) for k in range(SHARDS)]
        compare(work, one, out, [read("%s/%d.out" % (out, k)) for k in range(SHARDS)],
                [read("%s/%d.err" % (out, k)) for k in range(SHARDS)], statuses)
    except (RuntimeError, subprocess.SubprocessError, OSError) as e:
        problems.append("Slurm: %s" % e)
        for log in logs:
            if os.path.exists(log):
                sys.stderr.write("--- %s (end)\n%s\n" % (log, read(log)[-3000:].decode(errors="replace")))
    finally:
        if jobs:  # what is left of them, when the test failed
            subprocess.run(["scancel"] + jobs, env=env, capture_output=True, timeout=30)
        stop(pid_files)


def main():
    needs = {"parallel": ["parallel"],
             "slurm": ["munged", "slurmctld", "slurmd", "sbatch", "squeue", "sinfo", "scontrol", "scancel"]}[mode]
    missing = [tool for tool in needs if shutil.which(tool) is None and
               not os.path.exists("/usr/sbin/" + tool)]
    if missing:
        print("skipped: %s not installed" % ", ".join(missing))
        return 77
    os.environ["PATH"] += ":/usr/sbin:/sbin"
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)
        inputs = generate(work, 2400)
        one = one_run(work, inputs)
        if mode == "parallel":
            with_parallel(work, inputs, one)
            stopped_and_again(work)
        else:
            with_slurm(work, inputs, one)
    for p in problems:
        print(p)
    return 1 if problems else 0


sys.exit(main())
