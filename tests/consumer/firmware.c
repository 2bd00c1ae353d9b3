/* The C side of a knotfit user: a table held in memory, decoded and
 * evaluated with the header-only reader, as firmware does. */
#include <knotfit/table.h>

#include <stdio.h>

int firmware_report(const unsigned char *table, size_t size, double t) {
  float x[8], y[8], a[8], b[8], c[8];
  int32_t n = 0;
  const enum knotfit_table_status status =
      knotfit_table_decode(table, size, 8, &n, x, y, a, b, c);
  if (status != KNOTFIT_TABLE_OK) {
    return printf("C: %s\n", knotfit_table_message(status));
  }
  return printf("C: %d knots, S(%g) = %.6f\n", (int)n, t,
                knotfit_table_value(t, n, x, y, a, b, c));
}
