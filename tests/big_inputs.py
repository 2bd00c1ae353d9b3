#!/usr/bin/env python3
"""big_inputs.py KNOTFIT: runs on generated inputs too large for a case
directory: no fixed limit on points or token length, and standard output
failing in chunks too large to wait in a buffer."""
import os
import struct
import sys
import tempfile

from run_case import run

problems = []


def check(what, got, want):
    if got != want:
        problems.append("%s: got %s, expected %s" % (what, repr(got)[:200], repr(want)[:200]))


def points(count):
    """count lines "i i%7" from i = 0: a long data set with increasing x."""
    return "".join("%d %d\n" % (i, i % 7) for i in range(count))


def run_on(text, stdout="capture", piped=False, options=()):
    """knotfit on text (piped: as standard input) in a fresh directory with a
    KEL tree and subdirectories sub; also returns every table written in CS
    and CS/sub, by name."""
    with tempfile.TemporaryDirectory(prefix="knotfit-big-") as work:
        for sub in ("kel/CS/plot/sub", "kel/CS/sub"):
            os.makedirs(os.path.join(work, sub))
        source = os.path.join(work, "input")
        with open(source, "w") as f:
            f.write(text)
        status, out, err = run(knotfit, list(options) + ["-" if piped else "input"],
                               {"TROV_KEL": "kel"},
                               work, stdout, stdin=source if piped else os.devnull)
        found = {}
        for sub in ("kel/CS", "kel/CS/sub"):
            for name in os.listdir(os.path.join(work, sub)):
                if os.path.isfile(os.path.join(work, sub, name)):
                    with open(os.path.join(work, sub, name), "rb") as f:
                        found[name] = f.read()
    return status, out.decode(), err.decode(), found


knotfit = os.path.abspath(sys.argv[1])

long_name = "n" * 250  # a file name holds 255
long_number = "1." + "0" * 100000 + "1"
status, out, err, tables = run_on(points(5000) + "NAME many\n" + long_number +
                                  " 0 2 1 3 0 4 1 NAME " + long_name)
check("status", status, 0)
check("stderr", err, "")
check("tables", sorted(tables), sorted(["many", long_name]))
check("long name's table size", len(tables.get(long_name, b"")), 4 + 4 * 20)

# The table holds the points, last first, and the trace shows exactly the
# values the table holds.
table = tables.get("many", b"")
check("many: size", len(table), 4 + 5000 * 20)
fields = struct.unpack(">I%df" % (5 * 5000), table) if len(table) == 4 + 5000 * 20 else [0]
records = [fields[1 + 5 * k:6 + 5 * k] for k in range(fields[0])]
check("many: points", [r[:2] for r in records], [(i, i % 7) for i in range(4999, -1, -1)])
trace = "".join("\ttab(%f, %f) -> a(%f) b(%f) c(%f)\n" % r for r in records)
check("many: trace", trace in out, True)
for echo in ("read(4999) : 4999 \t 1\n", "read(0) : %s \t 0\n" % long_number,
             "read(4) : NAME \t %s\n" % long_name):
    check("echo " + echo[:30], echo in out, True)

# The reason is given once. A closed standard output (and error) must not lend
# its descriptor to a coefficient table, which the trace would then overwrite:
# with the input piped and the name in a subdirectory, 1 would be the lowest
# free descriptor when the table is created, and the echo fits in the buffer
# until the trace follows. The full one's data set passes the 4 MiB above
# which its arrays are mapped, and grow by remapping.
for to, n, name, want_status, reason in (
        ("full", 1100000, "big", 1,
         "knotfit: write error on standard output: No space left on device\n"),
        ("closed", 30000, "sub/big", 1,
         "knotfit: write error on standard output: Bad file descriptor\n"),
        ("closed-all", 30000, "sub/big", 1, ""),
        ("broken-pipe", 20000, "big", 128 + 13, "")):  # ended by SIGPIPE, quietly
    piped = to.startswith("closed")
    status, out, err, tables = run_on(points(n) + "NAME %s\n" % name, to, piped)
    check(to + " status", status, want_status)
    check(to + " stderr", err, reason)
    check(to + " table size", len(tables.get("big", b"")), 4 + n * 20 if want_status == 1 else 0)
    if reason:
        status, out, err, tables = run_on(points(n), to, piped)
        check(to + " stderr, echo only", err,
              reason + "knotfit: %s:1: %d points after the last NAME line not written\n"
              % ("-" if piped else "input", n))

# The report and the summary are the same whether the data sets were
# diagnosed beside the run, handed over in batches (by count, and by points
# for the long ones), or one at a time (any --fail-on, here of a flag none
# has).
text = ""
for k in range(300):
    n = 5000 if k % 50 == 7 else 3 + k % 17
    x = [i + (k % 5) * 0.25 * (i % 2) for i in range(n)]
    if k % 61 == 5:
        x[1] = x[0]  # skipped: x not increasing
    text += "".join("%r %d\n" % (x[i], (i * 7919 + k) % 13) for i in range(n))
    text += "NAME s%d\n" % k
made = {}
with tempfile.TemporaryDirectory(prefix="knotfit-big-") as work:
    os.makedirs(os.path.join(work, "kel/CS/plot"))
    with open(os.path.join(work, "input"), "w") as f:
        f.write(text)
    for how, extra in (("beside", []), ("in turn", ["--fail-on=spacing"])):
        status, _, err = run(knotfit, ["-q", "--report=r.html", "--json=r.json"] + extra +
                             ["input"], {"TROV_KEL": "kel"}, work)
        check(how + ": status", status, 1)
        with open(os.path.join(work, "r.html"), "rb") as f, \
                open(os.path.join(work, "r.json"), "rb") as g:
            made[how] = (err, f.read(), g.read())
check("report beside the run", made["beside"], made["in turn"])
check("report: data sets", made["beside"][2].count(b'"name": "s'), 300)

# Long data sets whose points the workers parse in batches (-j), one token
# longer than a batch's room: a token that is not a number as a whole far
# into one, then a NAME in the second place, are reported in that order, each in its place among the other data
# sets' messages, and everything else is as with one thread.
lines = points(10000).splitlines()
lines[3000] = "3000." + "0" * 70000 + " 4"  # longer than a batch holds
lines[7000] = "7000.0abc 0"
lines[8000] = "8000 NAME"
text = "\n".join(lines) + "\nNAME a\n0 0 0 1 NAME skipped\n"
lines = points(9000).splitlines()
lines[6000] = "6000 1,5"
text += "\n".join(lines) + "\nNAME b\n"
# A problem of one point points at its line: the first point of a worker's
# batch (pairs 2048 on), after the last one parsed on the spot or in the
# batch before it, and one amid a batch.
placed = []
for name, i, line, problem in (
        ("c", 4096, "4095 0", "x not increasing at point 4096 (4095 after 4095); skipped"),
        ("d", 2048, "2047.00001 0", "x of points 2047 and 2048 are both 2047 in binary32; "
         "the table cannot tell them apart; use --table=double"),
        ("e", 7000, "7000 1e39", "y of point 7000 (1e+39) overflows binary32; skipped")):
    lines = points(9000).splitlines()
    lines[i] = line
    placed.append("knotfit: input:%d: data set '%s': %s\n"
                  % (text.count("\n") + 1 + i, name, problem))
    if "not increasing" in problem:
        placed.append("knotfit: sort them with --sort, merge equal x with --ties mean\n")
    text += "\n".join(lines) + "\nNAME %s\n" % name
one = run_on(text, options=["-j", "1"])
check("batches: stderr", one[2], "".join([
    "knotfit: input:7001: '7000.0abc' is not a number as a whole, read as 7000\n",
    "knotfit: input:8001: pair 8001 has NAME as its second token: a token is missing "
    "or extra before it\n",
    "knotfit: input:10002: data set 'skipped': x not increasing at point 1 (0 after 0); "
    "skipped\n",
    "knotfit: sort them with --sort, merge equal x with --ties mean\n",
    "knotfit: input:16003: '1,5' is not a number as a whole, read as 1 (a comma, a "
    "decimal comma or a header?)\n"] + placed + [
    "knotfit: 3 data sets written, 3 skipped, 3 written with warnings\n"]))
check("batches: -j 2 as -j 1", run_on(text, options=["-j", "2"]), one)

print("\n".join(problems) or "ok")
sys.exit(1 if problems else 0)
