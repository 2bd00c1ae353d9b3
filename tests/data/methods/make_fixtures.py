#!/usr/bin/python3
"""Writes scipy.txt beside this script: reference fits for tests/methods_test.cpp.

Needs SciPy (Debian: apt-get install python3-scipy, SciPy 1.10). Run it from
anywhere with /usr/bin/python3; it rewrites scipy.txt and prints nothing.

Every fit is written as SciPy computes it: knots x, y and, per knot, the slope
a and the quadratic and cubic coefficients b and c of the segment starting
there (b and c of the last knot are 0). SciPy stores only the segments, so the
last slope is the derivative of the last segment at its right end.
Cases where SciPy refuses the data are written as the message knotfit gives;
this script checks that SciPy does refuse them.
"""
import math
import os

import numpy as np
import scipy
from scipy.interpolate import Akima1DInterpolator, CubicSpline, PchipInterpolator

SENSOR_X = [0, 1, 2, 3, 3.5, 4, 5, 6, 7, 8]  # maps/monotone
SENSOR_Y = [0, 0, 0.01, 0.05, 0.5, 0.95, 0.99, 1, 1, 1]
UNEVEN_X = [0, 0.3, 1.1, 1.5, 2.9, 3.0, 4.2, 5.0]
UNEVEN_Y = [1.0, 2.2, 0.4, -0.7, 0.3, 0.25, 1.8, 1.1]
WAVE_X = [0, 0.4, 1.5, 2.2, 3.1, 3.5, 4.6, 5.3, 2 * math.pi]

DATA = {  # name: (x, y); the ones that end where they start are for periodic
    "two": ([1, 3], [2, 6]),
    "three": ([-1, 0, 2], [4, 1, 7]),
    "four": ([0, 1, 3, 4], [0, 2, 1, 3]),
    "five": ([0, 0.5, 1.5, 2, 4], [2, 1, 1.5, 3, 2.5]),
    "uneven": (UNEVEN_X, UNEVEN_Y),
    "sensor": (SENSOR_X, SENSOR_Y),
    "flat-runs": ([0, 1, 2, 3, 4, 5, 6, 7, 8], [1, 1, 1, 3, 3, 2, 2, 2, 4]),
    # Two equal secants on each side of knots 2 and 4: Akima's undefined case.
    "step": ([0, 1, 2, 3, 4, 5, 6], [0, 0, 0, 0.5, 1, 1, 1]),
    # At knot 3 the secant pairs on either side differ by 1e-8 and 2e-8: under
    # Akima's cut-off of 1e-9 of the largest weight (from the jump of 100).
    "near-tie": ([0, 1, 2, 3, 4, 5, 6], [0, 1, 1, 1 + 1e-8, 1.5 + 1e-8, 2 + 3e-8, 102 + 3e-8]),
    # Secants of exactly 1 beside interior knots: pchip's harmonic mean there.
    "unit-secants": ([0, 1, 2, 3, 5], [0, 1, 3, 4, 6]),
    "closed-two": ([0, 2.5], [1.5, 1.5]),
    "closed-three": ([0, 0.5, 2], [1, 3, 1]),
    "closed-four": ([0, 1, 3, 4], [0, 2, -1, 0]),
    "closed-five": ([0, 0.5, 1.5, 2, 4], [2, 1, 1.5, 3, 2]),
    "closed-uneven": (UNEVEN_X, UNEVEN_Y[:-1] + [UNEVEN_Y[0]]),
    "closed-wave": (WAVE_X, [math.sin(t) for t in WAVE_X[:-1]] + [0.0]),
    # Ends 1 ulp apart: equal for SciPy (np.allclose with 1e-15), so fitted.
    "nearly-closed": ([0, 1, 2, 3], [1, 0.5, 2, 1 + 2**-52]),
}

METHODS = {  # knotfit's name: SciPy's interpolant
    "not-a-knot": lambda x, y: CubicSpline(x, y),
    "natural": lambda x, y: CubicSpline(x, y, bc_type="natural"),
    "clamped": lambda x, y: CubicSpline(x, y, bc_type="clamped"),
    "clamped=-1.5,0.75": lambda x, y: CubicSpline(x, y, bc_type=((1, -1.5), (1, 0.75))),
    "periodic": lambda x, y: CubicSpline(x, y, bc_type="periodic"),
    "pchip": PchipInterpolator,
    "akima": Akima1DInterpolator,
}

REFUSED = [  # (method, x, y, knotfit's message)
    ("periodic", [0, 1, 2], [0, 2, 1], "periodic needs the first and last y equal (0 and 1)"),
    ("periodic", [0, 1, 2, 3], [1, 0.5, 2, 1 + 2**-48],
     "periodic needs the first and last y equal (1 and 1.0000000000000036)"),
]


def numbers(values):
    return " ".join(repr(float(v)) for v in values)


def fit_case(method, name, x, y):
    f = METHODS[method](np.array(x, float), np.array(y, float))
    last_slope = f(x[-1], 1)  # the derivative of the last segment
    a = list(f.c[2]) + [last_slope]
    return [f"fit {method} {name}", f"x {numbers(x)}", f"y {numbers(y)}", f"a {numbers(a)}",
            f"b {numbers(list(f.c[1]) + [0])}", f"c {numbers(list(f.c[0]) + [0])}"]


def refused_case(method, x, y, message):
    try:
        METHODS[method](np.array(x, float), np.array(y, float))
    except ValueError:
        return [f"problem {method}", f"x {numbers(x)}", f"y {numbers(y)}", f"message {message}"]
    raise SystemExit(f"SciPy fits {method} through {y}: no refusal to check")


def main():
    blocks = [[
        f"# Reference fits from SciPy {scipy.__version__}, written by make_fixtures.py: do not edit.",
        "# 'fit METHOD NAME' then x, y and the slope a, quadratic b and cubic c per knot",
        "# (b and c of the last knot are 0); 'problem METHOD' then x, y and knotfit's message.",
    ]]
    for method in METHODS:
        for name, (x, y) in DATA.items():
            closed = name.startswith("closed") or name.startswith("nearly")
            if (method == "periodic") != closed or (method == "akima" and len(x) < 3):
                continue
            blocks.append(fit_case(method, name, x, y))
    blocks += [refused_case(*case) for case in REFUSED]
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scipy.txt")
    with open(path, "w") as out:
        out.write("\n\n".join("\n".join(block) for block in blocks) + "\n")


if __name__ == "__main__":
    main()
