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

double c_table_value(double t, int32_t n, const float *x, const float *y,
                     const float *a, const float *b, const float *c) {
  return knotfit_table_value(t, n, x, y, a, b, c);
}
