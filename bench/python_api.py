"""The Python module against the C++ API on the same work: the fit of
1,000,000 knots plus the evaluation at 1,000,000 sorted abscissas, numpy
arrays in and out (their conversion included), timed inside each process;
paired runs in alternating order, the median and spread of each and of the
ratio Python / C++.

    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKNOTFIT_BENCH=ON
    cmake --build build/bench -j 2
    /usr/bin/python3 bench/python_api.py build/bench [RUNS]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

build = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
sys.path.insert(0, os.path.join(build, "python"))
import knotfit  # noqa: E402

n = 1_000_000
rng = np.random.default_rng(21)
x = np.cumsum(rng.uniform(0.5, 1.5, n))
y = np.sin(x / 300) * 100 + rng.normal(0, 1, n)
t = np.linspace(x[0] - 10, x[-1] + 10, n)


def python_run():
    start = time.perf_counter()
    values = knotfit.fit(x, y)(t)
    took = time.perf_counter() - start
    return took, float(np.add.accumulate(values)[-1])  # summed in order


with tempfile.NamedTemporaryFile(suffix=".bin") as data:
    data.write(np.int64(n).tobytes() + x.tobytes() + y.tobytes() + t.tobytes())
    data.flush()

    def cpp_run():
        out = subprocess.run([os.path.join(build, "bench", "api_fit_eval"),
                              data.name], capture_output=True, text=True,
                             check=True, timeout=120).stdout.split()
        return float(out[0]), float(out[1])

    python_run(), cpp_run()  # warm the caches and the page tables
    pairs = []
    for i in range(runs):
        order = (python_run, cpp_run) if i % 2 else (cpp_run, python_run)
        (a, sa), (b, sb) = (f() for f in order)
        if sa != sb:
            sys.exit(f"the sums of the values differ: {sa!r} and {sb!r}")
        pairs.append((a, b) if i % 2 else (b, a))


def show(name, values, unit="s"):
    print(f"{name:>14}: median {statistics.median(values):.4f} {unit}, "
          f"range {min(values):.4f} to {max(values):.4f}")


show("Python", [p for p, _ in pairs])
show("C++", [c for _, c in pairs])
show("Python / C++", [p / c for p, c in pairs], "x")
