#!/usr/bin/env python3
"""The guide's examples, run, so that docs/guide.md and the programs cannot
drift apart:
- every sh block of the guide with lines that start with "$ " is a
  transcript: each command runs (sh, in one scratch directory holding
  docs/examples/, TROV_KEL a fresh tree there, the built programs first on
  PATH), and its standard output and error must be the lines that follow
  it: a line "..." stands for any lines, "..." within a line for any text,
  and `ls -l` is compared by size and name;
- the data the guide shows of an example is its file in docs/examples/;
- every figure the prose gives of those runs (FIGURES) is the program's,
  rounded as the guide rounds it.
  guide_examples.py KNOTFIT KNOTFIT_EXPORT DOCS_DIR
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile


def e_short(v):  # 9e-06 as the guide writes it: 9e-6
    return re.sub(r"e-0*", "e-", f"{v:.0e}")


# (text of the guide, {} for each figure; command; what to take from its
# output: JSON keys of its --json file "j.json" (its only data set), or
# regular expressions whose group is the figure; their formats)
FIGURES = [
    ("overshoots its last points by {} m",
     "knotfit -q --ties=mean --json=j.json braking",
     "flags", ["{:.2f}"]),
    ("GCV took about {} degrees of freedom",
     "knotfit -q -m smooth --json=j.json braking", "df", ["{:.2f}"]),
    ("{} m at 10 km/h to {} m at 80 km/h",
     "knotfit -m smooth braking",
     [r"tab\(10\.000000, ([0-9.]+)\)", r"tab\(80\.000000, ([0-9.]+)\)"],
     ["{:.3f}", "{:.1f}"]),
    ("{} m from the\nreadings in the root-mean-square",
     "knotfit -q -m smooth --json=j.json braking", "rms", ["{:.1f}"]),
    ("and {} m at most (at {} km/h",
     "knotfit -q -m smooth --json=j.json braking",
     "max_residual max_residual_x", ["{:.1f}", "{:.0f}"]),
    ("`sigma`, {} m, estimates", "knotfit -q -m smooth --json=j.json braking",
     "sigma", ["{:.2f}"]),
    ("`band_max`, {} m, is the", "knotfit -q -m smooth --json=j.json braking",
     "band_max", ["{:.2f}"]),
    ("| knotfit | {} | {} | {} |",
     "knotfit -q -m smooth --json=j.json braking", "lambda df score",
     ["{:.1f}", "{:.4f}", "{:.4f}"]),
    ("(here\nRSS_w = rms²·Σw = {})",
     "knotfit -q -m smooth --json=j.json braking", "rms",
     [lambda v: f"{v * v * 22:.1f}"]),
    ("(λ ≈ {})", "knotfit -q -m smooth --lambda=df:3 --json=j.json braking",
     "lambda", ["{:.0f}"]),
    ('"lambda": {}, "df": {}, "gcv": {},',
     "knotfit -q -m smooth --json=j.json braking", "lambda df gcv",
     ["{:.1f}", "{:.2f}", "{:.2f}"]),
    ('"sigma": {}, "band_max": {},',
     "knotfit -q -m smooth --json=j.json braking", "sigma band_max",
     ["{:.2f}", "{:.2f}"]),
    ('"rms": {}, "max_residual": {},',
     "knotfit -q -m smooth --json=j.json braking", "rms max_residual",
     ["{:.2f}", "{:.2f}"]),
    ('"knots": {}, "bytes": {}, "max_error": {},',
     "knotfit -q --tolerance=0.05 --json=j.json ntc.txt",
     "knots bytes max_error", ["{}", "{}", "{:.3g}"]),
    ('"max_error_at": {}, "met": true,',
     "knotfit -q --tolerance=0.05 --json=j.json ntc.txt", "max_error_at",
     ["{}"]),
    ('"table_vs_fit": {} (see',
     "knotfit -q --tolerance=0.05 --json=j.json ntc.txt", "table_vs_fit",
     ["{:.2g}"]),
    ("The table went from {} bytes to {};",
     "knotfit -q ntc.txt && wc -c < $TROV_KEL/CS/ntc && "
     "knotfit -q --tolerance=0.05 ntc.txt && wc -c < $TROV_KEL/CS/ntc",
     [r"(\d+)\n", r"\d+\n(\d+)\n"], ["{:,}", "{}"]),
    ("`-m pchip --tolerance=0.05` gives {} knots",
     "knotfit -q --verbose -m pchip --tolerance=0.05 ntc.txt",
     [r"-> (\d+) knots"], ["{}"]),
    ("arithmetic adds at most {} °C",
     "knotfit -q --tolerance=0.05 ntc.txt && "
     "knotfit-export $TROV_KEL/CS/ntc > /dev/null",
     [r"largest difference at most ([0-9.e-]+)"], [e_short]),
]


def transcripts(guide):
    """(command, expected lines) of every "$ " line of the sh blocks."""
    runs = []
    for block in re.findall(r"^```sh\n(.*?)^```", guide, re.S | re.M):
        for line in block.splitlines():
            if line.startswith("$ "):
                runs.append((line[2:], []))
            elif runs and any(b.startswith("$ ") for b in block.splitlines()):
                runs[-1][1].append(line)
    return runs


def matches(command, got, want):
    if command.startswith("ls -l"):
        def key(line):
            f = line.split()
            return (f[4], os.path.basename(f[-1])) if len(f) > 5 else line
        got, want = [key(g) for g in got], [key(w) for w in want]
        return got == want
    pattern = ""
    for w in want:
        w = w.strip()
        pattern += "(?:.*\n)*?" if w == "..." else ".*".join(
            re.escape(p) for p in w.split("...")) + "\n"
    return re.fullmatch(pattern, "".join(g.strip() + "\n" for g in got))


def run(command, env, cwd):
    r = subprocess.run(["sh", "-c", command], env=env, cwd=cwd, timeout=60,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       text=True)
    return r.stdout


def figures_of(command, take, env, cwd):
    out = run(command, env, cwd)
    if isinstance(take, str):
        data = json.load(open(os.path.join(cwd, "j.json")))["data_sets"][0]
        return [data["flags"][0]["amount"] if k == "flags" else data[k]
                for k in take.split()]
    values = []
    for pattern in take:
        found = re.search(pattern, out)
        if not found:
            return []
        v = found.group(1)
        values.append(int(v) if v.isdigit() else float(v))
    return values


def main():
    knotfit, export, docs = sys.argv[1:4]
    guide = open(os.path.join(docs, "guide.md"), encoding="utf-8").read()
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        bin_dir = os.path.join(scratch, "bin")
        os.makedirs(bin_dir)
        os.symlink(os.path.abspath(knotfit), os.path.join(bin_dir, "knotfit"))
        os.symlink(os.path.abspath(export),
                   os.path.join(bin_dir, "knotfit-export"))
        examples = os.path.join(docs, "examples")
        for name in os.listdir(examples):
            shutil.copy(os.path.join(examples, name), scratch)
            data = open(os.path.join(examples, name)).read()
            if name == "braking" and "```\n" + data + "```" not in guide:
                failures.append("the guide's braking data is not " + name)
        os.makedirs(os.path.join(scratch, "kel", "CS", "plot"))
        env = {"PATH": bin_dir + ":/usr/bin:/bin", "LC_ALL": "C",
               "TROV_KEL": os.path.join(scratch, "kel")}
        runs = transcripts(guide)
        for command, want in runs:
            got = run(command, env, scratch).splitlines()
            if not matches(command, got, want):
                failures.append("$ %s\nguide:\n%s\nprogram:\n%s" % (
                    command, "\n".join(want), "\n".join(got)))
        for text, command, take, formats in FIGURES:
            values = figures_of(command, take, env, scratch)
            try:
                figures = [f(v) if callable(f) else f.format(v)
                           for f, v in zip(formats, values)]
            except (ValueError, TypeError):
                figures = [repr(values)]
            expected = text.format(*figures)
            if len(figures) != len(formats) or expected not in guide:
                failures.append("the guide should say: " + expected)
    for f in failures:
        print(f, end="\n\n")
    print("%d transcripts, %d figures, %d failures" % (
        len(runs), len(FIGURES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
