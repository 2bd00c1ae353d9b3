// The Python module knotfit: the library's fit, its Spline and Table and the
// table files, with numbers or numpy arrays in and out. Every loop over an
// array and every file's reading or writing runs here, in C++, without the
// interpreter lock, on what was copied out of the Python objects first
// (another thread may write the caller's arrays meanwhile);
// every value comes from the library itself, so it is bit for bit what the
// C++ API gives, and every table file is written by the program's own rule.
#include "knotfit/request.hpp"
#include "knotfit/table.hpp"
#include "knotfit_internal.h"
#include "replacement_file.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace py = pybind11;
using knotfit::Error;
using knotfit::Extrapolation;
using knotfit::Spline;
using knotfit::Table;
using knotfit::detail::Quoted;

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A class's name is anyone's text.
std::string TypeName(const py::handle &value) {
  return Quoted(
      std::string(py::str(py::type::handle_of(value).attr("__name__"))));
}

// Any array or sequence of real numbers (bool, integer or floating point) as
// contiguous doubles. A value numpy cannot take raises knotfit.Error, not
// whatever numpy would raise from deep inside; a conversion that fails for
// want of memory (a copy of a huge broadcast view) raises MemoryError.
Doubles RealArray(const py::handle &values, const std::string &what) {
  py::array array;
  try {
    array = py::reinterpret_borrow<py::object>(values);
  } catch (py::error_already_set &e) {
    if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_TypeError)) {
      throw;
    }
    throw Error(what + " must be numbers, not " + TypeName(values));
  }
  const char kind = array.dtype().kind();
  if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f') {
    throw Error(what + " must be real numbers, not " +
                std::string(py::str(array.dtype())));
  }
  return Doubles(array);
}

Doubles Vector(const py::handle &values, const std::string &what) {
  Doubles array = RealArray(values, what);
  if (array.ndim() != 1) {
    throw Error(what + " must be one-dimensional, not of shape " +
                std::string(py::str(array.attr("shape"))));
  }
  return array;
}

double Number(const py::handle &value, const std::string &what) {
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    const bool overflow = PyErr_ExceptionMatches(PyExc_OverflowError) != 0;
    PyErr_Clear();
    throw Error(what +
                (overflow ? " is beyond the range of a double"
                          : " must be a real number, not " + TypeName(value)));
  }
  return v;
}

// A number where a setting takes one: anything numbers.Real takes (float,
// int, Fraction, numpy's float32, int64, ...) but a bool, which is a yes or
// a no rather than a 1.
bool IsRealNumber(const py::handle &value) {
  return !py::isinstance<py::bool_>(value) &&
         py::isinstance(value, py::module_::import("numbers").attr("Real"));
}

Extrapolation Rule(const std::string &name) {
  Extrapolation e{};
  if (!knotfit::ParseExtrapolation(name, e)) {
    throw Error("unknown extrapolation '" + Quoted(name) + "' (" +
                knotfit::detail::ExtrapolationList() + ")");
  }
  return e;
}

// f at t: a float for a number, else an array of t's shape.
template <class F> py::object Map(const py::handle &t, F f) {
  if (PyFloat_Check(t.ptr()) || PyLong_Check(t.ptr())) {
    return py::float_(f(Number(t, "t")));
  }
  const Doubles in = RealArray(t, "t");
  if (in.ndim() == 0) {
    return py::float_(f(*in.data()));
  }
  py::array_t<double> out(
      std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
  const double *from = in.data();
  double *to = out.mutable_data();
  const auto size = static_cast<std::size_t>(in.size());
  // In blocks copied while the lock is held: in may be the caller's array.
  // A block is long enough that taking the lock again costs nothing.
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::vector<double> block(std::min(size, kBlock));
  for (std::size_t start = 0; start < size; start += kBlock) {
    const std::size_t m = std::min(kBlock, size - start);
    std::copy_n(from + start, m, block.data());
    const py::gil_scoped_release unlocked;
    for (std::size_t i = 0; i < m; ++i) {
      to[start + i] = f(block[i]);
    }
  }
  return out;
}

// A read-only numpy view of one of the reader's arrays, keeping the reader
// alive while the view lives.
template <class T>
py::array View(const std::vector<T> &field, const py::handle &owner) {
  py::array_t<T> view(static_cast<py::ssize_t>(field.size()), field.data(),
                      owner);
  py::detail::array_proxy(view.ptr())->flags &=
      ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return view;
}

// Field f (0 x, 1 y, 2 a, 3 b, 4 c) of a reader as it holds it: a read-only
// array of the spline's doubles, or of the table's fields as stored
// (float32, float64 for the double form).
py::array FieldView(const Spline &s, int f, const py::handle &owner) {
  const std::vector<double> *fields[] = {&s.x(), &s.y(), &s.a(), &s.b(),
                                         &s.c()};
  return View(*fields[f], owner);
}

py::array FieldView(const Table &t, int f, const py::handle &owner) {
  if (t.form() == knotfit::TableForm::kDouble) {
    const std::vector<double> *fields[] = {&t.x64(), &t.y64(), &t.a64(),
                                           &t.b64(), &t.c64()};
    return View(*fields[f], owner);
  }
  const std::vector<float> *fields[] = {&t.x(), &t.y(), &t.a(), &t.b(), &t.c()};
  return View(*fields[f], owner);
}

// Field f of knot k as S has it: a table's x and y with its origin added.
double Field(const Spline &s, int f, std::size_t k) {
  const std::vector<double> *fields[] = {&s.x(), &s.y(), &s.a(), &s.b(),
                                         &s.c()};
  return (*fields[f])[k];
}

double Field(const Table &t, int f, std::size_t k) {
  const std::vector<float> *narrow[] = {&t.x(), &t.y(), &t.a(), &t.b(), &t.c()};
  const std::vector<double> *wide[] = {&t.x64(), &t.y64(), &t.a64(), &t.b64(),
                                       &t.c64()};
  const double stored = t.form() == knotfit::TableForm::kDouble
                            ? (*wide[f])[k]
                            : double{(*narrow[f])[k]};
  if (t.form() == knotfit::TableForm::kClassic || f > 1) {
    return stored;
  }
  return (f == 0 ? t.x0() : t.y0()) + stored;
}

// scipy.interpolate.PPoly with the same breakpoints and coefficients: rows
// c, b, a, y (the highest power first), one column per segment.
template <class Reader> py::object ToPPoly(const Reader &r) {
  py::module_ interpolate;
  try {
    interpolate = py::module_::import("scipy.interpolate");
  } catch (py::error_already_set &e) {
    if (!e.matches(PyExc_ImportError)) {
      throw;
    }
    throw py::import_error("to_ppoly needs SciPy (python3-scipy): " +
                           std::string(py::str(e.value())));
  }
  const std::size_t n = r.size();
  if (n < 2) {
    throw Error("a single knot has no segment for a piecewise polynomial");
  }
  py::array_t<double> c({py::ssize_t{4}, static_cast<py::ssize_t>(n - 1)});
  py::array_t<double> x(static_cast<py::ssize_t>(n));
  auto coef = c.template mutable_unchecked<2>();
  for (std::size_t k = 0; k < n; ++k) {
    const auto i = static_cast<py::ssize_t>(k);
    x.mutable_at(i) = Field(r, 0, k);
    if (k + 1 < n) {
      coef(0, i) = Field(r, 4, k);
      coef(1, i) = Field(r, 3, k);
      coef(2, i) = Field(r, 2, k);
      coef(3, i) = Field(r, 1, k);
    }
  }
  return interpolate.attr("PPoly")(c, x);
}

// What Spline and Table share: evaluation, calculus, the arrays, PPoly.
template <class Reader> void BindReader(py::class_<Reader> &cls) {
  cls.def(
         "__call__",
         [](const Reader &r, const py::handle &t, const std::string &rule) {
           const Extrapolation e = Rule(rule);
           return Map(t, [&](double v) { return r.value(v, e); });
         },
         py::arg("t"), py::arg("extrapolate") = "clamp",
         "__call__(t, extrapolate='clamp')\n\n"
         "S(t) for a number t (a float) or an array of any shape (an array "
         "of\nthe same shape). Outside the knots by the rule extrapolate:\n"
         "'clamp' (the end ordinates, as the plot files), 'linear' (the end\n"
         "slope continued), 'cubic' (the end segment continued) or 'nan'.\n"
         "An interior knot hit exactly is evaluated on the segment ending "
         "there.")
      .def(
          "derivative",
          [](const Reader &r, const py::handle &t, int order,
             const std::string &rule) {
            const Extrapolation e = Rule(rule);
            if (order == 1) {
              return Map(t, [&](double v) { return r.derivative(v, e); });
            }
            if (order == 2) {
              return Map(t,
                         [&](double v) { return r.second_derivative(v, e); });
            }
            throw Error("order must be 1 or 2, not " + std::to_string(order));
          },
          py::arg("t"), py::arg("order") = 1, py::arg("extrapolate") = "clamp",
          "derivative(t, order=1, extrapolate='clamp')\n\n"
          "S'(t) (order=1) or S''(t) (order=2), for a number or an array, "
          "as\nfor S itself; at the end knots the derivative from inside.")
      .def(
          "integral",
          [](const Reader &r, const py::handle &lo, const py::handle &hi,
             const std::string &rule) {
            return r.integral(Number(lo, "a"), Number(hi, "b"), Rule(rule));
          },
          py::arg("a"), py::arg("b"), py::arg("extrapolate") = "clamp",
          "integral(a, b, extrapolate='clamp') -> float\n\n"
          "The integral of S from a to b (negative when b < a), beyond the\n"
          "knots by the rule extrapolate.")
      .def(
          "inverse",
          [](const Reader &r, const py::handle &v) {
            const std::vector<double> roots = r.inverse(Number(v, "v"));
            return py::array_t<double>(static_cast<py::ssize_t>(roots.size()),
                                       roots.data());
          },
          py::arg("v"),
          "inverse(v) -> numpy.ndarray\n\n"
          "The abscissas within the knots where S = v, in increasing order "
          "(one\nfor a monotone curve that reaches v), as an array: each r "
          "has S(r) - v\nzero or changing sign between r and a neighbouring "
          "double. A segment\nwhere S is v throughout gives its two end "
          "knots; empty for NaN.")
      .def("to_ppoly", &ToPPoly<Reader>,
           "to_ppoly() -> scipy.interpolate.PPoly\n\n"
           "The same curve as a scipy.interpolate.PPoly (which continues "
           "the end\nsegments beyond the knots and evaluates in its own "
           "order, so its\nvalues may differ in the last bits). Raises "
           "ImportError without SciPy.")
      .def("__len__", &Reader::size, "__len__()\n\nThe number of knots.");
  const char *names[] = {"x", "y", "a", "b", "c"};
  const char *docs[] = {
      "The knot abscissas, increasing (a read-only array).",
      "The knot ordinates (a read-only array).",
      "The slope S' at each knot (a read-only array).",
      "The quadratic coefficient of the segment starting at each knot; the "
      "last\nbelongs to no segment and is 0 (a read-only array).",
      "The cubic coefficient of the segment starting at each knot; the "
      "last\nbelongs to no segment and is 0 (a read-only array)."};
  for (int i = 0; i < 5; ++i) {
    cls.def_property_readonly(
        names[i],
        [i](const py::object &self) {
          return FieldView(self.cast<const Reader &>(), i, self);
        },
        docs[i]);
  }
}

// lam of fit: None or 'gcv', 'cv', a number (lambda), or ('df', K). The
// module's smoothing fits keep their residuals, leverages and variances.
knotfit::Smoothing SmoothingOf(const py::handle &lam) {
  using Rule = knotfit::Smoothing::Rule;
  const std::string word =
      py::isinstance<py::str>(lam) ? lam.cast<std::string>() : "";
  if (lam.is_none() || word == "gcv" || word == "cv") {
    return {word == "cv" ? Rule::kCv : Rule::kGcv, 0.0, true};
  }
  if (IsRealNumber(lam)) {
    return {Rule::kLambda, Number(lam, "lam"), true};
  }
  if (py::isinstance<py::tuple>(lam) && py::len(lam) == 2 &&
      py::isinstance<py::str>(lam[py::int_(0)]) &&
      lam[py::int_(0)].cast<std::string>() == "df" &&
      IsRealNumber(lam[py::int_(1)])) {
    return {Rule::kDegreesOfFreedom, Number(lam[py::int_(1)], "K"), true};
  }
  throw Error("lam is a number >= 0, 'gcv', 'cv' or ('df', K), not " +
              TypeName(lam));
}

std::vector<double> Copied(const py::handle &values, const std::string &what) {
  const Doubles array = Vector(values, what);
  return {array.data(), array.data() + array.size()};
}

// The bound of fit's tolerance: a number above 0 in y's units, or a string
// "E" or "E%" as the program's --tolerance reads it; with rtol, a number
// >= 0, its relative part (tolerance may then be None: E = 0).
knotfit::detail::Tolerance ToleranceOf(const py::handle &tolerance,
                                       const py::handle &rtol) {
  knotfit::detail::Tolerance bound;
  bool read = tolerance.is_none();
  if (!rtol.is_none()) {
    bound.relative = IsRealNumber(rtol) ? Number(rtol, "rtol") : NAN;
    if (!(std::isfinite(bound.relative) && bound.relative >= 0.0)) {
      throw Error("rtol is a number at least 0");
    }
  }
  if (py::isinstance<py::str>(tolerance)) {
    const double relative = bound.relative;
    read =
        knotfit::detail::ParseTolerance(tolerance.cast<std::string>(), bound);
    bound.relative = relative;
  } else if (IsRealNumber(tolerance)) {
    bound.value = Number(tolerance, "tolerance");
    read = std::isfinite(bound.value) && bound.value > 0.0;
  }
  if (!read) {
    throw Error("tolerance is a number above 0, 'E' or 'E%'");
  }
  return bound;
}

Spline Fit(const py::handle &x, const py::handle &y, const std::string &method,
           const py::handle &end_slopes, bool sort, const py::handle &ties,
           const py::handle &missing, const py::handle &lam,
           const py::handle &w, const py::handle &tolerance,
           const py::handle &rtol) {
  knotfit::detail::MeasuredRules rules;
  rules.sort = sort;
  if (!ties.is_none() &&
      !(py::isinstance<py::str>(ties) &&
        knotfit::detail::ParseTies(ties.cast<std::string>(), rules.ties))) {
    throw Error("ties is 'mean', 'first', 'last' or None");
  }
  if (!missing.is_none()) {
    if (!py::isinstance<py::str>(missing) ||
        missing.cast<std::string>() != "skip") {
      throw Error("missing is 'skip' or None");
    }
    rules.skip_missing = true;
  }
  knotfit::MethodChoice choice;
  if (!knotfit::ParseMethod(method, choice)) {
    throw Error("unknown method '" + Quoted(method) + "' (" +
                knotfit::detail::MethodList() + ")");
  }
  // The rules between the method and the other keywords, as the program
  // states them between its options.
  knotfit::Request request;
  request.method = choice;
  request.measured = rules;
  std::vector<knotfit::Parameter> given;
  if (!end_slopes.is_none()) {
    given.push_back(knotfit::Parameter::kEndSlopes);
  }
  if (!lam.is_none()) {
    given.push_back(knotfit::Parameter::kLambda);
  }
  if (!w.is_none()) {
    given.push_back(knotfit::Parameter::kWeights);
  }
  if (!tolerance.is_none() || !rtol.is_none()) {
    request.tolerance = ToleranceOf(tolerance, rtol);
  }
  if (const std::string problem =
          knotfit::RequestProblem(request, given, knotfit::Naming::kKeyword);
      !problem.empty()) {
    throw Error(problem);
  }
  const knotfit::detail::MethodInfo &kind =
      knotfit::detail::InfoOf(choice.method);
  const knotfit::Smoothing how =
      kind.smoothing ? SmoothingOf(lam) : knotfit::Smoothing{};
  if (!end_slopes.is_none()) {
    const Doubles slopes = Vector(end_slopes, "end_slopes");
    if (slopes.size() != 2) {
      throw Error("end_slopes are the two end slopes of method 'clamped'");
    }
    choice.start_slope = slopes.at(0);
    choice.end_slope = slopes.at(1);
  }
  request.method = choice;
  request.smoothing = how;
  // Copies made while the lock is held: the fit runs without it while
  // another thread may write the caller's arrays.
  const std::vector<double> px = Copied(x, "x"), py = Copied(y, "y"),
                            pw = w.is_none() ? std::vector<double>()
                                             : Copied(w, "w");
  if (px.size() != py.size() || (!w.is_none() && pw.size() != px.size())) {
    throw Error(std::to_string(px.size()) + " x values but " +
                std::to_string(py.size()) + " y values" +
                (w.is_none()
                     ? std::string()
                     : " and " + std::to_string(pw.size()) + " weights"));
  }
  std::optional<knotfit::FitResult> made;
  {
    const py::gil_scoped_release unlocked;
    made = knotfit::fit_request(px, py, pw, request, given,
                                knotfit::Naming::kKeyword);
  }
  if (const auto &knots = made->tolerance; knots && !knots->met) {
    const std::string short_of_bound =
        "no table within E = " + knotfit::detail::ShortNumber(knots->bound) +
        " found, the best has max error " +
        knotfit::detail::ShortNumber(knots->error) +
        " at x = " + knotfit::detail::ShortNumber(knots->worst_at) + " (" +
        std::to_string(knots->knots) + " knots)";
    if (PyErr_WarnEx(PyExc_RuntimeWarning, short_of_bound.c_str(), 1) != 0) {
      throw py::error_already_set();
    }
  }
  return std::move(made->spline);
}

// A path as the file system takes it: the bytes os.fsencode gives. The
// system reads a path up to its first NUL byte, so a path holding one would
// name another file: refused, as open refuses it.
std::string PathBytes(const py::handle &path) {
  std::string bytes;
  try {
    bytes =
        py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  } catch (py::error_already_set &e) {
    if (!e.matches(PyExc_TypeError)) {
      throw;
    }
    throw Error("a path must be str, bytes or os.PathLike, not " +
                TypeName(path));
  }
  if (bytes.find('\0') != std::string::npos) {
    throw Error("path '" + Quoted(bytes) + "' holds a NUL byte");
  }
  return bytes;
}

Table ReadTable(const py::handle &source) {
  if (py::isinstance<py::str>(source) ||
      py::isinstance(source, py::module_::import("os").attr("PathLike"))) {
    const std::string path = PathBytes(source);
    // Opening a FIFO waits for its writer, and a slow disk for itself.
    const py::gil_scoped_release unlocked;
    try {
      return knotfit::read_table_file(path);
    } catch (const Error &e) {
      throw Error(Quoted(e.what())); // the path starts the message
    }
  }
  if (!PyObject_CheckBuffer(source.ptr())) {
    throw Error("read_table takes a path or bytes, not " + TypeName(source));
  }
  // The view keeps the bytes where they are (a bytearray cannot be resized
  // while it lives), so they are read without the interpreter lock.
  const py::buffer_info bytes =
      py::reinterpret_borrow<py::buffer>(source).request();
  if (bytes.itemsize != 1 || bytes.ndim != 1 || bytes.strides[0] != 1) {
    throw Error("read_table takes the table's bytes as one contiguous run");
  }
  const py::gil_scoped_release unlocked;
  return knotfit::read_table(static_cast<const unsigned char *>(bytes.ptr),
                             static_cast<std::size_t>(bytes.size));
}

// A table form by its name, as --table names it.
knotfit::TableForm FormNamed(const std::string &name) {
  knotfit::TableForm form{};
  if (!knotfit::ParseTableForm(name, form)) {
    throw Error("unknown table form '" + Quoted(name) +
                "' (classic, offset, double)");
  }
  return form;
}

// The program's writer, with neither its signal handler nor its umask,
// which are not this process's.
void WriteTable(const Spline &spline, const py::handle &path,
                const std::string &form_name) {
  const std::string name = PathBytes(path);
  const knotfit::TableForm form = FormNamed(form_name);
  const py::gil_scoped_release unlocked;
  const std::vector<unsigned char> bytes = knotfit::table_bytes(spline, form);
  const std::string problem = ReplaceWholeFile(
      name,
      [&bytes](Sink &file) {
        return file.Write(reinterpret_cast<const char *>(bytes.data()),
                          bytes.size());
      },
      ReplacementFile::Creator::kUnwatched);
  if (!problem.empty()) {
    throw Error("cannot write '" + Quoted(name) + "': " + problem);
  }
}

// knotfit.Error with the message's bytes as text, a byte that is not UTF-8
// (of a Latin-1 path, which the message passes as it is) shown as \xHH
// rather than losing the message. pybind11 reports a Python object it could
// not allocate (the bytes of a large table) as a RuntimeError of its own,
// over the MemoryError Python raised: that MemoryError stays.
void RaiseError(std::exception_ptr thrown) {
  try {
    std::rethrow_exception(std::move(thrown));
  } catch (const Error &e) {
    const std::string_view text = e.what();
    const py::object message = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()),
                             "backslashreplace"));
    if (message) { // else MemoryError is raised
      PyErr_SetObject(py::module_::import("knotfit").attr("Error").ptr(),
                      message.ptr());
    }
  } catch (const std::runtime_error &) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError) == 0) {
      throw;
    }
  }
}

std::string Describe(const char *what, std::size_t n, double first,
                     double last) {
  return "<knotfit." + std::string(what) + ": " + std::to_string(n) +
         (n == 1 ? " knot at " : " knots from ") +
         std::string(py::repr(py::float_(first))) +
         (n == 1 ? "" : " to " + std::string(py::repr(py::float_(last)))) + ">";
}

} // namespace

PYBIND11_MODULE(knotfit, m) {
  m.doc() =
      "Cubic spline fits bit for bit as the knotfit program makes them, and "
      "its\ncoefficient tables written, read and evaluated.\n\n"
      "    import knotfit, numpy\n"
      "    s = knotfit.fit([0, 1, 2, 3, 4], [0, 1, 8, 27, 64])\n"
      "    s(2.5)                         # 15.625\n"
      "    s(numpy.linspace(0, 4, 9))     # an array in, an array out\n"
      "    knotfit.write_table(s, 'cube') # the bytes knotfit writes to "
      "CS/cube\n"
      "    t = knotfit.read_table('cube') # evaluates as every table reader "
      "does\n\n"
      "Problems raise knotfit.Error (a ValueError) with the library's "
      "message.";
  m.attr("__version__") = KNOTFIT_VERSION;
  // Every docstring starts with its own signature, in Python's terms.
  py::options options;
  options.disable_function_signatures();
  py::register_exception<Error>(m, "Error", PyExc_ValueError);
  py::register_exception_translator(RaiseError);

  py::class_<Spline> spline(
      m, "Spline",
      "A fitted spline: knots x, ordinates y, slopes a, and per segment the\n"
      "quadratic and cubic coefficients b and c, in double precision. On the\n"
      "segment from x[k] to x[k+1], with u = t - x[k],\n"
      "S(t) = y[k] + a[k]*u + b[k]*u**2 + c[k]*u**3. Made by knotfit.fit.");
  BindReader(spline);
  spline.def("__repr__", [](const Spline &s) {
    return Describe("Spline", s.size(), s.x().front(), s.x().back());
  });
  const char *figures[] = {"lam", "df", "gcv"};
  const char *figure_docs[] = {
      "The smoothing spline's lambda: the one given, or the one chosen; "
      "in the\nunits of x cubed times those of w (not y's). None for an "
      "interpolant.",
      "The smoothing spline's equivalent degrees of freedom, tr A (A the\n"
      "influence matrix, f = A y at the knots): from the number of distinct "
      "x\n(lambda = 0) down to 2 (the least-squares line), whatever the "
      "units.\nNone for an interpolant.",
      "The smoothing spline's GCV score, n RSS_w / (n - df)**2 on the "
      "distinct\nx (merged y, summed weights); 0 at df = n. None for an "
      "interpolant."};
  for (int i = 0; i < 3; ++i) {
    spline.def_property_readonly(
        figures[i],
        [i](const Spline &s) -> py::object {
          if (!s.smoothing()) {
            return py::none();
          }
          const knotfit::SmoothingFigures &f = *s.smoothing();
          const double values[] = {f.lambda, f.df, f.gcv};
          return py::float_(values[i]);
        },
        figure_docs[i]);
  }
  const char *optional_figures[] = {"score", "sigma", "band_max"};
  const char *optional_docs[] = {
      "The smoothing spline's criterion's value (criterion says which): "
      "gcv, or\nCV = sum w ((y - f(x)) / (1 - h))**2 / sum w over the points; "
      "None where\nsome leverage h is 1, and for an interpolant.",
      "The smoothing spline's estimate of the noise, sqrt(RSS_w / (n - df)) "
      "over\nthe n points; None where n - df <= 0, and for an interpolant.",
      "The largest width (upper - lower) of the smoothing spline's 95% "
      "band\n(see band); None without sigma, and for an interpolant."};
  for (int i = 0; i < 3; ++i) {
    spline.def_property_readonly(
        optional_figures[i],
        [i](const Spline &s) -> py::object {
          if (!s.smoothing()) {
            return py::none();
          }
          const knotfit::SmoothingFigures &f = *s.smoothing();
          const std::optional<double> values[] = {f.score, f.sigma, f.band_max};
          return values[i] ? py::object(py::float_(*values[i])) : py::none();
        },
        optional_docs[i]);
  }
  spline.def_property_readonly(
      "criterion",
      [](const Spline &s) -> py::object {
        if (!s.smoothing()) {
          return py::none();
        }
        return py::str(s.smoothing()->cv ? "cv" : "gcv");
      },
      "What score holds: 'cv' for lam='cv', else 'gcv'. None for an "
      "interpolant.");
  const char *per_point[] = {"fitted", "residuals", "leverage"};
  const char *per_point_docs[] = {
      "The smoothing spline's values f(x) at the distinct x (its y). None "
      "for an\ninterpolant.",
      "The smoothing spline's residuals y - f(x), per point as given. None "
      "for an\ninterpolant.",
      "The smoothing spline's leverages h = A_kk w / W_k per point as given "
      "(A\nthe influence matrix on the distinct x, W_k the summed weight at "
      "the\npoint's x): how much of the fit there is its own y. None for an\n"
      "interpolant."};
  for (int i = 0; i < 3; ++i) {
    spline.def_property_readonly(
        per_point[i],
        [i](const py::object &self) -> py::object {
          const Spline &s = self.cast<const Spline &>();
          if (!s.smoothing()) {
            return py::none();
          }
          const std::vector<double> *arrays[] = {
              &s.y(), &s.smoothing()->residuals, &s.smoothing()->leverage};
          return View(*arrays[i], self);
        },
        per_point_docs[i]);
  }
  spline.def(
      "band",
      [](const Spline &s, double level, const py::object &t) {
        std::vector<double> at = s.x();
        if (!t.is_none()) {
          const Doubles in = Vector(t, "t");
          at.assign(in.data(), in.data() + in.size());
        }
        knotfit::Band b;
        {
          const py::gil_scoped_release unlocked;
          b = knotfit::band(s, at, level);
        }
        auto array = [](const std::vector<double> &v) {
          py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
          std::copy(v.begin(), v.end(), out.mutable_data());
          return out;
        };
        return py::make_tuple(array(b.lower), array(b.upper));
      },
      py::arg("level") = 0.95, py::arg("t") = py::none(),
      "The smoothing spline's pointwise Bayesian band, (lower, upper) at t "
      "(by\ndefault the distinct x): f(t) -+ z sigma sqrt(v(t)), z the "
      "normal quantile\nof (1 + level) / 2, v the variances A_kk / W_k at "
      "the distinct x,\ninterpolated linearly between them and held at the "
      "end values beyond.\nRaises knotfit.Error for a level outside (0, 1), "
      "without sigma, and for\nan interpolant.");

  py::class_<Table> table(
      m, "Table",
      "A coefficient table as read: its fields x, y, a, b, c (knot 0 "
      "first),\nevaluated in double as every reader of the tables does, bit "
      "for bit.\nThe fields are as stored: binary32 (float32 arrays), or "
      "binary64 in the\ndouble form; in the offset and double forms x and y "
      "are x - x0 and\ny - y0, and S(t) is y0 plus their cubic at t - x0. "
      "Made by\nknotfit.read_table.");
  BindReader(table);
  table
      .def("__repr__",
           [](const Table &t) {
             return Describe("Table", t.size(), Field(t, 0, 0),
                             Field(t, 0, t.size() - 1));
           })
      .def_property_readonly(
          "form",
          [](const Table &t) { return knotfit::TableFormName(t.form()); },
          "The table's form: 'classic', 'offset' or 'double'.")
      .def_property_readonly("x0", &Table::x0,
                             "The origin's abscissa (0 for the classic "
                             "form).")
      .def_property_readonly("y0", &Table::y0,
                             "The origin's ordinate (0 for the classic "
                             "form).");

  m.def("fit", &Fit, py::arg("x"), py::arg("y"),
        py::arg("method") = "not-a-knot", py::arg("end_slopes") = py::none(),
        py::arg("sort") = false, py::arg("ties") = py::none(),
        py::arg("missing") = py::none(), py::arg("lam") = py::none(),
        py::arg("w") = py::none(), py::arg("tolerance") = py::none(),
        py::arg("rtol") = py::none(),
        "fit(x, y, method='not-a-knot', end_slopes=None, sort=False, "
        "ties=None,\n    missing=None, lam=None, w=None, tolerance=None, "
        "rtol=None) "
        "-> "
        "Spline\n\n"
        "The spline of the points (x[i], y[i]), bit for bit the fit "
        "the\nknotfit program writes for the same doubles: x and y are "
        "sequences or\narrays of real numbers of one length, x strictly "
        "increasing, every value\nfinite. method is one of the program's: "
        "'not-a-knot' (3 points give the\nparabola, 2 the line), "
        "'natural', 'clamped' (end slopes 0, or\nend_slopes=(d0, dn), or "
        "'clamped=D0,DN'), 'periodic' (y[0] == y[-1]),\n'pchip', 'akima', "
        "'makima', 'steffen', which pass through every point,\nand "
        "'smooth'. sort=True sorts the points by x (equal x in their "
        "order),\nties ('mean', 'first', 'last') merges equal x, "
        "missing='skip' drops\npoints with a NaN (in x, y or w), as the "
        "program's --sort, --ties and\n--missing do.\n\n"
        "'smooth' is the cubic smoothing spline for noisy data: the f "
        "minimising\nsum w[i] (y[i] - f(x[i]))**2 + lam * integral of "
        "f''(t)**2, the natural\ncubic spline with a knot at each distinct "
        "x (y the smoothed values).\nx must not decrease; equal x are one "
        "knot with their summed weight and\nweighted mean y (ties does not "
        "apply); it needs 3 distinct x. w: the\nweights, positive (None: "
        "all 1). lam: None or 'gcv' chooses lambda by\ngeneralised "
        "cross-validation, 'cv' by leave-one-out cross-validation\n(both "
        "over every point, equal x each counted); a number >= 0 (not a\n"
        "bool) sets it (0: the\n"
        "natural interpolant; lambda scales with the cube of x's unit and\n"
        "with w's, not with y's); ('df', K) chooses it so that the fit has "
        "K\nequivalent degrees of freedom, 2 < K <= the number of distinct "
        "x. The\nspline's lam, df, gcv, criterion and score say what was "
        "chosen; sigma,\nfitted, residuals, leverage, band() and band_max "
        "what it gives. A number "
        "may be any real\nnumber Python has (a numpy float32 or int64 "
        "too):\n\n"
        "    s = knotfit.fit(x, y, 'smooth')            # lambda by GCV\n"
        "    s.lam, s.df, s.gcv\n"
        "    lower, upper = s.band(0.95)                # at the distinct x\n"
        "    knotfit.fit(x, y, 'smooth', lam=('df', 8)) # as stiff as 8 "
        "parameters\n\n"
        "tolerance=E (a number, in y's units) or 'E%' (of the y range) "
        "gives,\nas the program's --tolerance, the spline of a table with "
        "as few knots as\nfound such that the table as stored is within E "
        "of every point, and between\ntwo points within E of the band "
        "they span with the fit through every\npoint: with the default "
        "method the least-squares cubic spline on some\nof the data's "
        "abscissas, with 'pchip', 'steffen', 'makima', 'akima'\nthat "
        "interpolant through a subset of the points, with 'smooth' the C2\n"
        "cubic within E of the smoothing fit (lambda chosen as without "
        "it);\nthe other methods raise knotfit.Error. rtol=R (a number >= "
        "0, as the\nprogram's --relative-tolerance) makes each point's "
        "bound E + R|y| (E = 0\nwhen tolerance is None); a point where "
        "that is 0 raises knotfit.Error.\nIts table_bytes are the "
        "program's. When no table meets E (below what\nbinary32 holds), "
        "the best found, with a RuntimeWarning.\n\n"
        "Raises knotfit.Error with the program's message for data it would "
        "skip.");
  m.def("read_table", &ReadTable, py::arg("source"),
        "read_table(source) -> Table\n\n"
        "Reads a coefficient table from a path (str or os.PathLike) or from "
        "its\nbytes (bytes, bytearray, memoryview), without holding the "
        "interpreter lock:\nother threads run while it waits (on a FIFO, a "
        "slow disk). A malformed\ntable raises knotfit.Error naming the "
        "defect and its byte; a path\nholding a NUL byte raises it too.");
  m.def("write_table", &WriteTable, py::arg("spline"), py::arg("path"),
        py::arg("form") = "classic",
        "write_table(spline, path, form='classic') -> None\n\n"
        "Writes the spline's coefficient table in the form, 'classic', "
        "'offset'\n(binary32 about a binary64 origin: for time stamps) or "
        "'double', the\nvery bytes the knotfit program writes with "
        "--table=FORM, as the program\nwrites them: into a temporary file\n"
        "beside path, renamed over it once complete, so that a reader never "
        "sees\na part. A replaced file keeps its mode (less set-user-ID and "
        "set-group-ID)\nand, as far as the process may give them, its owner "
        "and group; a\nsymbolic link, any other non-regular file or a file "
        "you may not write at\npath is refused. Raises knotfit.Error, "
        "before writing anything, for a\nvalue that the form cannot hold, "
        "two knots that it stores with the same x,\nan unknown form or a "
        "path holding a NUL byte.");
  m.def(
      "table_bytes",
      [](const Spline &s, const std::string &form) {
        const std::vector<unsigned char> bytes =
            knotfit::table_bytes(s, FormNamed(form));
        // Made here rather than by py::bytes, which fails an assertion of
        // pybind11's in a debug build when Python cannot allocate them.
        PyObject *made = PyBytes_FromStringAndSize(
            reinterpret_cast<const char *>(bytes.data()),
            static_cast<py::ssize_t>(bytes.size()));
        if (made == nullptr) {
          throw py::error_already_set(); // MemoryError
        }
        return py::reinterpret_steal<py::bytes>(made);
      },
      py::arg("spline"), py::arg("form") = "classic",
      "table_bytes(spline, form='classic') -> bytes\n\nThe bytes "
      "write_table writes.");
}
