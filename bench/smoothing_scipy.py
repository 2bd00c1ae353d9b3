"""The smoothing spline against its targets and against SciPy's
make_smoothing_spline, in one run; each target prints its figures and PASS
or FAIL:

  Agreement  at a fixed lambda, the double fit at every knot and midpoint
             within 1e-12 of the y range of the exact minimiser (fractions),
             and tr A within 1e-12 of n; the binary32 table within its
             rounding of that; SciPy's error beside it, and SciPy compared
             with knotfit only where it is itself within 1e-9.
  GCV        the lambda GCV chose scores no worse than the best of a
             200-point logarithmic grid over the useful range, times
             1 + 1e-6.
  Speed      `knotfit -q -m smooth` as a whole process, files on tmpfs,
             paired runs in alternating order (medians and spread): 10^4
             noisy points with GCV against a Python script running SciPy's
             make_smoothing_spline on the same points (at least 20 times
             faster); 10^6 with GCV (at most 3 s, at most 200 bytes a point
             of peak memory, the child's maxrss); 10^6 at a given lambda
             (at most 0.5 s).
  Robust     x gaps over 12 orders of magnitude, lambda from 1e-12 to 1e12
             times the natural scale (x range)^3 * sum w, 10^6 points 1e-8
             apart (through the program where binary32 tells them apart,
             through the module where it does not): no failure, no NaN.

    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKNOTFIT_BENCH=ON
    cmake --build build/bench -j 2
    /usr/bin/python3 bench/smoothing_scipy.py build/bench [RUNS]

(any build with the module, the program and bench/measure will do).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from fractions import Fraction

import numpy as np

build = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
sys.path.insert(0, os.path.abspath(os.path.join(build, "python")))
os.environ["PYTHONPATH"] = sys.path[0]  # for the module's processes
import knotfit  # noqa: E402

try:
    from scipy.interpolate import make_smoothing_spline
except ImportError:
    make_smoothing_spline = None
program = os.path.join(build, "knotfit")
measure = os.path.join(build, "bench", "measure")
failed = []


def verdict(target, ok, text):
    print(f"  {target:<46} {text:<48} {'PASS' if ok else 'FAIL'}")
    if not ok:
        failed.append(target)


def noisy(n, seed, spacing="even"):
    rng = np.random.default_rng(seed)
    if spacing == "even":
        x = np.arange(n, dtype=float)
    elif spacing == "uneven":
        x = np.cumsum(rng.uniform(0.05, 2.0, n))
    else:  # gaps log-uniform over 12 orders of magnitude
        x = np.cumsum(10.0 ** rng.uniform(-6, 6, n))
    t = (x - x[0]) / (x[-1] - x[0])
    return x, np.sin(6 * np.pi * t) + rng.normal(0, 0.3, n)


def exact(x, y, w, lam, trace=False):
    """The minimiser at the knots and the midpoints in fractions, from
    Reinsch's characterisation: M g = Q'y, M = R + lam Q'W^-1 Q (five
    bands, eliminated in order), f = y - lam W^-1 Q g; and, if asked,
    tr A = n - lam sum_k (Q M^-1 Q')_kk / w_k."""
    x, y, w = ([Fraction(float(v)) for v in a] for a in (x, y, w))
    n, p, lam = len(x), len(x) - 2, Fraction(float(lam))
    h = [x[i + 1] - x[i] for i in range(n - 1)]
    q = [(1 / h[j], -1 / h[j] - 1 / h[j + 1], 1 / h[j + 1]) for j in range(p)]

    def qk(k, j):  # Q[k][j]
        return q[j][k - j] if 0 <= k - j <= 2 else 0

    m = [[Fraction(0)] * p for _ in range(p)]
    for i in range(p):
        for j in range(max(0, i - 2), min(p, i + 3)):
            m[i][j] = lam * sum(qk(k, i) * qk(k, j) / w[k]
                                for k in range(max(i, j), min(i, j) + 3))
            m[i][j] += (h[i] + h[i + 1]) / 3 if i == j else 0
            m[i][j] += h[max(i, j)] / 6 if abs(i - j) == 1 else 0

    def solve(rhs):  # M^-1 rhs, banded Gauss without pivoting (M is SPD)
        a, b = [row[:] for row in m], rhs[:]
        for c in range(p):
            for i in range(c + 1, min(p, c + 3)):
                f = a[i][c] / a[c][c]
                for j in range(c, min(p, c + 3)):
                    a[i][j] -= f * a[c][j]
                b[i] -= f * b[c]
        for c in reversed(range(p)):
            b[c] = (b[c] - sum(a[c][j] * b[j]
                               for j in range(c + 1, min(p, c + 3)))) / a[c][c]
        return b

    g = [0] + solve([sum(qk(k, j) * y[k] for k in range(j, j + 3))
                     for j in range(p)]) + [0]
    f = [y[k] - lam / w[k] * sum(qk(k, j) * g[j + 1]
                                 for j in range(max(0, k - 2), min(p, k + 1)))
         for k in range(n)]
    mid = [(f[i] + f[i + 1]) / 2 - h[i] ** 2 / 16 * (g[i] + g[i + 1])
           for i in range(n - 1)]
    tr = None
    if trace:
        tr = Fraction(n)
        for k in range(n):
            z = solve([qk(k, j) for j in range(p)])
            tr -= lam / w[k] * sum(qk(k, j) * z[j]
                                   for j in range(max(0, k - 2), min(p, k + 1)))
    return np.array([float(v) for v in f + mid]), tr


def agreement():
    print("Agreement (fixed lambda, against the exact minimiser)")
    rng = np.random.default_rng(5)
    cases = [("even", 200, None), ("uneven", 200, None),
             ("12 decades", 60, None), ("uneven", 120, "weights")]
    for spacing, n, weighted in cases:
        x, y = noisy(n, n, spacing)
        w = rng.uniform(0.1, 10, n) if weighted else np.ones(n)
        span = y.max() - y.min()
        for scale in (1e-12, 1e-9, 1e-5, 1e-2, 1e12):
            lam = scale * (x[-1] - x[0]) ** 3 * w.sum()
            want, tr = exact(x, y, w, lam, trace=n <= 60)
            s = knotfit.fit(x, y, "smooth", lam=lam, w=w)
            got = np.concatenate([s.y, s((x[1:] + x[:-1]) / 2)])
            err = np.abs(got - want).max() / span
            ok = err <= 1e-12
            text = f"{err:.1e} of the y range"
            if tr is not None:
                ok &= abs(s.df - float(tr)) <= 1e-12 * n
                text += f", tr A off {abs(s.df - float(tr)):.0e}"
            rounded = np.abs(s.y.astype(np.float32) - want[:n])
            ulp = np.spacing(np.abs(want[:n]).astype(np.float32)) / 2
            ok &= bool(np.all(rounded <= ulp + 1e-12 * span))
            if make_smoothing_spline is not None:
                theirs = make_smoothing_spline(x, y, w, lam)(x)
                off = np.abs(theirs - want[:n]).max() / span
                text += f"; SciPy {off:.0e}"
                if off <= 1e-9:
                    ok &= np.abs(theirs - s.y).max() / span <= 2e-9
            verdict(f"{spacing} n={n}{' weighted' if weighted else ''} "
                    f"lambda={scale:g} L^3 sum w", ok, text)


def gcv():
    print("GCV (the chosen lambda against a 200-point grid)")
    for spacing, n in [("even", 1000), ("uneven", 1000), ("12 decades", 300),
                       ("uneven", 10000)]:
        x, y = noisy(n, n + 1, spacing)
        chosen = knotfit.fit(x, y, "smooth")
        # The useful range: from where df is n - 1e-3 to where it is
        # 2 + 1e-3, widened by 10^3 at each end.
        lo = knotfit.fit(x, y, "smooth", lam=("df", n - 1e-3)).lam / 1e3
        hi = knotfit.fit(x, y, "smooth", lam=("df", 2 + 1e-3)).lam * 1e3
        grid = min(knotfit.fit(x, y, "smooth", lam=v).gcv
                   for v in np.geomspace(lo, hi, 200))
        verdict(f"{spacing} n={n}", chosen.gcv <= grid * (1 + 1e-6),
                f"GCV {chosen.gcv:.9g}, grid {grid:.9g} (df {chosen.df:.1f})")


def write_points(path, x, y):
    with open(path, "w") as f:
        f.write("".join(f"{a!r} {b!r}\n" for a, b in zip(x.tolist(), y.tolist())))
        f.write("NAME d\n")


def smooth(path, lam=None):
    """The command that smooths the points in path (lambda by GCV, or lam)."""
    return [program, "-q", "-m", "smooth"] + (
        [f"--lambda={lam!r}"] if lam is not None else []) + [path]


# SciPy at its best: OpenBLAS picks its own kernel (the machine's settings
# of OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE slow a current numpy).
SCIPY_ENV = {k: v for k, v in os.environ.items()
             if k not in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")}


def run(command, kel, env=os.environ):
    """Wall seconds, peak resident bytes and CPU seconds of one whole
    process, started by bench/measure: a child of this process would count
    this one's memory, which it holds until its exec, in its peak."""
    done = subprocess.run([measure, os.devnull] + command,
                          env=dict(env, TROV_KEL=kel), capture_output=True,
                          text=True, timeout=600)
    wall, rss, status, cpu = done.stdout.split()
    if done.returncode != 0 or status != "0":
        sys.exit(f"{command} failed: {done.stderr}")
    return float(wall), int(rss) * 1024, float(cpu)


def spread(values):
    return f"{statistics.median(values):.3f} s ({min(values):.3f}-{max(values):.3f})"


SCIPY_SCRIPT = """import sys, numpy as np
from scipy.interpolate import make_smoothing_spline
x, y = np.loadtxt(sys.argv[1], max_rows=int(sys.argv[2]), unpack=True)
spline = make_smoothing_spline(x, y)
np.save(sys.argv[3], np.array([spline.c]))
"""


def speed(work):
    load = ", ".join(f"{v:.1f}" for v in os.getloadavg())
    print(f"Speed (whole processes on {work}, {runs} paired runs; "
          f"load average {load} on {os.cpu_count()} cores)")
    kel = os.path.join(work, "kel")
    os.makedirs(os.path.join(kel, "CS", "plot"))
    files = {}
    for n in (10**4, 10**6):
        files[n] = os.path.join(work, f"in{n}")
        write_points(files[n], *noisy(n, 9))
    small = smooth(files[10**4])
    if make_smoothing_spline is not None:
        script = [sys.executable, "-c", SCIPY_SCRIPT, files[10**4], "10000",
                  os.path.join(work, "scipy.npy")]
        ours, theirs = [], []
        for r in range(runs + 1):
            pair = [(ours, small), (theirs, script)]
            for times, command in pair if r % 2 else pair[::-1]:
                took = run(command, kel,
                           SCIPY_ENV if command is script else os.environ)[0]
                if r > 0:  # the first pair warms the caches
                    times.append(took)
        ratio = statistics.median(t / o for o, t in zip(ours, theirs))
        verdict("10^4 points, GCV, against SciPy", ratio >= 20,
                f"{ratio:.0f}x: {spread(ours)} vs {statistics.median(theirs):.2f} s")
    else:
        print("  (SciPy not installed: no comparison)")
    big = smooth(files[10**6])
    fixed = smooth(files[10**6], 1e15)
    figures = {"gcv": [], "fixed": []}  # (wall, peak, cpu) per run
    for r in range(runs):
        for command, key in ((big, "gcv"), (fixed, "fixed")):
            figures[key].append(run(command, kel))
    for key, what, most in (("gcv", "GCV", 3.0),
                            ("fixed", "lambda given (1e15)", 0.5)):
        wall, _, cpu = zip(*figures[key])
        verdict(f"10^6 points, {what}", statistics.median(wall) <= most,
                f"{spread(wall)}, CPU {statistics.median(cpu):.2f} s")
    per_point = max(peak for _, peak, _ in figures["gcv"]) / 10**6
    verdict("10^6 points, GCV, peak memory", per_point <= 200,
            f"{per_point:.0f} bytes a point")


def robust(work):
    print("Robust (no failure, no NaN)")
    x, y = noisy(2000, 3, "12 decades")
    scale = (x[-1] - x[0]) ** 3 * len(x)
    fits = [knotfit.fit(x, y, "smooth", lam=f * scale)
            for f in 10.0 ** np.arange(-12, 13)] + [knotfit.fit(x, y, "smooth")]
    verdict("gaps over 12 decades, lambda 1e-12..1e12 L^3 n",
            all(np.all(np.isfinite(s.y)) and np.all(np.isfinite(s.a)) for s in fits),
            f"{len(fits)} fits, df {fits[-1].df:.1f} by GCV")
    n = 10**6
    y = noisy(n, 4)[1]
    kel = os.path.join(work, "kel")
    path = os.path.join(work, "close")
    write_points(path, np.arange(n) * 1e-8, y)
    run(smooth(path), kel)
    table = knotfit.read_table(os.path.join(kel, "CS", "d"))
    ok = np.all(np.isfinite(table.y)) and len(table) == n
    verdict("10^6 points 1e-8 apart, the program", bool(ok),
            f"{len(table)} knots, all finite")
    s = knotfit.fit(1 + np.arange(n) * 1e-8, y, "smooth")
    ok = np.all(np.isfinite(s.y)) and np.all(np.isfinite(s.a))
    verdict("10^6 points 1e-8 apart from 1, the module", bool(ok),
            f"df {s.df:.1f}, lambda {s.lam:.3g}")


scratch = "/dev/shm" if os.path.isdir("/dev/shm") else None
work = tempfile.mkdtemp(prefix="knotfit-smooth.", dir=scratch)
try:
    agreement()
    gcv()
    speed(work)
    robust(work)
finally:
    shutil.rmtree(work)
print(f"{len(failed)} targets missed" + (": " + ", ".join(failed) if failed else ""))
sys.exit(1 if failed else 0)
