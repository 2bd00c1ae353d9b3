#include <cstdio>
#include <knotfit.h>

int main() {
  const double x[] = {0, 1, 2, 3, 4}, y[] = {0, 1, 8, 27, 64};
  double a[5], b[5], c[5];
  ComputeCubicSpline(5, x, y, a, b, c);
  std::printf("S(2.5) = %.6f\n", getValue(2.5, 5, x, y, a, b, c));
}
