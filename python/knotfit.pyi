"""Type stubs of the compiled module knotfit (see help(knotfit))."""
import os
from typing import Literal, Optional, Sequence, Tuple, Union, overload

import numpy
import numpy.typing

__version__: str

Method = Literal["not-a-knot", "natural", "clamped", "periodic", "pchip",
                 "akima", "makima", "steffen", "smooth"]
Extrapolate = Literal["clamp", "linear", "cubic", "nan"]
Numbers = Union[Sequence[float], numpy.typing.ArrayLike]
# A setting's number: any real number but a bool (numpy's scalars too).
Real = Union[float, int, numpy.floating, numpy.integer]

class Error(ValueError): ...

class _Reader:
    @overload
    def __call__(self, t: float, extrapolate: Extrapolate = ...) -> float: ...
    @overload
    def __call__(self, t: Numbers,
                 extrapolate: Extrapolate = ...) -> numpy.ndarray: ...
    @overload
    def derivative(self, t: float, order: Literal[1, 2] = ...,
                   extrapolate: Extrapolate = ...) -> float: ...
    @overload
    def derivative(self, t: Numbers, order: Literal[1, 2] = ...,
                   extrapolate: Extrapolate = ...) -> numpy.ndarray: ...
    def integral(self, a: float, b: float,
                 extrapolate: Extrapolate = ...) -> float: ...
    def inverse(self, v: float) -> numpy.ndarray: ...
    def to_ppoly(self) -> "scipy.interpolate.PPoly": ...  # type: ignore[name-defined]
    def __len__(self) -> int: ...
    @property
    def x(self) -> numpy.ndarray: ...
    @property
    def y(self) -> numpy.ndarray: ...
    @property
    def a(self) -> numpy.ndarray: ...
    @property
    def b(self) -> numpy.ndarray: ...
    @property
    def c(self) -> numpy.ndarray: ...

class Spline(_Reader):
    """A fitted spline, in double precision (float64 arrays)."""
    @property
    def lam(self) -> Optional[float]: ...
    @property
    def df(self) -> Optional[float]: ...
    @property
    def gcv(self) -> Optional[float]: ...

class Table(_Reader):
    """A coefficient table as read (float32 arrays, float64 for the double
    form; x and y about the origin x0, y0 in the offset and double forms)."""
    @property
    def form(self) -> Literal["classic", "offset", "double"]: ...
    @property
    def x0(self) -> float: ...
    @property
    def y0(self) -> float: ...

def fit(x: Numbers, y: Numbers, method: Union[Method, str] = ...,
        end_slopes: Optional[Tuple[float, float]] = ...,
        sort: bool = ..., ties: Optional[str] = ...,
        missing: Optional[str] = ...,
        lam: Union[None, Real, Literal["gcv"], Tuple[Literal["df"], Real]] = ...,
        w: Optional[Numbers] = ...,
        tolerance: Optional[Union[Real, str]] = ...,
        rtol: Optional[Real] = ...) -> Spline: ...
def read_table(source: Union[str, os.PathLike, bytes, bytearray,
                             memoryview]) -> Table: ...
def write_table(spline: Spline, path: Union[str, bytes, os.PathLike],
                form: Literal["classic", "offset", "double"] = ...) -> None: ...
def table_bytes(spline: Spline,
                form: Literal["classic", "offset", "double"] = ...) -> bytes: ...
