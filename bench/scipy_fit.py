"""Times SciPy's CubicSpline construction (not-a-knot) on 1,000,000 knots.

Used only by bench/run.sh, with Debian's python3-scipy; never by tests or CI.
Prints the median of several runs in seconds.
"""
import statistics
import sys
import time

import numpy as np
from scipy.interpolate import CubicSpline

n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
rng = np.random.default_rng(7)
x = np.cumsum(rng.uniform(0.5, 1.5, n))
y = rng.uniform(-100.0, 100.0, n)
times = []
for _ in range(5):
    start = time.perf_counter()
    CubicSpline(x, y, bc_type="not-a-knot")
    times.append(time.perf_counter() - start)
print(f"{statistics.median(times):.6f}")
