/* knotfit/table.h compiled as C99, as firmware builds it; the GoogleTest
 * cases in table_header_test.cpp call it through these. */
#include <knotfit/table.h>

int c_table_decode(const unsigned char *table, size_t size, size_t capacity,
                   int32_t *n, float *x, float *y, float *a, float *b,
                   float *c) {
  return (int)knotfit_table_decode(table, size, capacity, n, x, y, a, b, c);
}

float c_table_valuef(float t, int32_t n, const float *x, const float *y,
                     const float *a, const float *b, const float *c) {
  return knotfit_table_valuef(t, n, x, y, a, b, c);
}

int c_table_view(const unsigned char *table, size_t size) {
  struct knotfit_table t;
  return (int)knotfit_table_view(table, size, &t);
}

/* Straight from the bytes: what (0 S, 1 S', 2 S'', 3 the integral from p to
 * q, 4 the first root of S = p, 5 S in float, 6 S - y0 in float at x0 + p)
 * with the rule. */
double c_table_calc(const unsigned char *table, size_t size, int what, double p,
                    double q, int rule) {
  struct knotfit_table t;
  const enum knotfit_extrapolation e = (enum knotfit_extrapolation)rule;
  double root = -1;
  if (knotfit_table_view(table, size, &t) != KNOTFIT_TABLE_OK) {
    return -1;
  }
  switch (what) {
  case 0:
    return knotfit_table_at(&t, p, e);
  case 1:
    return knotfit_table_derivative(&t, p, e);
  case 2:
    return knotfit_table_second_derivative(&t, p, e);
  case 3:
    return knotfit_table_integral(&t, p, q, e);
  case 5:
    return knotfit_table_atf(&t, (float)p);
  case 6:
    return knotfit_table_atf_offset(&t, (float)p);
  default:
    return knotfit_table_inverse(&t, p, &root, 1) > 0 ? root : -1;
  }
}
