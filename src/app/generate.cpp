// A data set from its NAME pair to its two files.
#include "checks.h"
#include "kel.h"
#include "knotfit.h"
#include "report.h"
#include "work_array.h"

#include <algorithm>
#include <string_view>

std::string CheckDataSet(int32_t n, const double *x, const double *y,
                         const char *name) {
  const std::string_view whole(name);
  if (whole.empty()) {
    return "empty name";
  }
  // A ".." component could climb out of the KEL tree, or from CS/plot onto
  // another data set's coefficient table.
  for (size_t start = 0; start <= whole.size();) {
    const size_t slash = std::min(whole.find('/', start), whole.size());
    if (whole.substr(start, slash - start) == "..") {
      return "name has a '..' component";
    }
    start = slash + 1;
  }
  return knotfit::PointsProblem(n, x, y);
}

int32_t GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name) {
  const std::string problem = CheckDataSet(n, x, y, name);
  if (!problem.empty()) {
    ReportDataSet(name, problem, "skipped");
    return -1;
  }
  const WorkArray a = NewWorkArray(n);
  const WorkArray b = NewWorkArray(n);
  const WorkArray c = NewWorkArray(n);
  ComputeCubicSpline(n, x, y, a.get(), b.get(), c.get());
  const int32_t result = SaveKEL(name, n, x, y, a.get(), b.get(), c.get());
  if (result != 0) {
    return result;
  }
  return SavePlotFile(name, n, x, y, a.get(), b.get(), c.get());
}
