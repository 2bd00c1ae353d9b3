"""docs/read_table.py on tables knotfit wrote: as a script and as a module.
    python3 read_table_test.py KNOTFIT DOCS_DIR"""
import math
import os
import subprocess
import sys
import tempfile

knotfit, docs = sys.argv[1], sys.argv[2]
sys.path.insert(0, docs)
sys.dont_write_bytecode = True  # nothing written into the source tree
import read_table  # noqa: E402


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=30,
                          **kwargs)


def check(what, got, want):
    if got != want:
        sys.exit(f"{what}:\n{got!r}\nwanted\n{want!r}")


with tempfile.TemporaryDirectory() as kel:
    os.makedirs(f"{kel}/CS/plot")
    with open(f"{kel}/input", "w") as f:  # the cube, and the cube on 10..14
        f.write("0 0 1 1 2 8 3 27 4 64 NAME cube\n"
                "10 0 11 1 12 8 13 27 14 64 NAME far\n")
    r = run(knotfit, f"{kel}/input", env={"TROV_KEL": kel})
    check("knotfit status", r.returncode, 0)
    cube, far, bad = f"{kel}/CS/cube", f"{kel}/CS/far", f"{kel}/bad"
    with open(bad, "w") as f:
        f.write("knotfit\n")

    script = [sys.executable, f"{docs}/read_table.py"]
    knots = ("{0} 0 1.77636e-15 -2.66454e-15 1\n{1} 1 3 3 1\n{2} 8 12 6 1\n"
             "{3} 27 27 9 1\n{4} 64 48 0 0\n")
    # In double from the binary32 fields: 0.125 + 2^-52 and 1 - 2^-50.
    check("cube", run(*script, cube, "2.5", "-1", "0.5", "1", "nan").stdout,
          knots.format(0, 1, 2, 3, 4) + "S(2.5) = 15.625\nS(-1) = 0\n"
          "S(0.5) = 0.12500000000000022\nS(1) = 0.99999999999999911\n"
          "S(nan) = nan\n")
    check("far", run(*script, far, "2.5", "12.5", "25").stdout,
          knots.format(10, 11, 12, 13, 14) +
          "S(2.5) = 0\nS(12.5) = 15.625\nS(25) = 64\n")
    r = run(*script, bad)
    check("malformed", (r.returncode, r.stdout, r.stderr.split(": ", 2)[2]),
          (1, "", "8 bytes for 1802399604 knots, which take 36047992084\n"))

    # values(): with numpy where it is installed, without it in any case.
    table = read_table.load(far)
    ts = [9.5 + k / 61 for k in range(300)] + [-math.inf, math.inf, 11]
    want = [table.value(t) for t in ts]
    check("values", list(table.values(ts)), want)
    read_table.numpy = None
    check("values without numpy", table.values(ts), want)
    check("nan", math.isnan(table.values([math.nan])[0]), True)

    # Every defect, as the C reader finds them.
    data = open(cube, "rb").read()
    for defect, at in [(data[:3], "no room"), (data[:103], "which take"),
                       (data + b"\0", "which take"),
                       (b"\xff\xff\xff\xfb" + data[4:], "count -5"),
                       (data[:100] + b"\x7f\xc0\0\0", "c of knot 0 is nan"),
                       (data[:24] + data[4:8] + data[28:], "x of knot 4 (4)")]:
        try:
            read_table.parse(defect)
            sys.exit(f"accepted a table with '{at}'")
        except read_table.TableError as e:
            check("defect", at in str(e), True)
