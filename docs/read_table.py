import struct
import sys


def read_table(path):
    """Knots of a knotfit coefficient table, knot 0 first: (x, y, a, b, c)."""
    with open(path, "rb") as f:
        data = f.read()
    (n,) = struct.unpack_from(">i", data, 0)
    records = [struct.unpack_from(">5f", data, 4 + 20 * j) for j in range(n)]
    return records[::-1]  # the file holds the last knot first


def value(knots, t):
    """The spline at t, x[0] <= t <= x[n-1]."""
    k = max(i for i, knot in enumerate(knots[:-1]) if knot[0] <= t)
    x, y, a, b, c = knots[k]
    u = t - x
    return y + a * u + b * u**2 + c * u**3


if __name__ == "__main__":
    knots = read_table(sys.argv[1])
    for x, y, a, b, c in knots:
        print(f"{x:g} {y:g} {a:g} {b:g} {c:g}")
    print(f"S(2.5) = {value(knots, 2.5):g}")
