// Fuzz target: arbitrary bytes as an input file, through the whole pipeline
// (reader, checks, engine, both writers) into a scratch KEL tree, then the
// invariants of what was written: every table the program writes is the
// library's table_bytes of the same fit, byte for byte (every method, the
// compact form of long fits and the double one), every table decodes, its
// count matches its size, every field is finite, no temporary file is left;
// the same fit's tables of the offset and double forms read back.
// On the way, the bisection in getValue is checked against a linear search,
// the number parser against strtod and the "%f" printer against snprintf.
// The input's second byte also draws the smoothing spline's lambda and
// weights, or a bound (--tolerance) with every form and auto: those fits
// are checked for what they write (tables that read back, finite fields).
#include "driver.h"
#include "fit/generate.h"
#include "input/number_text.h"
#include "input/token_reader.h"
#include "knotfit.h"
#include "knotfit/table.hpp"
#include "knotfit_internal.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

void Check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

uint64_t Bits(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

bool SameBits(double a, double b) {
  return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b));
}

// The segment a linear search from the first knot picks.
double LinearValue(double t, int32_t n, const double *x, const double *y,
                   const double *a, const double *b, const double *c) {
  if (t <= x[0]) {
    return y[0];
  }
  if (t >= x[n - 1]) {
    return y[n - 1];
  }
  int32_t i = 0;
  while (t > x[i]) {
    ++i;
  }
  const int32_t k = i - 1;
  const double u = t - x[k];
  return ((a[k] * u + y[k]) + (b[k] * u) * u) + ((c[k] * u) * u) * u;
}

std::vector<unsigned char> ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The library's table of the fit; for knots that collapse in binary32,
// which table_bytes refuses and the program writes with a warning, the same
// encoding without that check.
std::vector<unsigned char> LibraryTable(const knotfit::Spline &s) {
  try {
    return knotfit::table_bytes(s);
  } catch (const knotfit::Error &) {
    knotfit::detail::TableFields fields;
    fields.n = static_cast<int32_t>(s.size());
    fields.x = s.x().data();
    fields.y = s.y().data();
    fields.a = s.a().data();
    fields.b = s.b().data();
    fields.c = s.c().data();
    Check(!knotfit::detail::CollapsedKnots(fields.n, fields.x).empty(),
          "table_bytes refuses only collapsed knots of a written table");
    std::vector<unsigned char> bytes;
    struct {
      std::vector<unsigned char> &bytes;
      char *Room(size_t size) {
        bytes.resize(bytes.size() + size);
        return reinterpret_cast<char *>(bytes.data() + bytes.size() - size);
      }
      void Commit(const char *) {}
      bool ok() const { return true; }
    } out{bytes};
    knotfit::detail::EncodeTable(fields, out, [](const float *) {});
    return bytes;
  }
}

// Checks the evaluator on the way, then fits and writes as the program does,
// and compares the table written with the library's.
DataSetOutcome CheckedGenerate(const DataSet &set, const Run &run,
                               const fs::path &kel, bool weighted) {
  if (knotfit::detail::InfoOf(run.method.method).fit_near != nullptr ||
      run.tolerance != nullptr || run.table.automatic ||
      run.table.form != knotfit::TableForm::kClassic) {
    // Fits of their own: weights from the points' order (1 to 4, exact).
    std::vector<double> w(static_cast<size_t>(set.n));
    for (size_t i = 0; i < w.size(); ++i) {
      w[i] = static_cast<double>(1 + i % 4);
    }
    DataSet drawn = set;
    drawn.w = weighted && set.n > 0 ? w.data() : nullptr;
    return GenerateCubicSpline(drawn, run);
  }
  const int32_t n = set.n;
  const double *x = set.x, *y = set.y;
  const std::string_view name = set.name;
  const bool valid =
      NameProblem(name).empty() &&
      knotfit::detail::PointsProblem(n, x, y).empty() &&
      knotfit::detail::MethodProblem(run.method, n, x, y).empty();
  if (valid) {
    std::vector<double> a(static_cast<size_t>(n)), b(a), c(a);
    knotfit::detail::ComputeSpline(run.method, n, x, y, a.data(), b.data(),
                                   c.data());
    for (int32_t i = 0; i < n; ++i) {
      const double mid = i + 1 < n ? x[i] + (x[i + 1] - x[i]) / 2 : x[i] + 1;
      for (double t : {x[i], mid, std::nextafter(x[i], -INFINITY)}) {
        Check(SameBits(LinearValue(t, n, x, y, a.data(), b.data(), c.data()),
                       getValue(t, n, x, y, a.data(), b.data(), c.data())),
              "bisection picks the linear search's segment");
      }
    }
  }
  const DataSetOutcome outcome = GenerateCubicSpline(set, run);
  if (outcome.files == Outcome::kWritten ||
      outcome.files == Outcome::kUnplotted) {
    Check(valid, "only valid data sets are written");
    const std::string table = (kel / "CS").string() + "/" + std::string(name);
    const knotfit::Spline fit =
        knotfit::fit(x, y, static_cast<size_t>(n), run.method);
    Check(ReadFile(table) == LibraryTable(fit),
          "the program's table is the library's");
    // The newer forms of the same fit read back, wherever they hold it, and
    // the program writes them as the library does.
    for (const auto form :
         {knotfit::TableForm::kOffset, knotfit::TableForm::kDouble}) {
      std::vector<unsigned char> bytes;
      try {
        bytes = knotfit::table_bytes(fit, form);
      } catch (const knotfit::Error &) {
        continue;
      }
      const knotfit::Table read = knotfit::read_table(bytes);
      Check(read.form() == form && read.size() == fit.size(),
            "a table of a newer form reads back");
      Run newer = run;
      newer.table.form = form;
      Check(GenerateCubicSpline(set, newer).files == outcome.files &&
                ReadFile(table) == bytes,
            "the program's table of a newer form is the library's");
      GenerateCubicSpline(set, run); // the run's own table again
    }
  }
  return outcome;
}

// Every data set of the input checked as it is generated.
class CheckEach final : public DataSetHandler {
public:
  CheckEach(const Run &run, const fs::path &kel, bool weighted)
      : run_(run), kel_(kel), weighted_(weighted) {}
  void Handle(const DataSet &set, Tally &tally) override {
    tally.Add(set, CheckedGenerate(set, run_, kel_, weighted_), run_);
  }

private:
  const Run &run_;
  const fs::path &kel_;
  bool weighted_;
};

// Every whitespace-separated token as the parser and strtod read it, and
// its value as the printer and snprintf write it.
void CheckNumberText(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  size_t at = 0;
  while ((at = text.find_first_not_of(" \t\n\v\f\r", at)) !=
         std::string::npos) {
    const size_t end =
        std::min(text.find_first_of(" \t\n\v\f\r", at), text.size());
    const std::string token = text.substr(at, end - at);
    at = end;
    const double parsed = ParseAtof(token.c_str()); // up to a NUL, as atof
    Check(SameBits(parsed, std::strtod(token.c_str(), nullptr)),
          "ParseAtof agrees with strtod");
    char ours[kFixed6Max + 1];
    char theirs[kFixed6Max + 8];
    *FormatFixed6(ours, parsed) = '\0';
    std::snprintf(theirs, sizeof theirs, "%f", parsed);
    Check(std::strcmp(ours, theirs) == 0, "FormatFixed6 agrees with %f");
  }
}

// What a run may leave in the KEL tree: tables that decode with finite
// fields, plot files, directories; no hidden temporary file.
void CheckKelTree(const fs::path &cs) {
  for (const auto &entry : fs::recursive_directory_iterator(cs)) {
    const std::string leaf = entry.path().filename().string();
    // Temporary names are hidden and hold a space, which no name can.
    Check(leaf[0] != '.' || leaf.find(' ') == std::string::npos,
          "no temporary file is left");
    const bool plot =
        entry.path().string().find("/CS/plot") != std::string::npos;
    if (!entry.is_regular_file() || plot) {
      continue;
    }
    const std::vector<unsigned char> bytes = ReadFile(entry.path());
    if (!bytes.empty() && bytes[0] >= 0x80) {
      // A newer form: read back whole (a defect throws).
      const knotfit::Table table = knotfit::read_table(bytes);
      Check(table.size() >= 1, "a table of a newer form holds a knot");
      continue;
    }
    Check(bytes.size() >= 24, "a table holds a count and a record");
    auto field = [&](size_t at) {
      return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
             uint32_t{bytes[at + 2]} << 8 | uint32_t{bytes[at + 3]};
    };
    Check(bytes.size() == 4 + 20 * size_t{field(0)}, "count matches size");
    for (size_t at = 4; at < bytes.size(); at += 4) {
      float v = 0;
      const uint32_t bits = field(at);
      std::memcpy(&v, &bits, sizeof v);
      Check(std::isfinite(v), "every table field is finite");
    }
  }
}

// A scratch KEL tree for the whole process: CS, CS/plot, and a
// subdirectory a in each, so that names with a '/' reach a file too.
struct ScratchKel {
  fs::path dir;
  ScratchKel() {
    char pattern[] = "/tmp/knotfit-fuzz-XXXXXX";
    dir = mkdtemp(pattern);
    fs::create_directories(dir / "CS/plot/a");
    fs::create_directories(dir / "CS/a");
    setenv("TROV_KEL", dir.c_str(), 1);
  }
  ~ScratchKel() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  ScratchKel(const ScratchKel &) = delete;
  ScratchKel &operator=(const ScratchKel &) = delete;
};

const fs::path &KelTree() {
  static const ScratchKel kel;
  return kel.dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) {
    return 0; // fmemopen refuses an empty buffer
  }
  const fs::path &kel = KelTree();
  CheckNumberText(data, size);
  std::FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (in == nullptr) {
    return 0;
  }
  // The input's first byte with bit 6 set makes the run shard 1 of 2: its
  // data sets planned from a first reading, shard 0's points passed over.
  DataSetNumbers numbers((data[0] & 0x40) != 0 ? ShardChoice{1, 2}
                                               : ShardChoice{});
  if (numbers.shard().given()) {
    TokenReader planning(in, 61);
    PlanInput(planning, numbers);
    std::rewind(in);
  }
  TokenReader reader(in, 61); // small blocks: tokens across every edge
  // The input's first byte also draws the method (clamped with slopes), its
  // second the smoothing spline's lambda and weights or a bound and the
  // table's form.
  const auto kinds = knotfit::detail::AllMethods();
  const knotfit::detail::MethodInfo &kind = kinds[data[0] % kinds.size()];
  Console console;
  Run run{console};
  run.method.method = kind.method;
  if (kind.end_slopes) {
    run.method.start_slope = 1.5;
    run.method.end_slope = -2.0;
  }
  const unsigned drawn = size > 1 ? data[1] : 0;
  static const knotfit::Smoothing kLambdas[] = {
      {knotfit::Smoothing::Rule::kGcv, 0.0},
      {knotfit::Smoothing::Rule::kDegreesOfFreedom, 3.0},
      {knotfit::Smoothing::Rule::kLambda, 0.5},
      {knotfit::Smoothing::Rule::kLambda, 0.0}};
  static const knotfit::detail::Tolerance kBounds[] = {
      {1.0, true}, {1e-6, false}, {50.0, true}, {0.1, false}};
  const bool smooth = knotfit::detail::InfoOf(run.method.method).smoothing;
  const bool weighted = smooth && (drawn & 4) != 0;
  if (smooth) {
    run.smoothing = kLambdas[drawn % 4];
  } else if ((drawn & 4) != 0 &&
             knotfit::detail::TakesTolerance(run.method.method)) {
    run.tolerance = &kBounds[drawn % 4];
  }
  run.table.form = static_cast<knotfit::TableForm>((drawn >> 3) % 3);
  run.table.automatic = (drawn >> 3) % 4 == 3;
  CheckEach handle(run, kel, weighted);
  InputSettings input{"fuzz"};
  input.numbers = &numbers;
  ProcessInput(reader, handle, console, input);
  std::fclose(in);
  CheckKelTree(kel / "CS");
  // Start the next input from the same empty tree.
  for (const char *sub : {"CS", "CS/plot", "CS/a", "CS/plot/a"}) {
    for (const auto &entry : fs::directory_iterator(kel / sub)) {
      if (entry.is_regular_file()) {
        fs::remove(entry.path());
      }
    }
  }
  return 0;
}
