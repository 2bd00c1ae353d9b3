"""Reads knotfit coefficient tables and evaluates their splines.

A table (CS/<name>) holds a big-endian int32 knot count n, then n records of
five big-endian binary32 values x, y, a, b, c, the last knot first. On the
segment from x[k] to x[k+1], S(t) = y[k] + a[k] u + b[k] u^2 + c[k] u^3 with
u = t - x[k]; outside the knots, S is the ordinate of the nearer end knot.

    import read_table
    table = read_table.load("CS/cube")
    table.value(2.5)              # 15.625
    table.values([0.5, 1.5, 7])   # many at once

The standard library suffices; where numpy can be imported, values() uses it
and returns a numpy array. Values are computed in double from the binary32
fields, grouped as ((a u + y) + (b u) u) + ((c u) u) u, so they are the same
to the last bit as those of knotfit_table_value() in knotfit/table.h.

As a script, `python3 read_table.py TABLE [T ...]` prints the knots, knot 0
first, then S(T) for every T.
"""
import bisect
import math
import struct
import sys

try:
    import numpy
except ImportError:
    numpy = None


class TableError(ValueError):
    """A malformed table: what is wrong, and at which byte."""


class Table:
    """The knots of a table, knot 0 first: tuples x, y, a, b, c."""

    def __init__(self, x, y, a, b, c):
        self.x, self.y, self.a, self.b, self.c = x, y, a, b, c

    def value(self, t):
        """S(t): the end ordinates outside [x[0], x[n-1]], NaN for a NaN t."""
        x = self.x
        if math.isnan(t):
            return math.nan
        if t <= x[0]:
            return self.y[0]
        if t >= x[-1]:
            return self.y[-1]
        # The first knot with x >= t ends the segment: an interior knot is
        # evaluated as the right end of the segment before it.
        k = bisect.bisect_left(x, t) - 1
        u = t - x[k]
        return (((self.a[k] * u + self.y[k]) + (self.b[k] * u) * u)
                + ((self.c[k] * u) * u) * u)

    def values(self, ts):
        """S at every t of ts: a list, or a numpy array where numpy is."""
        if numpy is None:
            return [self.value(t) for t in ts]
        x, y, a, b, c = (numpy.array(f)
                         for f in (self.x, self.y, self.a, self.b, self.c))
        t = numpy.asarray(ts, dtype=float)
        # Outside the knots k is -1 or n - 1, still indices; where() below
        # puts the end ordinates there.
        k = numpy.searchsorted(x, t) - 1
        with numpy.errstate(invalid="ignore", over="ignore"):  # t = +-inf
            u = t - x[k]
            s = ((a[k] * u + y[k]) + (b[k] * u) * u) + ((c[k] * u) * u) * u
        return numpy.where(t <= x[0], y[0], numpy.where(t >= x[-1], y[-1], s))


def parse(data):
    """The Table held in the bytes data; TableError if they are no table."""
    size = len(data)
    if size < 4:
        raise TableError(f"{size} bytes: no room for the knot count")
    (n,) = struct.unpack_from(">i", data, 0)
    if n < 1:
        raise TableError(f"knot count {n} at byte 0")
    if size != 4 + 20 * n:
        raise TableError(f"{size} bytes for {n} knots, which take {4 + 20 * n}")
    fields = struct.unpack_from(f">{5 * n}f", data, 4)
    for i, v in enumerate(fields):
        if not math.isfinite(v):
            name, knot = "xyabc"[i % 5], n - 1 - i // 5
            raise TableError(f"{name} of knot {knot} is {v} at byte {4 + 4 * i}")
    x, y, a, b, c = (fields[j::5][::-1] for j in range(5))
    for k in range(1, n):
        if not x[k] > x[k - 1]:
            raise TableError(f"x of knot {k} ({x[k]:g}) not above x of knot "
                             f"{k - 1} ({x[k - 1]:g}) at byte {4 + 20 * (n - 1 - k)}")
    return Table(x, y, a, b, c)


def load(path):
    """The Table in the file at path; TableError if it is no table."""
    with open(path, "rb") as f:
        return parse(f.read())


def main(args):
    if not args:
        print("usage: read_table.py TABLE [T ...]", file=sys.stderr)
        return 2
    try:
        table = load(args[0])
    except (OSError, TableError) as e:
        print(f"read_table.py: {args[0]}: {e}", file=sys.stderr)
        return 1
    try:
        ts = [float(arg) for arg in args[1:]]
    except ValueError as e:
        print(f"read_table.py: {e}", file=sys.stderr)
        return 1
    for knot in zip(table.x, table.y, table.a, table.b, table.c):
        print(" ".join(f"{v:g}" for v in knot))
    for arg, t in zip(args[1:], ts):
        print(f"S({arg}) = {table.value(t):.17g}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
