"""The module knotfit against the program, knotfit-eval, SciPy and itself.
CTest (python.module) puts the module on PYTHONPATH and names the programs
and the build tree in KNOTFIT, KNOTFIT_EVAL, KNOTFIT_BUILD, KNOTFIT_CMAKE."""
import importlib.util
import json
import os
import struct
import subprocess
import sys
from fractions import Fraction

import numpy as np
import pytest

import knotfit

ENV = os.environ
RUN = dict(timeout=120, check=True, capture_output=True, text=True)
METHODS = ["not-a-knot", "natural", "clamped=0.5,-2", "periodic", "pchip",
           "akima", "makima", "steffen", "smooth"]
MODES = ["clamp", "linear", "cubic", "nan"]


def points(seed, n=40):
    rng = np.random.default_rng(seed)
    x = np.cumsum(rng.uniform(0.01, 2.0, n)) - 5
    y = rng.normal(0, 10, n)
    y[-1] = y[0]  # periodic needs it
    return x, y


def program_table(tmp_path, x, y, method="not-a-knot", options=()):
    """The table the program writes for the points."""
    (tmp_path / "CS" / "plot").mkdir(parents=True)
    text = "".join(f"{float(a)!r} {float(b)!r}\n" for a, b in zip(x, y))
    (tmp_path / "in").write_text(text + "NAME d\n")
    subprocess.run([ENV["KNOTFIT"], "-q", "-m", method, *options,
                    str(tmp_path / "in")],
                   env=dict(ENV, TROV_KEL=str(tmp_path)), **RUN)
    return tmp_path / "CS" / "d"


@pytest.mark.parametrize("method", METHODS)
def test_fit_writes_the_programs_bytes(tmp_path, method):
    x, y = points(len(method))
    table = program_table(tmp_path, x, y, method)
    name, _, slopes = method.partition("=")
    ends = [float(v) for v in slopes.split(",")] if slopes else None
    spline = knotfit.fit(list(x), y, name, ends)
    knotfit.write_table(spline, tmp_path / "mine")
    assert (tmp_path / "mine").read_bytes() == table.read_bytes()
    assert knotfit.fit(x, y, method).a.tobytes() == spline.a.tobytes()


@pytest.mark.parametrize("method, options, keywords", [
    ("pchip", ["--sort", "--ties=mean", "--missing=skip"],
     dict(sort=True, ties="mean", missing="skip")),
    ("pchip", ["--sort", "--ties=last"], dict(sort=True, ties="last")),
    ("pchip", ["--ties", "first"], dict(ties="first")),
    ("smooth", ["--sort", "--missing=skip", "--lambda=df:7"],
     dict(sort=True, missing="skip", lam=("df", 7))),
    ("pchip", ["--ties=mean", "--tolerance=0.5"], dict(ties="mean",
                                                     tolerance=0.5)),
    ("not-a-knot", ["--sort", "--ties=first", "--tolerance=20%"],
     dict(sort=True, ties="first", tolerance="20%")),
    ("smooth", ["--sort", "--tolerance=5%"], dict(sort=True, tolerance="5%")),
    ("pchip", ["--ties=last", "--relative-tolerance=0.2"],
     dict(ties="last", rtol=0.2)),
])
def test_fit_takes_data_as_measured_as_the_program(tmp_path, method, options,
                                                   keywords):
    rng = np.random.default_rng(7)
    x = np.round(rng.uniform(0, 10, 60), 1)  # settings read again and again
    y = rng.normal(0, 1, 60)
    if "sort" not in keywords:
        x.sort()
    x[5] = np.nan if "missing" in keywords else x[5]
    table = program_table(tmp_path, x, y, method, options)
    mine = knotfit.table_bytes(knotfit.fit(x, y, method, **keywords))
    assert mine == table.read_bytes()


# Abscissas binary32 cannot hold: 500 steps of 60 s in epoch seconds, 40
# years of months in decimal years; 272 years of months, beyond what the
# offset form's binary32 x - x0 keeps of a seasonal curve.
SERIES = {"epoch seconds": 1.7e9 + 60.0 * np.arange(501),
          "decimal years": 1980 + np.arange(480) / 12,
          "272 years": 1750 + np.arange(3264) / 12,
          "small integers": 3.0 * np.arange(40)}


def wave(x):
    i = np.arange(len(x))
    return 15 + 8 * np.sin(i / 40) + i / 9 + 6 * np.sin(i * np.pi / 6)


def origin_table(spline, form):
    """The spline's table of the offset or double form, laid out here as
    docs/format.md has it, independently of the library's encoder."""
    x, y = spline.x, spline.y
    x0, y0 = x[0], (y.min() + y.max()) / 2
    kind = "f" if form == "offset" else "d"
    head = struct.pack(">4sHHidd", b"\x8bKFT", 1, 1 + (kind == "d"), len(x),
                       x0, y0)
    return head + b"".join(
        struct.pack(f">5{kind}", x[k] - x0, y[k] - y0, spline.a[k],
                    spline.b[k], spline.c[k]) for k in reversed(range(len(x))))


# The program's tables of the newer forms are laid out as the format says,
# are the module's bytes, and keep the fit within 1e-6 (offset) and 1e-12
# (double) of the y range at every knot and midpoint.
@pytest.mark.parametrize("series, form", [
    ("random", "classic"), ("epoch seconds", "offset"),
    ("epoch seconds", "double"), ("decimal years", "offset"),
    ("decimal years", "double")])
def test_table_evaluates_as_the_library_and_the_reader(tmp_path, series, form):
    if form == "classic":
        x, y = points(1)
        path = program_table(tmp_path, x, y)
    else:
        x = SERIES[series]
        y = wave(x)
        path = program_table(tmp_path, x, y, options=["--table", form])
        spline = knotfit.fit(x, y)
        assert path.read_bytes() == origin_table(spline, form)
        assert path.read_bytes() == knotfit.table_bytes(spline, form=form)
        u = np.concatenate([x, (x[1:] + x[:-1]) / 2])
        off = np.abs(knotfit.read_table(path)(u) - spline(u)).max()
        assert off <= {"offset": 1e-6, "double": 1e-12}[form] * np.ptp(y)
    table = knotfit.read_table(path)
    assert (table.form, table.x0) == (form, 0.0 if form == "classic" else x[0])
    assert table.x.dtype == (np.float64 if form == "double" else np.float32)
    t = np.concatenate([x, (x[1:] + x[:-1]) / 2, [-1e9, x[0] - 1, 2e9]])
    out = subprocess.run([ENV["KNOTFIT_EVAL"], "-ds", str(path)],
                         input=" ".join(map(repr, t.tolist())), **RUN).stdout
    want = np.array([line.split() for line in out.splitlines()], dtype=float)
    assert table(t).tobytes() == want[:, 1].tobytes()
    assert table.derivative(t).tobytes() == want[:, 2].tobytes()
    assert table.derivative(t, 2).tobytes() == want[:, 3].tobytes()
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../docs"))
    import read_table
    reader = read_table.load(path)
    assert table(t).tobytes() == np.asarray(reader.values(t)).tobytes()
    assert table(t).tolist() == [reader.value(v) for v in t]
    assert table.derivative(t).tolist() == [reader.derivative(v) for v in t]
    lo, hi = float(x[3]) + 0.25, float(x[-5])
    out = subprocess.run([ENV["KNOTFIT_EVAL"], "--integral", repr(lo), repr(hi),
                          str(path)], **RUN).stdout
    assert table.integral(lo, hi) == reader.integral(lo, hi) == float(out)


@pytest.mark.parametrize("series, form", [
    ("small integers", "classic"), ("epoch seconds", "offset"),
    ("decimal years", "offset"), ("272 years", "double")])
def test_auto_writes_the_least_form_that_loses_nothing(tmp_path, series, form):
    x = SERIES[series]
    y = wave(x)
    report = tmp_path / "run.json"
    path = program_table(tmp_path, x, y,
                         options=["--table=auto", "--json", str(report)])
    entry = json.loads(report.read_text())["data_sets"][0]
    assert (entry["table"], entry["flags"]) == (form, [])
    assert path.read_bytes() == knotfit.table_bytes(knotfit.fit(x, y), form)


@pytest.mark.parametrize("reader", ["spline", "table"])
def test_numbers_arrays_and_scipy_agree(reader):
    pytest.importorskip("scipy")
    spline = knotfit.fit(*points(2))
    s = knotfit.read_table(knotfit.table_bytes(spline)) if reader == "table" \
        else spline
    p = s.to_ppoly()
    t = np.linspace(s.x[0] - 3, s.x[-1] + 3, 3000).reshape(3, 1000, 1)
    close = dict(rtol=1e-12, atol=1e-9)
    for mode in MODES:
        for order in (0, 1, 2):
            got = s(t, mode) if order == 0 else s.derivative(t, order, mode)
            assert got.shape == t.shape and got.dtype == np.float64
            v = float(t[1, 7, 0])
            one = s(v, mode) if order == 0 else s.derivative(v, order, mode)
            assert type(one) is float and one == got[1, 7, 0]
            inside = (t >= s.x[0]) & (t <= s.x[-1])
            np.testing.assert_allclose(got[inside], p(t[inside], order), **close)
    np.testing.assert_allclose(s(t, "cubic"), p(t), **close)
    end = s.x[-1] + 2
    assert s(end, "linear") == pytest.approx(s.y[-1] + 2 * s.a[-1], 1e-12)
    assert s(end) == s.y[-1] and np.isnan(s(end, "nan"))
    for lo, hi in [(s.x[0], s.x[-1]), (s.x[3] + 0.1, s.x[9]), (-20, 100)]:
        assert s.integral(lo, hi, "cubic") == pytest.approx(
            p.integrate(lo, hi), rel=1e-10)
        assert s.integral(hi, lo) == -s.integral(lo, hi)
    roots = s.inverse(1.5)
    assert len(roots) > 1 and np.all(np.diff(roots) > 0)
    np.testing.assert_allclose(s(roots), 1.5, atol=1e-9)
    assert len(s.inverse(1e9)) == 0
    x = s.x
    del s, spline  # the view keeps the data alive
    assert not x.flags.writeable and x[0] - 3 == t[0, 0, 0]


BAD = [
    (lambda: knotfit.fit([0, 2, 1, 3], [0, 1, 2, 3]), "x not increasing at"),
    (lambda: knotfit.fit([0, 1, 2], [0, np.nan, 1]), "y of point 1 is not"),
    (lambda: knotfit.fit([0], [0]), "1 point, at least 2"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1]), "3 x values but 2 y"),
    (lambda: knotfit.fit([[0, 1]], [[0, 1]]), "x must be one-dimensional"),
    (lambda: knotfit.fit(["0", "1"], [0, 1]), "x must be real numbers"),
    (lambda: knotfit.fit([0, 1], [0, 1j]), "y must be real numbers"),
    (lambda: knotfit.fit([0, [1, 2]], [0, 1]), "x must be"),
    (lambda: knotfit.fit([0, 1], [0, 1], "cubic"), "unknown method 'cubic'"),
    (lambda: knotfit.fit([0, 1], [0, 1], end_slopes=[1]), r"^end_slopes needs method='clamped'$"),
    (lambda: knotfit.fit([0, 1], [0, 1], ties="median"), "ties is 'mean'"),
    (lambda: knotfit.fit([0, 1], [0, 1], missing="drop"), "missing is 'skip'"),
    (lambda: knotfit.fit([0, 1, 1], [0, 1e308, 1e308], ties="mean"),
     r"^the mean of 2 y at x = 1 overflows a double \(ties='mean'\), point 1$"),
    (lambda: knotfit.fit([0, 1], [0, 1], "natural", tolerance=1),
     "tolerance takes the methods not-a-knot, pchip"),
    (lambda: knotfit.fit([0, 1], [0, 1], tolerance="0%"), "tolerance is a"),
    (lambda: knotfit.fit([0, 1, 2], [1, 0, 1], rtol=1e-3),
     r"^y of point 1 is 0, where E \+ R\|y\| allows no error$"),
    (lambda: knotfit.fit([0, 1], [1, 2], rtol="1%"), "rtol is a number"),
    *[(lambda m=m: knotfit.fit([-1e308, -5e307, 5e307, 1e308], [0, 1, 2, 3], m,
                               tolerance=0.1),
       r"^x of point 0 \(-1e\+308\) overflows binary32$")
      for m in ("not-a-knot", "pchip")],
    (lambda: knotfit.table_bytes(knotfit.fit([0, 1], [0, 1e39])), "overflows"),
    (lambda: knotfit.read_table(b"\0\0\0\2" + bytes(20)), "table: "),
    (lambda: knotfit.read_table("/nonexistent"), "cannot open"),
    (lambda: knotfit.read_table("/no/\x1b[2J"), r"^/no/\\x1b\[2J: cannot open"),
    (lambda: knotfit.write_table(knotfit.fit([0, 1], [0, 1]), b"/no/\xff\x7f"),
     r"^cannot write '/no/\\xff\\x7f': No such file"),
    (lambda: knotfit.read_table(type("\x9b", (), {})()), r"not \\xc2\\x9b$"),
    (lambda: knotfit.read_table(7), "a path or bytes"),
    (lambda: knotfit.fit([0, 1], [0, 1])("t"), "t must be real numbers"),
    (lambda: knotfit.fit([0, 1], [0, 1])(0, "wild"), "unknown extrapolation"),
    (lambda: knotfit.fit([0, 1], [0, 1]).derivative(0, 3), "order must be"),
    (lambda: knotfit.fit([0, 1], [0, 1]).integral(None, 1), "a must be"),
    (lambda: knotfit.fit([0, 1, 1], [0, 1, 2], "smooth"), r"^smooth needs at least 3 dist"
     r"inct x \(2 given\)$"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], "smooth", w=[1, 0, 1]), "weight 0 of point 1"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], "smooth", lam="loo"), "lam is a number >=.*'cv'"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], "smooth", lam=("df", 2)), "df 2 is not above 2"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], "smooth", ties="mean"),
     r"^ties does not go with method='smooth', which merges equal x itself$"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], lam=1), r"^lam needs method='smooth'$"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], tolerance=10**400), "tolerance is beyond the range"),
    (lambda: knotfit.fit([0, 1, 2], [0, 1, 2], "smooth", lam=True), "lam is a number >=.*not bool"),
    (lambda: knotfit.fit([0, 1, 2, 3], [0, 1, 2, 0], "smooth", lam=("df", True)), "lam is a number"),
]


@pytest.mark.parametrize("call, message", BAD)
def test_bad_input_raises_error(call, message):
    with pytest.raises(knotfit.Error, match=message) as raised:
        call()
    assert isinstance(raised.value, ValueError)


# Numbers as numpy has them are numbers for lam and tolerance; a missing
# weight drops its point with missing='skip', as the program drops its row.
def test_numpy_numbers_and_missing_weights_are_taken_as_the_program_takes_them():
    x, y = np.arange(12.0), np.sin(np.arange(12.0))
    for lam in [np.float32(2), np.int64(2), Fraction(2)]:
        assert knotfit.fit(x, y, "smooth", lam=lam).lam == 2.0
    assert knotfit.fit(x, y, "smooth", lam=("df", np.int64(5))).df == pytest.approx(5)
    for tolerance in [np.float32(0.25), np.int64(1)]:
        assert knotfit.table_bytes(knotfit.fit(x, y, tolerance=tolerance)) == \
            knotfit.table_bytes(knotfit.fit(x, y, tolerance=float(tolerance)))
    w = np.ones(12)
    w[[0, 7]] = np.nan
    dropped = knotfit.fit(x, y, "smooth", w=w, missing="skip", lam=1)
    kept = np.isfinite(w)
    assert dropped.y.tobytes() == knotfit.fit(x[kept], y[kept], "smooth", lam=1).y.tobytes()


def exact_smoothing(x, y, w, lam):
    """The smoothing spline at the knots and midpoints in fractions: with Q
    the second differences and R the tridiagonal of the integral of g^2,
    (R + lam Q'W^-1 Q) g = Q'y, f = y - lam W^-1 Q g."""
    x, y, w = ([Fraction(v) for v in a] for a in (x, y, w))
    n, lam, h = len(x), Fraction(lam), np.diff(x)
    q = [[(k == j) / h[j] - (k == j + 1) * (1 / h[j] + 1 / h[j + 1]) + (k == j + 2) / h[j + 1]
          for j in range(n - 2)] for k in range(n)]
    m = [[(h[i] + h[i + 1]) / 3 * (i == j) + h[max(i, j)] / 6 * (abs(i - j) == 1)
          + lam * sum(q[k][i] * q[k][j] / w[k] for k in range(n)) for j in range(n - 2)]
         + [sum(q[k][i] * y[k] for k in range(n))] for i in range(n - 2)]
    for c in range(n - 2):  # Gauss-Jordan
        m = [r if i == c else [a - r[c] / m[c][c] * b for a, b in zip(r, m[c])]
             for i, r in enumerate(m)]
    g = [0] + [r[-1] / r[i] for i, r in enumerate(m)] + [0]
    f = [y[k] - lam / w[k] * sum(a * b for a, b in zip(q[k], g[1:])) for k in range(n)]
    return f + [(f[i] + f[i + 1]) / 2 - h[i] ** 2 / 16 * (g[i] + g[i + 1]) for i in range(n - 1)]


# Small noisy sets: x spacing (even, uneven, over 12 orders of magnitude),
# weights, lambda in units of the natural scale (x range)^3 * sum w (0: the
# natural spline; 1e12: nearly the least-squares line), and whether SciPy's
# make_smoothing_spline (1.10) is near enough to be compared.
SMOOTH = [("even", np.arange(9.0), None, 1e-3, True),
          ("uneven", None, None, 1e-2, True),
          ("12 decades", [0, 1e-12, 2e-12, 1e-6, 1e-3, 0.5, 1, 1.25], None, 1e-5, False),
          ("weights", None, [1, 4, 0.25, 1, 2, 8, 1, 0.5, 3, 1], 1e-3, True),
          ("natural", None, None, 0, True), ("line", None, [1, 2] * 5, 1e12, False)]


@pytest.mark.parametrize("name, x, w, scale, scipy", SMOOTH)
def test_smooth_fits_the_exact_minimiser(name, x, w, scale, scipy):
    rng = np.random.default_rng(len(name))
    x = np.cumsum(rng.uniform(0.1, 3, 10)) if x is None else np.asarray(x, float)
    y = np.sin(x / x[-1] * 5) + rng.normal(0, 0.1, len(x))
    w = np.ones(len(x)) if w is None else np.asarray(w, float)
    lam, span, t = scale * np.ptp(x) ** 3 * w.sum(), np.ptp(y), (x[1:] + x[:-1]) / 2
    s = knotfit.fit(x, y, "smooth", lam=lam, w=w)
    got, exact = np.concatenate([s.y, s(t)]), np.array(exact_smoothing(x, y, w, lam), float)
    assert np.abs(got - exact).max() <= 1e-12 * span and s.lam == lam
    # Ties are one knot with their summed weight and weighted mean y; sort
    # carries the weights along.
    ty = np.repeat(y, 2) + np.tile([0.25, -0.75], len(x))
    tw = np.repeat(w, 2) * np.tile([3, 1], len(x))
    tied = knotfit.fit(np.repeat(x, 2)[::-1], ty[::-1], "smooth", w=tw[::-1], lam=lam, sort=True)
    merged = (tw[1::2] * ty[1::2] + tw[::2] * ty[::2]) / (tw[::2] + tw[1::2])
    same = knotfit.fit(x, merged, "smooth", lam=lam, w=tw[::2] + tw[1::2])
    assert tied.y.tobytes() == same.y.tobytes()
    assert knotfit.fit(x, y).df is None
    if scipy and importlib.util.find_spec("scipy") is not None:
        from scipy.interpolate import make_smoothing_spline
        assert np.abs(make_smoothing_spline(x, y, w, lam)(x) - s.y).max() <= 1e-9 * span


# What a smoothing fit gives back, per point and per distinct x; its CV
# score from them; the band's width and the refusals.
def test_smooth_gives_fitted_residuals_leverages_and_a_band():
    x = np.repeat(np.arange(10.0), 2)
    y = np.sin(x) + np.tile([0.3, -0.2], 10)
    s = knotfit.fit(x, y, "smooth", lam="cv")
    assert (s.criterion, knotfit.fit(x, y, "smooth").criterion) == ("cv", "gcv")
    assert s.fitted.tobytes() == s.y.tobytes() and s.sigma > 0
    assert np.abs(s.residuals - (y - np.repeat(s.y, 2))).max() < 1e-13
    assert s.leverage.sum() == pytest.approx(s.df, rel=1e-12)
    assert s.score == pytest.approx(np.mean((s.residuals / (1 - s.leverage))**2), rel=1e-12)
    lower, upper = s.band()
    assert (upper - lower).max() == pytest.approx(s.band_max, rel=1e-12)
    (lo,), (hi,) = s.band(0.5, [4.0])
    assert (hi - lo) / (upper - lower)[4] == pytest.approx(0.6744897501960817 / 1.959963984540054)
    for level in [0, 1, 1.5]:
        with pytest.raises(knotfit.Error, match="band level"):
            s.band(level)
    interpolant = knotfit.fit(np.arange(5.0), np.arange(5.0) ** 2, "smooth", lam=0)
    assert interpolant.sigma is None and interpolant.band_max is None
    with pytest.raises(knotfit.Error, match="sigma"):
        interpolant.band()
    assert knotfit.fit([0, 1], [0, 1]).fitted is None


@pytest.mark.parametrize("lam", ["gcv", ("df", 3)])
def test_smooth_weights_whose_sum_overflows_fit_as_weights_1(lam):
    x, y = np.arange(8.0) * 1000, np.sin(np.arange(8.0)) + np.arange(8.0)
    huge, one = (knotfit.fit(x, y, "smooth", lam=lam, w=np.full(8, v)) for v in (2.0**1023, 1.0))
    assert huge.y.tobytes() == one.y.tobytes() and huge.df == one.df
    assert huge.lam == (np.inf if one.lam >= 2 else one.lam * 2.0**1023)


def test_to_ppoly_names_scipy_where_it_is_missing(monkeypatch):
    monkeypatch.setitem(sys.modules, "scipy.interpolate", None)
    with pytest.raises(ImportError, match="needs SciPy"):
        knotfit.fit([0, 1], [0, 1]).to_ppoly()


def test_write_table_replaces_whole_files_only(tmp_path):
    spline, other = knotfit.fit([0, 1, 2], [0, 1, 4]), knotfit.fit([0, 1], [5, 6])
    target, link = tmp_path / "t", tmp_path / "link"
    target.write_bytes(b"old")
    target.chmod(0o7640)  # the program keeps the sticky bit, drops set-ID
    owner = (4321, 4321) if os.geteuid() == 0 else (os.geteuid(), os.getegid())
    os.chown(target, *owner)  # root gives the old owner back
    link.symlink_to(target)
    knotfit.write_table(spline, str(target))
    assert target.read_bytes() == knotfit.table_bytes(spline)
    st = target.stat()
    assert (st.st_mode & 0o7777, st.st_uid, st.st_gid) == (0o1640, *owner)
    for path, message in [(link, "symbolic link"), (f"{tmp_path}/", "Is a dir"),
                          (tmp_path / "no/t", "No such file"),
                          (f"{target}\0.bak", r"/t\\x00\.bak' holds a NUL")]:
        with pytest.raises(knotfit.Error, match=message):
            knotfit.write_table(other, path)
    with pytest.raises(ValueError, match="NUL"):
        knotfit.read_table(f"{target}\0zzz")
    assert target.read_bytes() == knotfit.table_bytes(spline)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link", "t"]


def run_python(code, *args):
    """code in a Python of its own: a crash or a hang fails the test, not pytest."""
    return subprocess.run([sys.executable, "-c", code, *map(str, args)],
                          timeout=60, capture_output=True, text=True)


# Allocations that fail in the MiB of address space left: a view's copy as
# doubles, the fit's own arrays, the bytes object of a table.
OUT_OF_MEMORY = """import resource, sys, numpy as np, knotfit
s = knotfit.fit([0, 1, 2, 3], [0, 1, 4, 9])
t = knotfit.read_table(knotfit.table_bytes(s))
big = "big" in sys.argv[1] and knotfit.fit(np.arange(1e6), np.zeros(10**6))
vm = next(int(l.split()[1]) for l in open("/proc/self/status") if l[:7] == "VmSize:")
hard = resource.getrlimit(resource.RLIMIT_AS)[1]
resource.setrlimit(resource.RLIMIT_AS, (vm * 1024 + (int(sys.argv[2]) << 20), hard))
try:
    eval(sys.argv[1])
except MemoryError:
    print("MemoryError")
"""


@pytest.mark.parametrize("call, room", [
    ("s(np.broadcast_to(1.0, (10**11,)))", 1024),
    ("s.derivative(np.broadcast_to(1, (10**11,)), 2)", 1024),
    ("t(np.broadcast_to(1.0, (10**11,)), 'linear')", 1024),
    ("knotfit.fit(np.broadcast_to(1.0, (10**11,)), [0, 1])", 1024),
    ("t.derivative(np.zeros(2 * 10**8, np.int8))", 256),
    ("knotfit.fit(np.arange(2e6), np.zeros(2 * 10**6))", 40),
    ("knotfit.table_bytes(big)", 30)])
def test_an_allocation_that_fails_raises_memory_error(call, room):
    done = run_python(OUT_OF_MEMORY, call, room)
    assert (done.returncode, done.stdout) == (0, "MemoryError\n"), done.stderr


# A FIFO read on a thread while this one runs on: written to later, or never.
FIFO = """import sys, threading, knotfit
got = []
reader = threading.Thread(target=lambda: got.append(knotfit.read_table(sys.argv[2])),
                          daemon=True)
reader.start()
reader.join(0.3)
if sys.argv[1] == "write":
    with open(sys.argv[2], "wb") as fifo:
        fifo.write(knotfit.table_bytes(knotfit.fit([0, 1, 2], [0, 1, 4])))
    reader.join(30)
print(len(got[0]) if got else "waiting")
"""


@pytest.mark.parametrize("writer, out", [("write", "3"), ("never", "waiting")])
def test_read_table_waits_without_the_interpreter_lock(tmp_path, writer, out):
    os.mkfifo(tmp_path / "fifo")
    done = run_python(FIFO, writer, tmp_path / "fifo")
    assert done.stdout == out + "\n", done.stderr


# Another thread writes x (a run of NaN, then the values back) and w while
# the fits run without the interpreter lock: each fit sees the values of one
# moment, never a mix that crashes the interpreter (which it did within
# seconds when the fits read the caller's arrays).
WRITER = """import sys, threading, time, warnings, numpy as np, knotfit
warnings.simplefilter("ignore", RuntimeWarning)
n, keywords = int(sys.argv[1]), eval(sys.argv[2])
x, y, w = np.arange(float(n)), np.sin(np.arange(n) / 9), np.ones(n)
stop = time.monotonic() + 3
def write():
    rng = np.random.default_rng(1)
    while time.monotonic() < stop:
        i = int(rng.integers(1, n - 50))
        x[i:i + 50], w[i] = np.nan, np.nan
        x[i:i + 50], w[i] = np.arange(i, i + 50.0), 1.0
threading.Thread(target=write).start()
while time.monotonic() < stop:
    try:
        knotfit.fit(x, y, w=w if "smooth" in keywords.values() else None, **keywords)
    except knotfit.Error:
        pass
print("done")
"""


@pytest.mark.parametrize("n, keywords", [(2000, "dict(method='smooth')"),
                                         (500, "dict(tolerance=0.01)")])
def test_a_thread_writing_the_points_during_a_fit_crashes_nothing(n, keywords):
    done = run_python(WRITER, n, keywords)
    assert (done.returncode, done.stdout) == (0, "done\n"), done.stderr


def test_installed_package_imports_from_a_prefix(tmp_path):
    subprocess.run([ENV["KNOTFIT_CMAKE"], "--install", ENV["KNOTFIT_BUILD"],
                    "--component", "python", "--prefix", str(tmp_path)], **RUN)
    [stub] = tmp_path.glob("lib/python3*/*-packages/knotfit.pyi")
    assert (tmp_path / "share/doc/python3-knotfit/read_table.py").exists()
    code = "import knotfit; print(knotfit.__file__, knotfit.fit([0, 1], [0, 2])(0.25))"
    out = subprocess.run([sys.executable, "-c", code], cwd=tmp_path,
                         env=dict(ENV, PYTHONPATH=str(stub.parent)), **RUN)
    path, value = out.stdout.split()
    assert path.startswith(str(stub.parent)) and value == "0.5"
    for name in ["fit", "read_table", "write_table", "Spline", "Table"]:
        assert len(getattr(knotfit, name).__doc__) > 100


def test_the_stubs_list_every_fit_kind_of_the_library():
    # The kinds as the library's table lists them in its message.
    with pytest.raises(knotfit.Error) as raised:
        knotfit.fit([0, 1], [0, 1], "?")
    listed = str(raised.value).split("(", 1)[1].rstrip(")")
    kinds = [name.split("[")[0] for name in listed.split(", ")]
    stub = open(os.path.join(os.path.dirname(__file__),
                             "../../python/knotfit.pyi")).read()
    literal = stub.split("Method = Literal[", 1)[1].split("]", 1)[0]
    assert [name.strip(' "\n') for name in literal.split(",")] == kinds
