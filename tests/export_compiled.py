"""knotfit-export's C, compiled by gcc and clang under consumers' options
and run, gives the values and the largest difference the tool sampled,
and never a difference beyond the bound it stated, on a grid ten times
finer and where the argument rounds across a knot; so does --layout=cmsis
under arm_spline_f32's formula with each addition fused or not;
knotfit/table.h under the same options gives the Python reader's (the
library's) bits, and refuses the options that break that promise. The
tables are those of the knotfit-export cases, and the cube's of the offset
and double forms (whose float and fixed-point code is about their origin);
what a run prints is theirs.
    python3 export_compiled.py KNOTFIT_EXPORT INCLUDE_DIR DOCS_DIR"""
import math
import os
import platform
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

export, include, docs = sys.argv[1:4]
sys.path.insert(0, docs)
sys.dont_write_bytecode = True
import read_table  # noqa: E402
from run_case import from_hex  # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")

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
  : i == 2 ? collapsed_value(v) : i == 3 ? offset_value(v) : double_value(v))
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
# arm_spline_f32's documented formula (a clean-room version) on the
# classic tables, in the eight ways of fusing its additions (bit k: the
# k-th) with the multiplications before them.
CMSIS_DRIVER = r"""#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
typedef enum { ARM_SPLINE_NATURAL } arm_spline_type;
typedef struct {
  arm_spline_type type;
  const float *x, *y;
  uint32_t n_x;
  float *coeffs;
} arm_spline_instance_f32;
#include "exported.h"
static float spline(const arm_spline_instance_f32 *s, float xq, int f) {
  const uint32_t n = s->n_x;
  const float *b = s->coeffs, *c = b + (n - 1), *d = c + (n - 1);
  uint32_t i = 0;
  while (i + 2 < n && xq > s->x[i + 1])
    ++i;
  const float dx = xq - s->x[i], cdx = c[i] * dx, ddxdx = (d[i] * dx) * dx;
  float v = f & 1 ? fmaf(b[i], dx, s->y[i]) : s->y[i] + b[i] * dx;
  v = f & 2 ? fmaf(cdx, dx, v) : v + cdx * dx;
  return f & 4 ? fmaf(ddxdx, dx, v) : v + ddxdx * dx;
}
int main(void) {
  arm_spline_instance_f32 s[3];
  int i, f;
  char t[64];
  cube_spline_init(&s[0]);
  wave_spline_init(&s[1]);
  collapsed_spline_init(&s[2]);
  while (scanf("%d %63s", &i, t) == 2) {
    for (f = 0; f < 8; ++f)
      printf("%a ", (double)spline(&s[i], (float)strtod(t, NULL), f));
    printf("\n");
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


def compiled(source, work, k, flags=""):
    """source built under OPTIONS[k] and flags, on a thread of the pool."""
    cc, options = OPTIONS[k]
    with open(f"{work}/main{k}.c", "w") as f:
        f.write(source)
    r = run(cc, *options.split(), *flags.split(), "-Wall", "-Wextra",
            "-pedantic", "-Werror", f"-I{include}", f"-I{work}",
            f"{work}/main{k}.c", "-o", f"{work}/main{k}", "-lm")
    check(f"{cc} {options} {flags}", r.stderr, "")
    return f"{work}/main{k}"


def exported(kind):
    """The options that export kind: a --type, or cmsis, the layout."""
    return ["--layout=cmsis"] if kind == "cmsis" else ["--type", kind]


def abscissas(table):
    """The knots, the plot abscissas and the points spread over every
    segment, as knotfit-export samples them."""
    xs = [table.x0 + x for x in table.x] if table.form != "classic" \
        else list(table.x)
    first, last = xs[0], xs[-1]
    step = struct.unpack("f", struct.pack("f", (last - first) / 500.0))[0]
    t = first
    while t <= last and (t == first or step > 0):
        xs.append(t)
        if t + step == t:
            break
        t += step
    return xs + spread(table, min(max((1 << 21) // len(table.x), 2), 4096))


def spread(table, per):
    """per - 1 points evenly inside every segment."""
    x0 = table.x0 if table.form != "classic" else 0.0
    return [x0 + (x + (z - x) * j / per) for x, z in zip(table.x, table.x[1:])
            for j in range(1, per if z > x else 1)]


def near_knots(table, unit):
    """Around every knot, within two units (a float's spacing there, or the
    fixed-point scale of x), where the argument rounds to either side."""
    x0 = table.x0 if table.form != "classic" else 0.0
    return [x0 + (x + d * unit(x)) for x in table.x
            for d in (-1.5, -0.5 - 2**-8, -0.5 + 2**-8, 0.5 - 2**-8,
                      0.5 + 2**-8, 1.5)]


# The programs under the sets of options are compiled side by side, as
# many at a time as there are cores.
with tempfile.TemporaryDirectory() as work, \
        ThreadPoolExecutor(os.cpu_count()) as pool:
    names = ["cube", "wave", "collapsed", "offset", "double"]
    paths = [f"{work}/{name}" for name in names]
    shutil.copy(f"{DATA}/cube.table", paths[0])
    for name, path in zip(names[1:], paths[1:]):
        source = f"cube.{name}.hex" if name in ("offset", "double") \
            else f"cases/knotfit-export/{name}.hex"
        with open(f"{DATA}/{source}") as f, open(path, "wb") as out:
            out.write(from_hex(f.read()))
    tables = [read_table.load(path) for path in paths]

    for kind in ("float", "double", "i32", "i16", "cmsis"):
        cmsis = kind == "cmsis"
        its = tables[:3] if cmsis else tables  # cmsis: the classic ones
        r = run(export, *exported(kind), *paths[:len(its)])
        check(f"{kind} export", r.returncode, 0)
        with open(f"{work}/exported.h", "w") as f:
            f.write(r.stdout)
        reported = [tuple(map(float, m)) for m in re.findall(
            r"largest difference at most (\S+) \(sampled (\S+) at x = (\S+)\)"
            r", (\S+) of the y range", r.stderr)]
        check(f"{kind} reports", len(reported), len(its))
        fixed = kind in ("i32", "i16")

        def evaluate(i, ts, mains):
            """The differences of table i's exported code at ts (the
            largest of its ways, for cmsis) under every program of mains,
            which must agree."""
            table, name = tables[i], names[i]
            # Float and fixed point take an abscissa about the origin.
            x0 = table.x0 if kind != "double" else 0.0
            if fixed:
                fx, fv = (int(re.search(f"{name}_{what}_frac_bits = (-?\\d+)",
                                        r.stdout).group(1))
                          for what in ("x", "value"))
                top = 1 << (31 if kind == "i32" else 15)
                args = [min(max(round(math.ldexp(t - x0, fx)), -top), top - 1)
                        for t in ts]
            else:
                args = [(t - x0).hex() for t in ts]
            queries = "".join(f"{i} {a}\n" for a in args)
            outputs = {run(main, input=queries).stdout for main in mains}
            check(f"{kind} {name}: the same everywhere", len(outputs), 1)
            values = [[float.fromhex(v) if not fixed
                       else math.ldexp(int(v), -fv) for v in line.split()]
                      for line in outputs.pop().splitlines()]
            y0 = table.y0 if kind != "double" and table.form != "classic" \
                else 0.0
            # The table's values as read_table_test.py checks them.
            return [(max(abs(y0 + v - w) for v in vs), t)
                    for vs, w, t in zip(values, table.values(ts), ts)]

        mains = [compiled(CMSIS_DRIVER, work, 0, "-ffp-contract=off")] \
            if cmsis else list(pool.map(
                lambda k: compiled(DRIVER, work, k, f"-DFIXED={int(fixed)}"),
                range(len(OPTIONS))))
        for i, table in enumerate(its):
            bound, sampled, at, relative = reported[i]
            # What it sampled, as the compiled code computes it.
            worst = (0.0, abscissas(table)[0])
            for d, t in evaluate(i, abscissas(table), mains):
                worst = (d, t) if d > worst[0] else worst
            check(f"{kind} {names[i]} sampled", (sampled, at), worst)
            # The bound holds on a grid ten times finer and around every
            # knot, and is what is judged, relative to the y range.
            if fixed:
                fx = int(re.search(f"{names[i]}_x_frac_bits = (-?\\d+)",
                                   r.stdout).group(1))
                unit = lambda x, fx=fx: math.ldexp(1.0, -fx)
            else:
                unit = lambda x: math.ldexp(1.0, math.frexp(x)[1] - 24) \
                    if x else 2**-149
            per = min(max((1 << 21) // len(table.x), 2), 4096)
            dense = spread(table, 10 * per) + near_knots(table, unit)
            # cmsis continues its end segments beyond the knots, where
            # the bound (and the table's end ordinates) stop.
            dense = [t for t in dense if not cmsis
                     or table.x[0] <= t <= table.x[-1]]
            beyond = max(evaluate(i, dense, mains[:1]))
            check(f"{kind} {names[i]} bound {bound} holds, {beyond}",
                  sampled <= bound and beyond[0] <= bound, True)
            span = max(table.y) - min(table.y)
            check(f"{kind} {names[i]} relative", relative,
                  bound / span if bound else 0.0)
            check(f"{kind} exact", kind == "double" and bound != 0, False)

    # Edge tables, in every type: knots of 1e-38 that no fixed scale tells
    # apart (so that the code gives its end ordinates everywhere), a flat
    # one, one abscissa twice and one knot (but for cmsis). The bound is
    # never below what was sampled, and where nothing is rounded it is 0.
    edges = {"tiny": [(0, 1e-40, 1e-40), (1e-38, 2e-40, 0)],
             "flat": [(0, 3, 0), (1, 3, 0)], "twice": [(1, 5, 0), (1, 7, 0)],
             "one": [(1, 2, 0)]}
    for name, knots in edges.items():
        with open(f"{work}/{name}", "wb") as f:
            f.write(struct.pack(">i", len(knots)) + b"".join(
                struct.pack(">5f", *k, 0, 0) for k in reversed(knots)))
    for kind in ("float", "double", "i32", "i16", "cmsis"):
        its = list(edges)[:3] if kind == "cmsis" else list(edges)
        r = run(export, *exported(kind), *(f"{work}/{n}" for n in its))
        reported = [tuple(map(float, m)) for m in re.findall(
            r"at most (\S+) \(sampled (\S+) ", r.stderr)]
        check(f"{kind} edges", [b >= s for b, s in reported],
              [True] * len(its))
        check(f"{kind} exact edges", [b for b, s in reported][1:],
              [0.0] * (len(its) - 1))

    # table.h under the same options: the Python reader's bits (which are
    # the library's, read_table_test.py).
    readers = list(pool.map(lambda k: compiled(READER, work, k),
                            range(len(OPTIONS))))
    for path, table in zip(paths, tables):
        knots = abscissas(table)
        ps = knots[::7] + [knots[0] - 1.5, knots[len(table.x) - 1] + 2]
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
        for main, (cc, flags) in zip(readers, OPTIONS):
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
