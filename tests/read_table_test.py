"""docs/read_table.py on tables knotfit wrote and on the cube's tables of
the offset and double forms (tests/data): as a script and as a module, every
result the same as knotfit-eval's (the C++ reader), and both bounded on
endless input.
    python3 read_table_test.py KNOTFIT KNOTFIT_EVAL DOCS_DIR"""
import math
import os
import resource
import struct
import subprocess
import sys
import tempfile

knotfit, evaluate, docs = sys.argv[1:4]
sys.path.insert(0, docs)
sys.dont_write_bytecode = True  # nothing written into the source tree
import read_table  # noqa: E402

MAGIC = b"\x8bKFT"


def run(*args, timeout=30, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout,
                          **kwargs)


def check(what, got, want):
    if got != want:
        sys.exit(f"{what}:\n{got!r}\nwanted\n{want!r}")


def hex_file(name):
    """The bytes of a hand-written hex file of tests/data."""
    with open(os.path.join(os.path.dirname(__file__), "data", name)) as f:
        return bytes.fromhex("".join(line.split("#")[0] for line in f))


with tempfile.TemporaryDirectory() as kel:
    os.makedirs(f"{kel}/CS/plot")
    with open(f"{kel}/input", "w") as f:  # the cube, and the cube on 10..14
        f.write("0 0 1 1 2 8 3 27 4 64 NAME cube\n"
                "10 0 11 1 12 8 13 27 14 64 NAME far\n"
                "0 0 1 3 2 -1 3 2 4 -2 5 0 NAME wave\n")
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
    forms = []
    for form in ("offset", "double"):
        forms.append(f"{kel}/{form}")
        with open(forms[-1], "wb") as f:
            f.write(hex_file(f"cube.{form}.hex"))
    # The fields about y0 = 32; S(0.5) = 32 + (2^-50 - 31.875) = 0.125.
    check("offset", run(*script, forms[0], "2.5", "0.5", "-1").stdout,
          "offset form, x0 = 0.0, y0 = 32.0\n0 -32 1.77636e-15 -2.66454e-15 "
          "1\n1 -31 3 3 1\n2 -24 12 6 1\n3 -5 27 9 1\n4 32 48 0 0\n"
          "S(2.5) = 15.625\nS(0.5) = 0.125\nS(-1) = 0\n")
    r = run(*script, bad)
    check("malformed", (r.returncode, r.stdout, r.stderr.split(": ", 2)[2]),
          (1, "", "8 bytes for 1802399604 knots, which take 36047992084\n"))

    # values(): with numpy where it is installed, without it in any case.
    for path, start in ((far, 9.5), (forms[1], -0.5)):
        table = read_table.load(path)
        ts = [start + k / 61 for k in range(300)] + [-math.inf, math.inf, 1]
        want = [table.value(t) for t in ts]
        read_table.use_numpy = True
        check("values", list(table.values(ts)), want)
        read_table.use_numpy = False
        check("values without numpy", table.values(ts), want)
        check("nan", math.isnan(table.values([math.nan])[0]), True)

    # Every defect, as the C reader finds them.
    data = open(cube, "rb").read()
    for defect, at in [(data[:3], "no room"), (data[:103], "which take"),
                       (data + b"\0", "which take"),
                       (b"\xff\xff\xff\xfb" + data[4:], "count -5"),
                       (data[:100] + b"\x7f\xc0\0\0", "c of knot 0 is nan"),
                       (data[:24] + b"A\0\0\0" + data[28:], "x of knot 4 (4)"),
                       (MAGIC + b"\0\1", "header of 28"),
                       (MAGIC + b"\0\2" + bytes(22), "unknown version 2"),
                       (MAGIC + b"\0\1\0\3" + bytes(20), "unknown form 3"),
                       (MAGIC + b"\0\1\0\1\0\0\0\1\x7f\xf8" + bytes(14),
                        "x0 is nan at byte 12"),
                       (hex_file("cube.double.hex")[:-8] + b"\xff\xf0"
                        + bytes(6), "c of knot 0 is -inf at byte 220"),
                       (MAGIC + b"\0\1\0\2\0\0\0\2" + struct.pack(
                           ">12d", -2.0**1023, *[0] * 6, -2.0**1023, *[0] * 4),
                        "knot 0 is -8.98846567431158e"
                        "+307 at byte 68: x0 + x or the knots' span")]:
        try:
            read_table.parse(defect)
            sys.exit(f"accepted a table with '{at}'")
        except read_table.TableError as e:
            check("defect", at in str(e), True)

    # A read error of standard input ends it there, as an error: the
    # number it cut ("0.0" of "0.003") is not evaluated. The failing read is
    # the second of standard input, counted in a run without failures.
    # (LeakSanitizer cannot work under ptrace: it stays out of these runs.)
    strace = ["strace", "-o", f"{kel}/reads", "-e", "trace=read"]
    traced = dict(os.environ, ASAN_OPTIONS=os.environ.get(
        "ASAN_OPTIONS", "") + ":detect_leaks=0")
    if run(*strace[:3], "true").returncode == 0:
        with open(f"{kel}/xs", "w") as f:
            f.write("0.001 " * 682 + "0.003")
        with open(f"{kel}/xs") as f:
            run(*strace, evaluate, cube, stdin=f, env=traced)
        with open(f"{kel}/reads") as f:
            first = [line.startswith("read(0,") for line in f].index(True)
        with open(f"{kel}/xs") as f:
            r = run(*strace, "-e", f"inject=read:error=EIO:when={first + 2}+",
                    evaluate, cube, stdin=f, env=traced)
        check("read error", (r.returncode, len(r.stdout.splitlines()),
                             r.stderr), (1, 682, "knotfit-eval: error reading "
                                         "standard input: Input/output error\n"))

    # Every rule and result, against knotfit-eval; knots 1 and 2 of the
    # last table collapsed in binary32.
    with open(f"{kel}/collapsed", "wb") as f:
        f.write(bytes.fromhex("00000004" + "40000000 40a00000" + "00" * 12
                              + "3f800000 40a00000" + "00" * 12
                              + "3f800000 3f800000" + "00" * 12
                              + "00000000 00000000 3f800000" + "00" * 8))
    for path in (cube, f"{kel}/CS/wave", f"{kel}/collapsed", *forms):
        table = read_table.load(path)
        xs = sorted({-1.5, 5.5, 0.25, 2.75, math.pi}
                    | {table.x0 + t + d for t in table.x
                       for d in (-1e-9, 0, 1e-9)})
        for rule in read_table.RULES:
            r = run(evaluate, "--extrapolate", rule, "-ds", path,
                    *map(repr, xs))
            want = [(t, table.value(t, rule), table.derivative(t, rule),
                     table.second_derivative(t, rule)) for t in xs]
            check(f"{path} {rule}", repr([tuple(map(float, line.split()))
                                          for line in r.stdout.splitlines()]),
                  repr(want))
            for lo, hi in [(-2, 6), (0.3, 2.9), (4.5, -0.5), (1, 1.5)]:
                r = run(evaluate, "--extrapolate", rule, "--integral",
                        repr(lo), repr(hi), path)
                check(f"{path} {rule} {lo}..{hi}", repr(float(r.stdout)),
                      repr(table.integral(lo, hi, rule)))
        for v in {table.y0 + y for y in table.y} | {0.5, -0.25, 1.5}:
            r = run(evaluate, "--inverse", repr(v), path)
            roots = table.inverse(v)
            check(f"{path} inverse {v}", list(map(float, r.stdout.split())),
                  roots)
            for root in roots:  # S - v is 0 or changes sign there
                here = table.value(root) - v
                check(f"root {root}", any(
                    here * (table.value(math.nextafter(root, d)) - v) <= 0
                    for d in (-math.inf, math.inf)), True)
    table = read_table.load(f"{kel}/collapsed")
    check("collapsed", (table.value(1), table.value(1.5)), (1.0, 5.0))

    # Endless or huge input: refused or out of memory, within a few records.
    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (100 << 20, 100 << 20))
    huge = f"(printf '\\177\\377\\377\\377'; exec cat /dev/zero) | "
    sanitized = os.environ.get("KNOTFIT_SANITIZED")  # no room for the shadow
    readers = [script] + [[evaluate]] * (not sanitized)
    for reader in readers:
        tool = " ".join(reader)
        for command, problem in [
                (f"{tool} /dev/zero 1", "knot count 0 at byte 0"),
                (f"{huge}{tool} /dev/stdin 1", "/dev/stdin: out of memory")]:
            # Reading until memory runs out takes long on a loaded machine.
            r = run("sh", "-c", command, preexec_fn=limited, timeout=120)
            check(command, (r.returncode, problem in r.stderr,
                            "Traceback" in r.stderr), (1, True, False))
