#include <cstddef>
#include <cstdio>
#include <knotfit.h>
#include <knotfit/request.hpp>
#include <knotfit/table.hpp>
#include <vector>

extern "C" int firmware_report(const unsigned char *table, size_t size,
                               double t);

int main() {
  const double x[] = {0, 1, 2, 3, 4}, y[] = {0, 1, 8, 27, 64};
  double a[5], b[5], c[5];
  ComputeCubicSpline(5, x, y, a, b, c);
  std::printf("S(2.5) = %.6f\n", getValue(2.5, 5, x, y, a, b, c));

  // The same fit through the C++ interface, its table in memory, read back.
  try {
    const knotfit::Spline spline = knotfit::fit(x, y, 5);
    const knotfit::Table table =
        knotfit::read_table(knotfit::table_bytes(spline));
    std::printf("%zu knots, S(2.5) = %.6f, S'(2.5) = %.6f\n", table.size(),
                table.value(2.5), table.derivative(2.5));
    const std::vector<unsigned char> bytes = knotfit::table_bytes(spline);
    firmware_report(bytes.data(), bytes.size(), 2.5);
    firmware_report(bytes.data(), bytes.size() - 1, 2.5);
    knotfit::fit({0, 1}, {0});
  } catch (const knotfit::Error &e) {
    std::printf("error: %s\n", e.what());
  }
  // The rules between a request's parts, in the module's words.
  knotfit::Request request;
  request.method = {knotfit::Method::kSmooth};
  request.measured.ties = knotfit::Ties::kMean;
  std::printf(
      "%s\n",
      knotfit::RequestProblem(request, {}, knotfit::Naming::kKeyword).c_str());
}
