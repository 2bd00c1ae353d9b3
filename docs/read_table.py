"""Reads knotfit coefficient tables and evaluates their splines.

A classic table (CS/<name>) holds a big-endian int32 knot count n, then n
records of five big-endian binary32 values x, y, a, b, c, the last knot
first. On the segment from x[k] to x[k+1], S(t) = y[k] + a[k] u + b[k] u^2 +
c[k] u^3 with u = t - x[k]. Consecutive knots may share an x (knots that
collapsed in binary32): that segment has zero width and is never used, as
the segment of t is the one ending at the first knot with x >= t.

The offset and double forms start with a 28-byte header (the magic bytes
8B 4B 46 54, the version 1 and the form, 1 offset or 2 double, as uint16,
n, then the origin x0 and y0 as binary64) and store x - x0, y - y0, a, b, c
in binary32 (offset) or binary64 (double). S(t) is then y0 plus the cubic
of those fields at t - x0; table.form, table.x0 and table.y0 tell them
(0 for the classic form), table.x, table.y, ... hold the fields as stored.

    import read_table
    table = read_table.load("CS/cube")
    table.value(2.5)                    # 15.625
    table.value(5, "linear")            # beyond the knots: clamp (the end
                                        # ordinates, the default), linear,
                                        # cubic or nan
    table.derivative(2.5), table.second_derivative(2.5)
    table.integral(0, 4)                # 64
    table.inverse(15.625)               # [2.5]: every x with S(x) = 15.625
    table.values([0.5, 1.5, 7])         # many at once

The standard library suffices; where numpy can be imported, values() uses it
and returns a numpy array. Results are computed in double from the binary32
fields, grouped as knotfit/table.h groups them, so they are the same to the
last bit as those of table.h, the C++ knotfit::Table and knotfit-eval.

As a script, `python3 read_table.py TABLE [T ...]` prints the form and the
origin of an offset or double table, the knots (the fields as stored), knot
0 first, then S(T) for every T.
"""
import array
import bisect
import io
import math
import operator
import struct
import sys

RULES = ("clamp", "linear", "cubic", "nan")
MAGIC = b"\x8bKFT"
FORMS = {1: "offset", 2: "double"}  # by their codes in the header
use_numpy = True  # values() imports numpy, where it is installed


class TableError(ValueError):
    """A malformed table: what is wrong, and at which byte."""


class Table:
    """The knots of a table, knot 0 first: sequences x, y, a, b, c, as stored
    (relative to x0 and y0 for the offset and double forms)."""

    def __init__(self, x, y, a, b, c, form="classic", x0=0.0, y0=0.0):
        self.x, self.y, self.a, self.b, self.c = x, y, a, b, c
        self.form, self.x0, self.y0 = form, x0, y0

    def _level(self, y):
        """An ordinate of the fields as S has it: no addition for the
        classic form (0 + -0 would be +0)."""
        return y if self.form == "classic" else self.y0 + y

    def _at(self, t):
        """An abscissa of S as the fields have it."""
        return t if self.form == "classic" else t - self.x0

    def _knot(self, k):
        """Knot k's abscissa as S has it."""
        return self.x[k] if self.form == "classic" else self.x0 + self.x[k]

    def _segment(self, t):
        """The segment of t, x[0] < t <= x[-1]: from the knot before the
        first knot with x >= t."""
        return bisect.bisect_left(self.x, t, 1, len(self.x) - 1) - 1

    def _end_segment(self, end):
        """The segments at the ends that have a width."""
        if end == 0:
            return bisect.bisect_right(self.x, self.x[0], 1, len(self.x) - 1) - 1
        return self._segment(self.x[-1])

    def _poly(self, order, k, u):
        y, a, b, c = self.y[k], self.a[k], self.b[k], self.c[k]
        if order == 0:
            return ((a * u + y) + (b * u) * u) + ((c * u) * u) * u
        if order == 1:
            return a + ((b + b) + (c * 3.0) * u) * u
        return (b + b) + (c * 6.0) * u

    def _primitive(self, k, u):
        y, a, b, c = self.y[k], self.a[k], self.b[k], self.c[k]
        return (((c / 4.0 * u + b / 3.0) * u + a / 2.0) * u + y) * u

    def _clamped(self, t):
        x = self.x
        if math.isnan(t):
            return math.nan
        if t <= x[0]:
            return self.y[0]
        if t >= x[-1]:
            return self.y[-1]
        k = self._segment(t)
        return self._poly(0, k, t - x[k])

    def _beyond(self, order, end, p, q, rule, integral):
        """S, S' or S'' beyond the end knot at p, or the integral from p to
        q."""
        ye, ae, xe = self.y[end], self.a[end], self.x[end]
        if rule == "cubic" and self.x[0] < self.x[-1]:
            k = self._end_segment(end)
            if integral:
                return (self._primitive(k, q - self.x[k])
                        - self._primitive(k, p - self.x[k]))
            return self._poly(order, k, p - self.x[k])
        if rule in ("linear", "cubic"):
            if integral:
                return ((ae / 2.0 * (q - xe) + ye) * (q - xe)
                        - (ae / 2.0 * (p - xe) + ye) * (p - xe))
            return ae * (p - xe) + ye if order == 0 else ae if order == 1 else 0.0
        if rule == "nan":
            return math.nan
        return ye * (q - p) if integral else ye if order == 0 else 0.0

    def _derive(self, order, t, rule):
        if rule not in RULES:
            raise ValueError(f"unknown extrapolation {rule!r}")
        local = self._local(order, self._at(t), rule)
        return self._level(local) if order == 0 else local

    def _local(self, order, t, rule):
        """S, S' or S'' of the fields as they are."""
        x = self.x
        if math.isnan(t):
            return math.nan
        if t < x[0] or t > x[-1]:
            return self._beyond(order, 0 if t < x[0] else len(x) - 1, t, t,
                                rule, False)
        if order == 0:
            return self._clamped(t)
        if not x[0] < x[-1]:
            return 0.0  # a single point
        k = self._end_segment(0) if t == x[0] else self._segment(t)
        return self._poly(order, k, t - x[k])

    def value(self, t, extrapolate="clamp"):
        """S(t); beyond the knots as the rule says; NaN for a NaN t."""
        return self._derive(0, t, extrapolate)

    def derivative(self, t, extrapolate="clamp"):
        """S'(t); at the end knots the derivative from inside."""
        return self._derive(1, t, extrapolate)

    def second_derivative(self, t, extrapolate="clamp"):
        return self._derive(2, t, extrapolate)

    def integral(self, lo, hi, extrapolate="clamp"):
        """The integral of S from lo to hi (negative for hi < lo): for the
        offset and double forms, the fields' from lo - x0 to hi - x0, plus
        y0 (hi - lo)."""
        if extrapolate not in RULES:
            raise ValueError(f"unknown extrapolation {extrapolate!r}")
        if self.form == "classic":
            return self._integral(lo, hi, extrapolate)
        return (self._integral(lo - self.x0, hi - self.x0, extrapolate)
                + self.y0 * (hi - lo))

    def _integral(self, lo, hi, extrapolate):
        if hi < lo:
            return -self._integral(hi, lo, extrapolate)
        if math.isnan(lo) or math.isnan(hi):
            return math.nan
        x, total = self.x, 0.0
        first, last = x[0], x[-1]
        if lo < first:
            total += self._beyond(0, 0, lo, first if first < hi else hi,
                                  extrapolate, True)
        start = first if lo < first else lo
        to = last if last < hi else hi
        if start < to:
            k = self._segment(start)
            while True:
                end = x[k + 1] if x[k + 1] < to else to
                total += (self._primitive(k, end - x[k])
                          - self._primitive(k, start - x[k]))
                if end == to:
                    break
                start, k = end, k + 1
        if hi > last:
            total += self._beyond(0, len(x) - 1, last if lo < last else lo,
                                  hi, extrapolate, True)
        return total

    def inverse(self, v):
        """Every t in the knot range where S(t) = v, in increasing order:
        each is a double where S - v is 0 or changes sign towards a
        neighbouring double; a segment on which S is v throughout gives its
        two knots."""
        roots = []
        if math.isnan(v):
            return roots

        def add(r):
            if not roots or r > roots[-1]:
                roots.append(r)

        def g(order, k, t):
            t = self._at(t)
            if order == 0:
                return self._level(self._clamped(t)) - v
            return self._poly(order, k, t - self.x[k])

        def opposite(p, q):
            return (p < 0 < q) or (q < 0 < p)

        def zero(order, k, lo, hi):
            lo_negative = g(order, k, lo) < 0
            while True:
                mid = (lo + hi) / 2
                if not lo < mid < hi:
                    break
                gm = g(order, k, mid)
                if gm == 0:
                    return mid
                if (gm < 0) == lo_negative:
                    lo = mid
                else:
                    hi = mid
            return hi if abs(g(order, k, hi)) < abs(g(order, k, lo)) else lo

        x = self.x
        for k in range(len(x) - 1):
            if not x[k] < x[k + 1]:
                continue  # zero width
            left, right = self._knot(k), self._knot(k + 1)
            if (self.a[k] == self.b[k] == self.c[k] == 0
                    and self._level(self.y[k]) == v):
                add(left)
                add(right)
                continue
            # S'' cuts the segment where S' is monotone, S' where S is.
            cuts = [left, right]
            for order in (2, 1):
                i = 0
                while i + 1 < len(cuts):
                    if opposite(g(order, k, cuts[i]), g(order, k, cuts[i + 1])):
                        cuts.insert(i + 1, zero(order, k, cuts[i], cuts[i + 1]))
                        i += 1
                    i += 1
            for lo, hi in zip(cuts, cuts[1:]):
                if g(0, k, lo) == 0:
                    add(lo)
                elif opposite(g(0, k, lo), g(0, k, hi)):
                    add(zero(0, k, lo, hi))
        last = self._knot(len(x) - 1)
        if g(0, 0, last) == 0:
            add(last)
        return roots

    def values(self, ts):
        """S at every t of ts: a list, or a numpy array where numpy is."""
        try:
            import numpy
        except ImportError:
            numpy = None
        if numpy is None or not use_numpy:
            return [self.value(t) for t in ts]
        x, y, a, b, c = (numpy.array(f, dtype=float)
                         for f in (self.x, self.y, self.a, self.b, self.c))
        t = numpy.asarray(ts, dtype=float)
        with numpy.errstate(invalid="ignore", over="ignore"):  # t = +-inf
            if self.form != "classic":
                t = t - self.x0
            # Outside the knots k is -1 or n - 1, still indices; where()
            # below puts the end ordinates there.
            k = numpy.searchsorted(x, t) - 1
            u = t - x[k]
            s = ((a[k] * u + y[k]) + (b[k] * u) * u) + ((c[k] * u) * u) * u
            s = numpy.where(t <= x[0], y[0], numpy.where(t >= x[-1], y[-1], s))
            return s if self.form == "classic" else self.y0 + s


def read(f):
    """The Table in the binary file f, read record by record: no more than
    the size its count needs + 1 bytes, each record checked as it arrives,
    memory taken as records arrive (a MemoryError where there is none left).
    TableError if the bytes are no table."""
    head = f.read(4)
    if len(head) < 4:
        raise TableError(f"{len(head)} bytes: no room for the knot count")
    form, x0, y0, start, count_at = "classic", 0.0, 0.0, 4, 0
    if head == MAGIC:
        rest = f.read(24)
        if len(rest) < 24:
            raise TableError(f"{4 + len(rest)} bytes: no room for the header "
                             "of 28")
        version, code, n, x0, y0 = struct.unpack(">HHidd", rest)
        if version != 1:
            raise TableError(f"unknown version {version} at byte 4 (this "
                             "reader reads version 1)")
        if code not in FORMS:
            raise TableError(f"unknown form {code} at byte 6 (1 offset, 2 "
                             "double)")
        form, start, count_at = FORMS[code], 28, 8
    else:
        (n,) = struct.unpack(">i", head)
    if n < 1:
        raise TableError(f"knot count {n} at byte {count_at}")
    for name, v, at in (("x0", x0, 12), ("y0", y0, 20)):
        if not math.isfinite(v):
            raise TableError(f"{name} is {v} at byte {at}")
    kind = "d" if form == "double" else "f"
    size = 5 * struct.calcsize(kind)  # of a record
    layout = (start, size, n)
    fields = array.array(kind)  # as read: the last knot first
    last_x = math.inf
    for first in range(0, n, 4096):
        want = size * min(4096, n - first)
        chunk = f.read(want)
        values = struct.unpack(f">{len(chunk) // size * 5}{kind}",
                               chunk[:len(chunk) // size * size])
        xs = (last_x,) + values[0::5]
        if not (all(map(math.isfinite, values))
                and all(map(operator.le, xs[1:], xs))):
            _refuse(values, first, layout, last_x)
        fields.extend(values)
        last_x = xs[-1]
        if len(chunk) < want:
            raise TableError(f"{start + size * first + len(chunk)} bytes for "
                             f"{n} knots, which take {start + size * n}")
    if f.read(1):
        raise TableError(f"more than {start + size * n} bytes for {n} knots, "
                         f"which take {start + size * n}")
    x, y, a, b, c = (fields[j::5][::-1] for j in range(5))
    # x0 + x and the span of the knots must be doubles (x increases, so the
    # end knots decide).
    first, last = x0 + x[0], x0 + x[-1]
    if form != "classic" and not math.isfinite(last - first):
        k = n - 1 if math.isfinite(first) else 0
        raise TableError(f"x of knot {k} is {x[k]} at byte "
                         f"{start + size * (n - 1 - k)}: x0 + x or the knots' "
                         "span overflows a double")
    return Table(x, y, a, b, c, form, x0, y0)


def _refuse(values, first, layout, last_x):
    """Raises TableError for the first bad record of values, records first
    on of a table laid out as (start, record size, n)."""
    start, size, n = layout
    for j, record in enumerate(zip(*[iter(values)] * 5), first):
        for i, v in enumerate(record):
            if not math.isfinite(v):
                raise TableError(f"{'xyabc'[i]} of knot {n - 1 - j} is {v} "
                                 f"at byte {start + size * j + size // 5 * i}")
        if record[0] > last_x:
            raise TableError(f"x of knot {n - j} ({last_x:g}) below x of knot "
                             f"{n - 1 - j} ({record[0]:g}) at byte "
                             f"{start + size * (j - 1)}")
        last_x = record[0]


def parse(data):
    """The Table held in the bytes data; TableError if they are no table."""
    return read(io.BytesIO(data))


def load(path):
    """The Table in the file at path; TableError if it is no table."""
    with open(path, "rb") as f:
        return read(f)


def main(args):
    if not args:
        print("usage: read_table.py TABLE [T ...]", file=sys.stderr)
        return 2
    try:
        table = load(args[0])
    except (OSError, TableError) as e:
        print(f"read_table.py: {args[0]}: {e}", file=sys.stderr)
        return 1
    except MemoryError:
        print(f"read_table.py: {args[0]}: out of memory", file=sys.stderr)
        return 1
    try:
        ts = [float(arg) for arg in args[1:]]
    except ValueError as e:
        print(f"read_table.py: {e}", file=sys.stderr)
        return 1
    if table.form != "classic":
        print(f"{table.form} form, x0 = {table.x0!r}, y0 = {table.y0!r}")
    for knot in zip(table.x, table.y, table.a, table.b, table.c):
        print(" ".join(f"{v:g}" for v in knot))
    for arg, t in zip(args[1:], ts):
        print(f"S({arg}) = {table.value(t):.17g}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
