"""knotfit-export end to end: the C it writes, compiled by gcc and clang
under consumers' options and run, gives the values and the differences the
tool reported; knotfit/table.h under the same options gives the Python
reader's (the library's) bits; JSON and CSV read back to the table's
binary32 fields; a fixed-point overflow and --max-error are refused.
    python3 export_test.py KNOTFIT KNOTFIT_EXPORT INCLUDE_DIR DOCS_DIR"""
import json
import math
import os
import platform
import re
import shutil
import struct
import subprocess
import sys
import tempfile

knotfit, export, include, docs = sys.argv[1:5]
sys.path.insert(0, docs)
sys.dont_write_bytecode = True
import read_table  # noqa: E402

x86 = platform.machine() in ("x86_64", "AMD64")
OPTIONS = [(cc, flags) for cc, flags in [
    ("gcc", "-std=gnu99 -O2 -mfma"), ("gcc", "-std=c99 -O3 -march=native"),
    ("clang", "-std=c99 -O3 -march=native"),
    ("clang", "-std=c99 -O2 -mfma -ffp-contract=on"),
    ("g++", "-x c++ -O3 -march=native"),
    ("clang++", "-x c++ -std=c++17 -O2 -mfma -ffp-contract=on")]
    if shutil.which(cc) and (x86 or "-mfma" not in flags)]
DRIVER = r"""#include <stdio.h>
#include <stdlib.h>
#include "exported.h"
#define EVAL(i, v) (i == 0 ? cube_value(v) : i == 1 ? wave_value(v) \
                                                    : collapsed_value(v))
int main(void) {
  int i;
  char t[64];
  while (scanf("%d %63s", &i, t) == 2) {
#if FIXED
    printf("%lld\n", (long long)EVAL(i, atoll(t)));
#else
    printf("%a\n", (double)EVAL(i, strtod(t, NULL)));
#endif
  }
  return 0;
}
"""
READER = r"""#include <knotfit/table.h>
#include <stdio.h>
static unsigned char bytes[4096];
int main(int argc, char **argv) {
  FILE *f = fopen(argv[1], "rb");
  struct knotfit_table t;
  double p, q, roots[16];
  size_t i, n;
  int e;
  if (argc < 2 || !f ||
      knotfit_table_view(bytes, fread(bytes, 1, sizeof bytes, f), &t) != 0)
    return 2;
  while (scanf("%lf %lf", &p, &q) == 2) {
    for (e = 0; e < 4; ++e) {
      enum knotfit_extrapolation r = (enum knotfit_extrapolation)e;
      printf("%a %a %a %a ", knotfit_table_at(&t, p, r),
             knotfit_table_derivative(&t, p, r),
             knotfit_table_second_derivative(&t, p, r),
             knotfit_table_integral(&t, p, q, r));
    }
    n = knotfit_table_inverse(&t, p, roots, 16);
    for (i = 0; i < n; ++i)
      printf("%a ", roots[i]);
    printf("\n");
  }
  return 0;
}
"""


def run(*args, **kwargs):
    """Bytes that are not UTF-8 read as lone surrogates ("\\xff" as "\\udcff")."""
    return subprocess.run(args, capture_output=True, text=True, timeout=120,
                          errors="surrogateescape", **kwargs)


def check(what, got, want):
    if got != want:
        sys.exit(f"{what}:\n{got!r}\nwanted\n{want!r}")


def compiled(source, work, cc, flags):
    with open(f"{work}/main.c", "w") as f:
        f.write(source)
    r = run(cc, *flags.split(), "-Wall", "-Wextra", "-pedantic", "-Werror",
            f"-I{include}", f"-I{work}", f"{work}/main.c", "-o",
            f"{work}/main")
    check(f"{cc} {flags}", r.stderr, "")
    return f"{work}/main"


def binary32(values):
    return [struct.unpack("f", struct.pack("f", v))[0] for v in values]


def abscissas(table):
    """The knots, then the plot abscissas, as knotfit-export takes them."""
    xs, first, last = list(table.x), table.x[0], table.x[-1]
    step = struct.unpack("f", struct.pack("f", (last - first) / 500.0))[0]
    t = first
    while t <= last and (t == first or step > 0):
        xs.append(t)
        if t + step == t:
            break
        t += step
    return xs


with tempfile.TemporaryDirectory() as work:
    os.makedirs(f"{work}/CS/plot")
    with open(f"{work}/input", "w") as f:
        f.write("0 0 1 1 2 8 3 27 4 64 NAME cube\n"
                "-2 0.5 -1 3 0 -1 1 2 2.5 -2 3 0 NAME wave\n"
                "0 0 1 1e6 2 4 NAME big\n")
    check("knotfit", run(knotfit, f"{work}/input",
                         env={"TROV_KEL": work}).returncode, 0)
    with open(f"{work}/CS/collapsed", "wb") as f:
        f.write(bytes.fromhex("00000004" + "40000000 40a00000" + "00" * 12
                              + "3f800000 40a00000" + "00" * 12
                              + "3f800000 3f800000" + "00" * 12
                              + "00000000 00000000 3f800000" + "00" * 8))
    names = ["cube", "wave", "collapsed"]
    paths = [f"{work}/CS/{name}" for name in names]
    odd = f"{work}/CS/e\x1b[2J\udcff"  # ESC and the byte 0xFF
    shutil.copy(paths[0], odd)
    tables = [read_table.load(path) for path in paths]

    for kind in ("float", "double", "i32", "i16"):
        r = run(export, "--type", kind, *paths)
        check(f"--type {kind}", r.returncode, 0)
        with open(f"{work}/exported.h", "w") as f:
            f.write(r.stdout)
        reported = [tuple(map(float, m)) for m in re.findall(
            r"largest difference (\S+) at x = (\S+), (\S+) of the y range",
            r.stderr)]
        check(f"{kind} reports", len(reported), 3)
        fixed = kind in ("i32", "i16")
        queries, points = "", []
        for i, (name, table) in enumerate(zip(names, tables)):
            if fixed:
                fx, fv = (int(re.search(f"{name}_{what}_frac_bits = (-?\\d+)",
                                        r.stdout).group(1))
                          for what in ("x", "value"))
                top = 1 << (31 if kind == "i32" else 15)
                args = [min(max(round(math.ldexp(t, fx)), -top), top - 1)
                        for t in abscissas(table)]
            else:
                args = [t.hex() for t in abscissas(table)]
            queries += "".join(f"{i} {a}\n" for a in args)
            points += [(i, t) for t in abscissas(table)]
        outputs = set()
        for cc, flags in OPTIONS:
            main = compiled(DRIVER, work, cc, f"{flags} -DFIXED={int(fixed)}")
            outputs.add(run(main, input=queries).stdout)
        check(f"{kind}: the same everywhere", len(outputs), 1)
        values = outputs.pop().split()
        worst = [(0.0, tables[i].x[0]) for i in range(3)]
        for (i, t), text in zip(points, values):
            v = float.fromhex(text) if not fixed else math.ldexp(int(text), -int(
                re.search(f"{names[i]}_value_frac_bits = (-?\\d+)",
                          r.stdout).group(1)))
            d = abs(v - tables[i].value(t))
            if d > worst[i][0]:
                worst[i] = (d, t)
        for i, table in enumerate(tables):
            span = max(table.y) - min(table.y)
            want = (*worst[i], worst[i][0] / span if worst[i][0] else 0.0)
            check(f"{kind} {names[i]} report", reported[i], want)
            check(f"{kind} exact", kind == "double" and want[0] != 0, False)

    # table.h under the same options: the Python reader's bits (which are
    # the library's, read_table_test.py).
    for path, table in zip(paths, tables):
        ps = abscissas(table)[::7] + [table.x[0] - 1.5, table.x[-1] + 2]
        queries = "".join(f"{p.hex()} {q.hex()}\n"
                          for p, q in zip(ps, reversed(ps)))
        want = []
        for p, q in zip(ps, reversed(ps)):
            row = []
            for rule in read_table.RULES:
                row += [table.value(p, rule), table.derivative(p, rule),
                        table.second_derivative(p, rule),
                        table.integral(p, q, rule)]
            want.append(repr(row + table.inverse(p)))
        for cc, flags in OPTIONS:
            main = compiled(READER, work, cc, flags)
            got = [repr([float.fromhex(v) for v in line.split()])
                   for line in run(main, path, input=queries).stdout
                   .splitlines()]
            check(f"table.h {cc} {flags} {path}", got, want)

    # Refused where the promise cannot hold.
    for cc, flags in OPTIONS[:1] + OPTIONS[2:3]:
        for bad in ["-ffast-math"] + ["-mfpmath=387"] * (cc == "gcc" and x86):
            r = run(cc, *flags.split(), *bad.split(), f"-I{include}", "-c",
                    "-o", os.devnull, "-x", "c", "-", input=READER)
            check(f"{cc} {bad}", r.returncode != 0 and "#error" in r.stderr,
                  True)

    # A name in the C header's comments: printable, ESC and 0xFF escaped.
    r = run(export, odd)
    check("c comment", (r.stdout.isascii(), r.stdout.count(
        "e\\x1b[2J\\xff")), (True, 2))

    # JSON and CSV: the binary32 fields, read back; a name's byte that is
    # not UTF-8 as U+FFFD.
    r = run(export, "--format", "json", *paths, odd)
    check("json lines", len(r.stdout.splitlines()), 4)
    for line, name, table in zip(r.stdout.splitlines(),
                                 names + ["e\x1b[2J\ufffd"], tables + tables):
        got = json.loads(line)
        check("json", (got["name"], got["n"]), (name, len(table.x)))
        for field in "xyabc":
            check(f"json {field}", binary32(got[field]),
                  list(getattr(table, field)))
    r = run(export, "--format", "csv", paths[1])
    rows = r.stdout.splitlines()
    check("csv header", rows[0], "x,y,a,b,c")
    check("csv", [tuple(binary32(map(float, row.split(","))))
                  for row in rows[1:]],
          list(zip(*(getattr(tables[1], f) for f in "xyabc"))))

    # Refusals: status 1, nothing on standard output; paths and values
    # quoted as knotfit quotes them (ESC escaped, 0xFF as it is).
    quoted = f"{work}/CS/e\\x1b[2J\udcff"
    for args, message in [
            (["--type", "i16", f"{work}/CS/big"], "y of knot 1 (1e+06) "
             "does not fit i16 at any scale"),
            (["--type", "i16", "--max-error", "1e-7", paths[0]],
             "exceeds --max-error 9.9999999999999995e-08"),
            (["--type", "i16", "--max-error", "1e-7", odd],
             f"knotfit-export: {quoted}: difference "),
            ([odd + "x"], f"knotfit-export: {quoted}x: "),
            (["--symbol", "a\x1b", paths[0]], "symbol 'a\\x1b' is not"),
            (["--format=\x1b"], "unknown format '\\x1b'"),
            (["--\x1b"], "unknown option '--\\x1b'"),
            (["--format", "csv", *paths], "--format csv takes one table")]:
        r = run(export, *args)
        check(" ".join(args), (r.returncode, r.stdout, message in r.stderr,
                               "\x1b" in r.stderr), (1, "", True, False))
    check("within --max-error",
          run(export, "--type", "i16", "--max-error", "1e-3",
              paths[0]).returncode, 0)
