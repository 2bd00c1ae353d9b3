"""The readers on the target: knotfit/table.h and knotfit-export's C (every
--type, and --layout=cmsis under that library's documented formula), built
with arm-none-eabi-gcc and newlib for two boards QEMU emulates, lm3s6965evb
(Cortex-M3: float and double in software) and mps2-an386 (Cortex-M4F:
float in hardware, double in software), run there with semihosting, give
the host's bits for every table and abscissa. The same program built for
the host is the reference. The tables: one data set fitted by every method,
in every form, with --tolerance and smoothing, and the tables of
export_compiled.py. The CMSIS formula compiled with contraction (GCC's
default, fused multiply-adds on the M4F) must stay within the stated
bound of the difference. Exits 77 where the cross compiler, newlib or QEMU is
missing.
    python3 on_target.py KNOTFIT KNOTFIT_EXPORT INCLUDE_DIR"""
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

knotfit, export, include = sys.argv[1:4]
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "docs"))
sys.dont_write_bytecode = True
import read_table  # noqa: E402
from run_case import from_hex  # noqa: E402

TARGET = os.path.join(HERE, "target")
CROSS = "arm-none-eabi-gcc"
BOARDS = [("lm3s6965evb", "-mcpu=cortex-m3"),
          ("mps2-an386", "-mcpu=cortex-m4 -mfloat-abi=hard -mfpu=fpv4-sp-d16")]
# As firmware is built: size first, GNU C (whose default contracts a * b + c
# where the hardware has a fused multiply-add).
FLAGS = "-std=gnu99 -Os -Wall -Wextra -Werror"

libc = subprocess.run([CROSS, "-print-file-name=libc.a"], capture_output=True,
                      text=True).stdout.strip() if shutil.which(CROSS) else ""
if not os.path.isabs(libc) or not shutil.which("qemu-system-arm"):
    print("skipped: needs arm-none-eabi-gcc, newlib and qemu-system-arm "
          "(apt-get install gcc-arm-none-eabi libnewlib-arm-none-eabi "
          "qemu-system-arm)")
    sys.exit(77)


def run(*args, timeout=120, **kwargs):
    return subprocess.run(args, capture_output=True, text=True,
                          timeout=timeout, **kwargs)


def bits(kind, v):
    """v's bit pattern as the driver prints it."""
    code = {"f": "<I", "d": "<Q"}[kind]
    return "%x" % struct.unpack(code, struct.pack("<" + kind, v))[0]


def shown(kind, text):
    """A printed value, and what its bits mean."""
    if kind == "i" or text == "-":
        return text
    code = {"f": "<I", "d": "<Q"}[kind]
    v = struct.unpack("<" + kind, struct.pack(code, int(text, 16)))[0]
    return f"{text} ({v!r})"


# The drivers print one line per abscissa: the table's index, the
# abscissa's, then each value, floating-point ones as their bits in hex.
OUTPUT = r"""#include <stdint.h>
#include <string.h>
#ifdef TARGET
void target_write(const char *text);
#else
#include <stdio.h>
static inline void target_write(const char *text) { fputs(text, stdout); }
#endif
static char line[512];
static unsigned used;
static inline void put_char(char ch) {
  if (used + 2 > sizeof line) {
    line[used] = 0;
    target_write(line);
    used = 0;
  }
  line[used++] = ch;
}
static inline void put_digits(uint64_t v, unsigned base) {
  char digits[24];
  int k = 0;
  do {
    digits[k++] = "0123456789abcdef"[v % base];
    v /= base;
  } while (v > 0);
  while (k > 0) {
    put_char(digits[--k]);
  }
}
static inline void put_unsigned(uint64_t v, unsigned base) {
  put_char(' ');
  put_digits(v, base);
}
static inline void put_int(int64_t v) {
  put_char(' ');
  if (v < 0) {
    put_char('-');
  }
  put_digits(v < 0 ? 0 - (uint64_t)v : (uint64_t)v, 10);
}
static inline void put_double(double v) {
  uint64_t b;
  memcpy(&b, &v, sizeof b);
  put_unsigned(b, 16);
}
static inline void put_float(float v) {
  uint32_t b;
  memcpy(&b, &v, sizeof b);
  put_unsigned(b, 16);
}
static inline double as_double(uint64_t b) {
  double v;
  memcpy(&v, &b, sizeof v);
  return v;
}
static inline float as_float(uint32_t b) {
  float v;
  memcpy(&v, &b, sizeof v);
  return v;
}
static inline void start(int table, unsigned i) {
  put_unsigned((uint64_t)table, 10);
  put_unsigned(i, 10);
}
static inline void end(void) {
  put_char('\n');
  line[used] = 0;
  target_write(line);
  used = 0;
}
"""

TABLE_H = r"""#include <knotfit/table.h>
@DATA@
int main(void) {
  unsigned t, i;
  size_t k, n;
  int e;
  for (t = 0; t < sizeof tables / sizeof *tables; ++t) {
    struct knotfit_table c;
    const uint64_t *at = tables[t].at;
    const unsigned m = tables[t].m;
    if (knotfit_table_view(tables[t].bytes, tables[t].size, &c) !=
        KNOTFIT_TABLE_OK) {
      return 1;
    }
    for (i = 0; i < m; ++i) {
      const double p = as_double(at[i]), q = as_double(at[m - 1 - i]);
      double roots[4];
      start((int)t, i);
      for (e = 0; e < 4; ++e) {
        const enum knotfit_extrapolation r = (enum knotfit_extrapolation)e;
        put_double(knotfit_table_at(&c, p, r));
        put_double(knotfit_table_derivative(&c, p, r));
        put_double(knotfit_table_second_derivative(&c, p, r));
        put_double(knotfit_table_integral(&c, p, q, r));
      }
      put_float(knotfit_table_atf(&c, (float)p));
      put_float(knotfit_table_atf_offset(&c, (float)(p - c.x0)));
      /* The inverse, slow in software floating point, at every 8th. */
      n = i % 8 != 0 ? 0
                     : knotfit_table_inverse(
                           &c, knotfit_table_at(&c, p, KNOTFIT_EXTRAPOLATE_CLAMP),
                           roots, 4);
      put_unsigned(n, 10);
      for (k = 0; k < n && k < 4; ++k) {
        put_double(roots[k]);
      }
      end();
    }
  }
  return 0;
}
"""
TABLE_H_VALUES = [(f"{what} ({rule})", "d") for rule in read_table.RULES
                  for what in ("S", "S'", "S''", "the integral to the mirror")
                  ] + [("atf", "f"), ("atf_offset", "f"),
                       ("the number of roots", "i")] + [
    (f"root {k}", "d") for k in range(1, 5)]

# The exported C: per --type, how the abscissas are stored, passed and the
# value printed.
EXPORTS = {"float": ("uint32_t", "as_float", "put_float", "f"),
           "double": ("uint64_t", "as_double", "put_double", "d"),
           "i32": ("int32_t", "", "put_int", "i"),
           "i16": ("int16_t", "", "put_int", "i")}

# A clean-room arm_spline_instance_f32 and arm_spline_f32 as documented: for
# query points in ascending order, segment i holds x[i] < xq <= x[i+1], 0
# also below x[1], n - 2 also beyond x[n-1].
CMSIS = r"""typedef float float32_t;
typedef enum {
  ARM_SPLINE_NATURAL = 0,
  ARM_SPLINE_PARABOLIC_RUNOUT = 1
} arm_spline_type;
typedef struct {
  arm_spline_type type;
  const float32_t *x;
  const float32_t *y;
  uint32_t n_x;
  float32_t *coeffs;
} arm_spline_instance_f32;
static void spline(const arm_spline_instance_f32 *s, const float32_t *xq,
                   float32_t *out, uint32_t count) {
  const uint32_t n = s->n_x;
  const float32_t *b = s->coeffs, *c = b + (n - 1), *d = c + (n - 1);
  uint32_t i = 0, k;
  for (k = 0; k < count; ++k) {
    float32_t dx;
    while (i + 2 < n && xq[k] > s->x[i + 1]) {
      ++i;
    }
    dx = xq[k] - s->x[i];
    out[k] = ((s->y[i] + b[i] * dx) + (c[i] * dx) * dx) +
             ((d[i] * dx) * dx) * dx;
  }
}
#include "cmsis.h"
static float32_t xq[@M@], out[@M@];
int main(void) {
  arm_spline_instance_f32 s;
  unsigned i;
@RUNS@  return 0;
}
"""
CMSIS_RUN = r"""  for (i = 0; i < sizeof at@K@ / sizeof *at@K@; ++i) {
    xq[i] = as_float(at@K@[i]);
  }
  t@T@_spline_init(&s);
  spline(&s, xq, out, i);
  for (i = 0; i < sizeof at@K@ / sizeof *at@K@; ++i) {
    start(@K@, i);
    put_float(out[i]);
    end();
  }
"""


def fit_tables(work):
    """One data set, fitted every way knotfit fits: (description, path)."""
    points = []
    for i in range(24):
        x = 3000 + 0.5 * i + 0.07 * (i % 3)
        y = 25 + 8 * math.sin(2 * math.pi * i / 23) + 0.3 * ((i * 7) % 5 - 2)
        points.append(f"{x:.4f} {y:.4f}")
    points[-1] = points[-1].split()[0] + " " + points[0].split()[1]  # periodic
    fits = [[f"-m{m}"] for m in ("not-a-knot", "natural", "clamped=0.5,-1",
                                 "periodic", "pchip", "akima", "makima",
                                 "steffen", "smooth")]
    fits += [["-msmooth", "--lambda=0.5"]] + [
        [f"-m{m}", "--tolerance=2%"]
        for m in ("not-a-knot", "pchip", "akima", "makima", "steffen")]
    jobs = []
    for form in ("classic", "offset", "double"):
        for options in fits:
            name = f"t{len(jobs)}"
            with open(f"{work}/{name}.txt", "w") as f:
                f.write("\n".join(points) + f"\nNAME {name}\n")
            jobs.append((" ".join(options + [f"--table={form}"]),
                         [knotfit, "-q", f"--kel={work}", "--mkdir", *options,
                          f"--table={form}", f"{work}/{name}.txt"],
                         f"{work}/CS/{name}"))
    for _, args, _ in jobs:
        r = run(*args)
        if r.returncode != 0:
            sys.exit(f"{' '.join(args)}: {r.returncode}\n{r.stderr}")
    tables = [(what, path) for what, _, path in jobs]
    # export_compiled.py's, under names the exported C takes as symbols.
    shutil.copy(f"{HERE}/data/cube.table", f"{work}/CS/t{len(tables)}")
    tables.append(("cube", f"{work}/CS/t{len(tables)}"))
    for source in ("cases/knotfit-export/wave.hex",
                   "cases/knotfit-export/collapsed.hex", "cube.offset.hex",
                   "cube.double.hex"):
        path = f"{work}/CS/t{len(tables)}"
        with open(f"{HERE}/data/{source}") as f, open(path, "wb") as out:
            out.write(from_hex(f.read()))
        tables.append((os.path.basename(source), path))
    return tables


def abscissas(table):
    """The knots, every fifth abscissa of the plot file, and one below and
    one beyond the knots."""
    xs = [table.x0 + x for x in table.x] if table.form != "classic" \
        else list(table.x)
    first, last = xs[0], xs[-1]
    step = struct.unpack("f", struct.pack("f", (last - first) / 500.0))[0]
    t, plot = first, []
    while t <= last and (t == first or step > 0):
        plot.append(t)
        if t + step == t:
            break
        t += step
    return xs + plot[::5] + [first - (last - first) / 7 - 1,
                             last + (last - first) / 5 + 1]


def array(ctype, name, values):
    rows = [", ".join(values[k:k + 8]) for k in range(0, len(values), 8)]
    return (f"static const {ctype} {name}[] = {{\n    " +
            ",\n    ".join(rows) + "};\n")


def table_h_program(tables):
    data = ""
    for k, (_, path, table, xs) in enumerate(tables):
        with open(path, "rb") as f:
            data += array("unsigned char", f"bytes{k}",
                          [str(b) for b in f.read()])
        data += array("uint64_t", f"at{k}",
                      [f"0x{bits('d', t)}u" for t in xs])
    data += ("static const struct {\n  const unsigned char *bytes;\n"
             "  size_t size;\n  const uint64_t *at;\n  unsigned m;\n"
             "} tables[] = {\n" + ",\n".join(
                 f"    {{bytes{k}, sizeof bytes{k}, at{k}, "
                 f"sizeof at{k} / sizeof *at{k}}}"
                 for k in range(len(tables))) + "};\n")
    return OUTPUT + TABLE_H.replace("@DATA@", data)


def export_program(kind, tables, work):
    """The exported C of every table under --type kind, and a main that
    evaluates each at its abscissas: about the origin in float and fixed
    point, as export_compiled.py passes them."""
    r = run(export, "--type", kind, *[path for _, path, _, _ in tables])
    if r.returncode != 0:
        sys.exit(f"--type {kind}: {r.returncode}\n{r.stderr}")
    with open(f"{work}/export_{kind}.h", "w") as f:
        f.write(r.stdout)
    ctype, take, put, how = EXPORTS[kind]
    source = OUTPUT + f'#include "export_{kind}.h"\nint main(void) {{\n  unsigned i;\n'
    for k, (_, path, table, xs) in enumerate(tables):
        x0 = table.x0 if kind != "double" else 0.0
        if how == "i":
            fx = int(re.search(f"t{k}_x_frac_bits = (-?\\d+)",
                               r.stdout).group(1))
            top = 1 << (31 if kind == "i32" else 15)
            args = [str(min(max(round(math.ldexp(t - x0, fx)), -top),
                            top - 1)) for t in xs]
            args = [a if a != str(-top) else f"({1 - top} - 1)" for a in args]
        else:
            args = [f"0x{bits(how, t - x0)}u" for t in xs]
        source += "  " + array(ctype, f"at{k}", args).replace("\n", "\n  ")
        source += (f"for (i = 0; i < sizeof at{k} / sizeof *at{k}; ++i) {{\n"
                   f"    start({k}, i);\n    {put}(t{k}_value({take}(at{k}[i])"
                   f"));\n    end();\n  }}\n")
    return source + "  return 0;\n}\n"


def cmsis_program(tables, work):
    """--layout=cmsis of the classic tables, evaluated at their abscissas in
    ascending order; the tables in the order of the program's indices, and
    the bound of the difference stated for each."""
    tables = [(what, path, table, sorted(xs))
              for what, path, table, xs in tables if table.form == "classic"]
    r = run(export, "--layout=cmsis", *[path for _, path, _, _ in tables])
    if r.returncode != 0:
        sys.exit(f"--layout=cmsis: {r.returncode}\n{r.stderr}")
    with open(f"{work}/cmsis.h", "w") as f:
        f.write(r.stdout)
    stated = [float(m) for m in re.findall(
        r"largest difference at most (\S+) ", r.stderr)]
    if len(stated) != len(tables):
        sys.exit(f"--layout=cmsis: a bound missing\n{r.stderr}")
    data, runs = "", ""
    for k, (_, path, _, xs) in enumerate(tables):
        data += array("uint32_t", f"at{k}", [f"0x{bits('f', t)}u" for t in xs])
        runs += CMSIS_RUN.replace("@K@", str(k)).replace(
            "@T@", os.path.basename(path)[1:])
    m = max(len(xs) for _, _, _, xs in tables)
    return (OUTPUT + data + CMSIS.replace("@M@", str(m)).replace(
        "@RUNS@", runs), tables, stated)


def within(board, tables, stated, got):
    """Every value got is within the stated bound of the difference from
    the table's value at the abscissa, in the knots' range."""
    for line in got:
        t, i, v = line.split()
        what, path, table, xs = tables[int(t)]
        x = xs[int(i)]
        value = struct.unpack("<f", struct.pack("<I", int(v, 16)))[0]
        d = abs(value - table.value(x))
        if table.x[0] <= x <= table.x[-1] and d > stated[int(t)]:
            sys.exit(f"--layout=cmsis contracted on {board}: table {what} at "
                     f"x = {x!r}: {v} ({value!r}) is {d!r} from "
                     f"{table.value(x)!r}, beyond the stated "
                     f"{stated[int(t)]!r}")


def build(name, work, board=None, flags=""):
    """work/name.c built for the host, or for board (a pair of BOARDS)."""
    if board is None:
        r = run("cc", *FLAGS.replace("-Os", "-O2").split(), "-ffp-contract=off",
                f"-I{include}", f"{work}/{name}.c", "-o", f"{work}/{name}")
    else:
        r = run(CROSS, "-mthumb", *board[1].split(), *FLAGS.split(),
                *flags.split(), "-DTARGET", "-ffunction-sections", "-fdata-sections",
                "-nostartfiles", "-Wl,--gc-sections", f"-L{TARGET}",
                f"-T{board[0]}.ld", f"-I{include}", f"{TARGET}/startup.c",
                f"{work}/{name}.c", "-lc", "-lgcc",
                "-o", f"{work}/{name}-{board[0]}{flags.strip()}")
    if r.returncode != 0 or r.stderr:
        sys.exit(f"{name} for {board[0] if board else 'the host'}:\n"
                 f"{r.stderr[:3000]}")
    return f"{work}/{name}" + (f"-{board[0]}{flags.strip()}" if board else "")


def execute(program, board=None):
    """The lines program printed, run on the host or under QEMU (whose
    semihosting console is a file, apart from its own messages)."""
    out = f"{program}.out"
    if board is None:
        r = run(program)
        text = r.stdout
    else:
        r = run("qemu-system-arm", "-M", board[0], "-nographic", "-monitor",
                "none", "-serial", "none", "-chardev",
                f"file,id=out,path={out}", "-semihosting-config",
                "enable=on,target=native,chardev=out", "-kernel", program,
                timeout=240)
        with open(out) as f:
            text = f.read()
    if r.returncode != 0:
        sys.exit(f"{program}: status {r.returncode}\n{text[-2000:]}"
                 f"{r.stderr[-2000:]}")
    return text.splitlines()


def compare(reader, board, tables, labels, got, want):
    """Every line of got is want's, else the first difference, named."""
    for g, w in zip(got, want):
        if g == w:
            continue
        gs, ws = g.split(), w.split()
        t, i = int(ws[0]), int(ws[1])
        what, path, table, xs = tables[t]
        k = next((k for k in range(2, max(len(gs), len(ws)))
                  if k >= len(gs) or k >= len(ws) or gs[k] != ws[k]), 2)
        label, kind = labels[min(k - 2, len(labels) - 1)]
        sys.exit(f"{reader} on {board}: table {what} ({os.path.basename(path)})"
                 f" at x = {xs[i]!r}: {label} is "
                 f"{shown(kind, gs[k] if k < len(gs) else '-')} on the target, "
                 f"{shown(kind, ws[k] if k < len(ws) else '-')} on the host "
                 f"(bits in hex)")
    if len(got) != len(want):
        sys.exit(f"{reader} on {board}: {len(got)} lines, wanted {len(want)}")


with tempfile.TemporaryDirectory() as work, \
        ThreadPoolExecutor(os.cpu_count()) as pool:
    tables = []
    for what, path in fit_tables(work):
        table = read_table.load(path)
        tables.append((what, path, table, abscissas(table)))
    # (reader, source, labels, its tables, flags for the target)
    programs = [("table.h", table_h_program(tables), TABLE_H_VALUES, tables,
                 "")]
    for kind in EXPORTS:
        programs.append((f"--type {kind}", export_program(kind, tables, work),
                         [("the value", EXPORTS[kind][3])], tables, ""))
    source, classic, stated = cmsis_program(tables, work)
    programs.append(("--layout=cmsis", source, [("the value", "f")], classic,
                     "-ffp-contract=off"))
    for k, program in enumerate(programs):
        with open(f"{work}/p{k}.c", "w") as f:
            f.write(program[1])
    host = list(pool.map(lambda k: execute(build(f"p{k}", work)),
                         range(len(programs))))

    def check(k, board):
        reader, _, labels, its, flags = programs[k]
        got = execute(build(f"p{k}", work, board, flags), board)
        compare(reader, board[0], its, labels, got, host[k])

    def contracted(board):
        """The CMSIS formula as GCC compiles it by default: fused on the
        M4F, which the program must show."""
        program = build(f"p{len(programs) - 1}", work, board)
        code = run("arm-none-eabi-objdump", "-d", program).stdout
        if ("vfma" in code) != ("fpv4" in board[1]):
            sys.exit(f"--layout=cmsis on {board[0]}: fused multiply-adds "
                     f"{'missing' if 'fpv4' in board[1] else 'found'}")
        within(board[0], classic, stated, execute(program, board))

    jobs = [pool.submit(check, k, board)
            for k in range(len(programs)) for board in BOARDS]
    jobs += [pool.submit(contracted, board) for board in BOARDS]
    for job in jobs:
        job.result()
