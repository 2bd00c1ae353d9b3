"""What each reader costs on a Cortex-M3 (soft float) and a Cortex-M4F (float
in hardware), built with arm-none-eabi-gcc -Os: the code of its evaluation
(one function that calls it, its .text with everything inlined or called
from knotfit's code, arm-none-eabi-size), the code with the floating-point
routines of libgcc it pulls in (the growth of a linked program over an
empty one), and its stack (the frames of those functions, -fstack-usage,
added up: a bound on the deepest call). The exported readers are of a
table of 24 knots, fitted by the knotfit beside KNOTFIT_EXPORT, whose data
the linked size includes. Prints a Markdown table for docs/performance.md.
    python3 bench/target_size.py KNOTFIT_EXPORT"""
import os
import re
import subprocess
import sys
import tempfile

export = sys.argv[1]
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
TARGET = os.path.join(ROOT, "tests", "target")
BOARDS = [("Cortex-M3", "lm3s6965evb", "-mcpu=cortex-m3"),
          ("Cortex-M4F", "mps2-an386",
           "-mcpu=cortex-m4 -mfloat-abi=hard -mfpu=fpv4-sp-d16")]
TABLE_H = "#include <knotfit/table.h>\n"
# (reader, includes, the function that evaluates, the call main makes)
READERS = [
    ("`knotfit_table_valuef` (float, decoded arrays)", TABLE_H,
     "float f(float x, int32_t n, const float *c[5]) {\n"
     "  return knotfit_table_valuef(x, n, c[0], c[1], c[2], c[3], c[4]);\n}",
     "f(vf, 2, c)"),
    ("`knotfit_table_atf_offset` (float, from the bytes)", TABLE_H,
     "float f(const struct knotfit_table *t, float x) {\n"
     "  return knotfit_table_atf_offset(t, x);\n}", "f(&t, vf)"),
    ("`knotfit_table_at` (double, from the bytes)", TABLE_H,
     "double f(const struct knotfit_table *t, double x, int e) {\n"
     "  return knotfit_table_at(t, x, (enum knotfit_extrapolation)e);\n}",
     "f(&t, vd, 1)"),
    ("`knotfit_table_integral`", TABLE_H,
     "double f(const struct knotfit_table *t, double p, double q, int e) {\n"
     "  return knotfit_table_integral(t, p, q,\n"
     "      (enum knotfit_extrapolation)e);\n}", "f(&t, vd, vd, 1)"),
    ("`knotfit_table_inverse`", TABLE_H,
     "size_t f(const struct knotfit_table *t, double v, double *r) {\n"
     "  return knotfit_table_inverse(t, v, r, 4);\n}", "f(&t, vd, r)"),
] + [(f"`--type {kind}` `NAME_value`", f'#include "export_{kind}.h"\n',
      f"{t} f({t} x) {{ return table_value(x); }}", f"f({v})")
     for kind, t, v in [("float", "float", "vf"), ("double", "double", "vd"),
                        ("i32", "int32_t", "vi"), ("i16", "int16_t", "vh")]] + [
    ("`--layout=cmsis` `NAME_spline_init`", '#include "cmsis_types.h"\n'
     '#include "cmsis.h"\n', "void f(arm_spline_instance_f32 *s) {\n"
     "  table_spline_init(s);\n}", "(f(&s), 0)")]
MAIN = r"""#include <stdint.h>
#include <string.h>
@INCLUDE@
@FUNCTION@
volatile float vf;
volatile double vd;
volatile int32_t vi;
volatile int16_t vh;
int main(void) {
  static const float *c[5];
  static struct knotfit_table t;
  static double r[4];
  static arm_spline_instance_f32 s;
  (void)c, (void)t, (void)r, (void)s;
  static volatile __typeof__(@CALL@) sink;
  sink = @CALL@;
  return 0;
}
"""
# What main needs declared for every reader.
TYPES = r"""#include <knotfit/table.h>
typedef struct {
  int type;
  const float *x, *y;
  uint32_t n_x;
  float *coeffs;
} arm_spline_instance_f32;
enum { ARM_SPLINE_NATURAL };
"""


def run(*args):
    r = subprocess.run(args, capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        sys.exit(f"{' '.join(args)}:\n{r.stderr}")
    return r.stdout


def text_size(obj):
    """The code of an object: its .text sections, arm-none-eabi-size -A."""
    return sum(int(size) for name, size in re.findall(
        r"^(\.text\S*)\s+(\d+)", run("arm-none-eabi-size", "-A", obj), re.M))


def linked(work, name, cflags, source):
    with open(f"{work}/{name}.c", "w") as f:
        f.write(source)
    elf = f"{work}/{name}.elf"
    run("arm-none-eabi-gcc", "-mthumb", *cflags.split(), "-Os", "-std=gnu99",
        "-DTARGET", "-ffunction-sections", "-fdata-sections", "-nostartfiles",
        "-Wl,--gc-sections", f"-L{TARGET}", f"-I{ROOT}/include", f"-I{work}",
        f"-T{BOARD_LD[cflags]}.ld", f"{TARGET}/startup.c",
        f"{work}/{name}.c", "-lc", "-lgcc", "-o", elf)
    return int(run("arm-none-eabi-size", elf).splitlines()[1].split()[0])


BOARD_LD = {flags: ld for _, ld, flags in BOARDS}

with tempfile.TemporaryDirectory() as work:
    # A table of 24 knots, exported every way, under the symbol "table".
    with open(f"{work}/in.txt", "w") as f:
        f.write("".join(f"{i} {(i * 7) % 11}\n" for i in range(24)) +
                "NAME table\n")
    run(os.path.join(os.path.dirname(export), "knotfit"), "-q",
        f"--kel={work}", "--mkdir", f"{work}/in.txt")
    for kind in ("float", "double", "i32", "i16"):
        with open(f"{work}/export_{kind}.h", "w") as f:
            f.write(run(export, "--type", kind, f"{work}/CS/table"))
    with open(f"{work}/cmsis.h", "w") as f:
        f.write(run(export, "--layout=cmsis", f"{work}/CS/table"))
    with open(f"{work}/cmsis_types.h", "w") as f:
        f.write("#include <stdint.h>\n" + TYPES.split("\n", 1)[1])
    with open(f"{work}/types.h", "w") as f:
        f.write(TYPES)
    print("| reader | " + " | ".join(
        f"{cpu}: code, with libgcc, stack" for cpu, _, _ in BOARDS) + " |")
    print("|---|" + "---|" * len(BOARDS))
    for k, (reader, include, function, call) in enumerate(READERS):
        cells = []
        for cpu, _, flags in BOARDS:
            source = f"#include <stdint.h>\n{include}{function}\n"
            with open(f"{work}/f{k}.c", "w") as f:
                f.write(source)
            obj = f"{work}/f{k}.o"
            run("arm-none-eabi-gcc", "-mthumb", *flags.split(), "-Os",
                "-std=gnu99", "-c", "-fstack-usage", f"-I{ROOT}/include",
                f"-I{work}", f"{work}/f{k}.c", "-o", obj)
            with open(f"{work}/f{k}.su") as f:
                stack = sum(int(line.split("\t")[1]) for line in f)
            main = MAIN.replace("@INCLUDE@", '#include "types.h"\n' + (
                include if "cmsis" not in include else
                '#include "cmsis.h"\n')).replace("@FUNCTION@", function)
            empty = MAIN.replace("@INCLUDE@", '#include "types.h"').replace(
                "@FUNCTION@", "").replace("@CALL@", "0")
            grown = linked(work, f"m{k}", flags, main.replace("@CALL@", call)) \
                - linked(work, f"e{k}", flags, empty)
            cells.append(f"{text_size(obj)} B, {grown} B, {stack} B")
        print(f"| {reader} | " + " | ".join(cells) + " |")
