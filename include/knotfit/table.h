/* knotfit/table.h: reads knotfit coefficient tables in C, for firmware and
 * other small programs. C99 or C++, header-only, no allocation, no library
 * calls beyond memcpy.
 *
 * The table (the file knotfit writes as CS/<name>) is, all fields
 * big-endian:
 *
 *   int32    n                 the number of knots
 *   n times  binary32 x y a b c  one record per knot, knot n-1 first
 *
 * 4 + 20 n bytes in all. On the segment from x[k] to x[k+1] the spline is
 * S(t) = y[k] + a[k] u + b[k] u^2 + c[k] u^3 with u = t - x[k].
 *
 * Usage, with the table in flash or read into RAM (any alignment):
 *
 *   #define KNOTS 64
 *   static float x[KNOTS], y[KNOTS], a[KNOTS], b[KNOTS], c[KNOTS];
 *   int32_t n;
 *   int status = knotfit_table_decode(table, table_size, KNOTS, &n,
 *                                     x, y, a, b, c);
 *   if (status != KNOTFIT_TABLE_OK)
 *     log_error(knotfit_table_message(status));
 *   else
 *     out = knotfit_table_valuef(sensor, n, x, y, a, b, c);
 *
 * The decoded arrays take 20 bytes per knot; evaluating takes about
 * log2(n) comparisons and 10 arithmetic operations, and no stack beyond a
 * few locals. knotfit_table_valuef works in float only (no double arithmetic is
 * pulled in on FPU-less targets); knotfit_table_value widens the fields to
 * double and evaluates in double, which gives bit for bit what a reader on a
 * desktop computes from the same table.
 *
 * Both expect IEEE 754 arithmetic evaluated in the type written
 * (FLT_EVAL_METHOD 0: SSE on x86, any FPU with single and double
 * instructions, or software floating point) and no -ffast-math; float must be
 * binary32, which the typedef below checks when compiling.
 */
#ifndef KNOTFIT_TABLE_H
#define KNOTFIT_TABLE_H

#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What knotfit_table_decode found. */
enum knotfit_table_status {
  KNOTFIT_TABLE_OK = 0,
  KNOTFIT_TABLE_SHORT,          /* fewer than 4 + 20 n bytes */
  KNOTFIT_TABLE_BAD_COUNT,      /* n is negative or 0 */
  KNOTFIT_TABLE_SIZE_MISMATCH,  /* more than 4 + 20 n bytes */
  KNOTFIT_TABLE_NOT_FINITE,     /* a field is infinite or NaN */
  KNOTFIT_TABLE_NOT_INCREASING, /* x does not increase strictly (as where
                                 * two x of the data differ by less than
                                 * binary32 resolves) */
  KNOTFIT_TABLE_CAPACITY        /* n is larger than the arrays */
};

/* C's casts, spelled so that C++ compilers warning about them stay quiet. */
#ifdef __cplusplus
#define KNOTFIT_TABLE_CAST_(type, value) static_cast<type>(value)
#else
#define KNOTFIT_TABLE_CAST_(type, value) ((type)(value))
#endif

typedef char knotfit_table_float_is_binary32_[sizeof(float) == 4 ? 1 : -1];

/* The big-endian 32-bit word at p. */
static inline uint32_t knotfit_table_word_(const unsigned char *p) {
  uint32_t word = p[0];
  word = word << 8 | p[1];
  word = word << 8 | p[2];
  return word << 8 | p[3];
}

/* A binary32 field as the double of the same value. */
static inline double knotfit_table_widen_(float v) {
  return KNOTFIT_TABLE_CAST_(double, v);
}

/* The quiet NaN with no payload, as <math.h>'s NAN, without <math.h>. */
static inline double knotfit_table_nan_(void) {
  const uint64_t bits = UINT64_C(0x7ff8000000000000);
  double v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

static inline float knotfit_table_nanf_(void) {
  const uint32_t bits = 0x7fc00000u;
  float v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

/* Decodes the size bytes at table into x, y, a, b, c (each with room for
 * capacity knots), knot 0 first, and sets *n to the number of knots. Checks
 * every field: on any status but KNOTFIT_TABLE_OK, *n is 0 and the arrays
 * hold nothing usable. */
static inline enum knotfit_table_status
knotfit_table_decode(const void *table, size_t size, size_t capacity,
                     int32_t *n, float *x, float *y, float *a, float *b,
                     float *c) {
  const unsigned char *p = KNOTFIT_TABLE_CAST_(const unsigned char *, table);
  float *const fields[5] = {x, y, a, b, c};
  uint32_t count;
  size_t records;
  size_t j;
  *n = 0;
  if (size < 4) {
    return KNOTFIT_TABLE_SHORT;
  }
  count = knotfit_table_word_(p);
  if (count == 0 || count > 0x7fffffffu) {
    return KNOTFIT_TABLE_BAD_COUNT;
  }
  /* Compared as record counts: 4 + 20 n may not fit in a size_t. */
  records = (size - 4) / 20;
  if (records < count) {
    return KNOTFIT_TABLE_SHORT;
  }
  if (records > count || (size - 4) % 20 != 0) {
    return KNOTFIT_TABLE_SIZE_MISMATCH;
  }
  if (count > capacity) {
    return KNOTFIT_TABLE_CAPACITY;
  }
  for (j = 0; j < records; ++j) {
    const size_t knot = records - 1 - j; /* the file holds the last first */
    size_t field;
    for (field = 0; field < 5; ++field) {
      const uint32_t bits = knotfit_table_word_(p + 4 + 20 * j + 4 * field);
      if ((bits & 0x7f800000u) == 0x7f800000u) { /* exponent all ones */
        return KNOTFIT_TABLE_NOT_FINITE;
      }
      memcpy(&fields[field][knot], &bits, sizeof(float));
    }
  }
  for (j = 1; j < records; ++j) {
    if (!(x[j] > x[j - 1])) {
      return KNOTFIT_TABLE_NOT_INCREASING;
    }
  }
  *n = KNOTFIT_TABLE_CAST_(int32_t, count);
  return KNOTFIT_TABLE_OK;
}

/* A short English text for a status, for logs. */
static inline const char *knotfit_table_message(int status) {
  switch (status) {
  case KNOTFIT_TABLE_OK:
    return "ok";
  case KNOTFIT_TABLE_SHORT:
    return "table shorter than its knot count needs";
  case KNOTFIT_TABLE_BAD_COUNT:
    return "knot count not positive";
  case KNOTFIT_TABLE_SIZE_MISMATCH:
    return "table longer than its knot count needs";
  case KNOTFIT_TABLE_NOT_FINITE:
    return "field not finite";
  case KNOTFIT_TABLE_NOT_INCREASING:
    return "x not increasing";
  case KNOTFIT_TABLE_CAPACITY:
    return "more knots than the arrays hold";
  default:
    return "unknown status";
  }
}

/* The spline at t, in float: outside [x[0], x[n-1]] the ordinate of the
 * nearer end knot, NaN for a NaN t. The arrays are as knotfit_table_decode
 * leaves them (n >= 1, x strictly increasing). An interior knot hit exactly
 * is evaluated as the right end of the segment before it. */
static inline float knotfit_table_valuef(float t, int32_t n, const float *x,
                                         const float *y, const float *a,
                                         const float *b, const float *c) {
  int32_t lo = 0;
  int32_t hi = n - 1;
  float u;
  if (n < 1 || t != t) {
    return knotfit_table_nanf_();
  }
  if (t <= x[0]) {
    return y[0];
  }
  if (t >= x[hi]) {
    return y[hi];
  }
  /* Bisection keeping x[lo] < t <= x[hi]: ends on the segment lo. */
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (x[mid] < t) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  u = t - x[lo];
  return ((a[lo] * u + y[lo]) + (b[lo] * u) * u) + ((c[lo] * u) * u) * u;
}

/* The same in double, each field widened exactly; the grouping is the one
 * every knotfit reader uses, ((a u + y) + (b u) u) + ((c u) u) u, so the
 * result is the same double everywhere. */
static inline double knotfit_table_value(double t, int32_t n, const float *x,
                                         const float *y, const float *a,
                                         const float *b, const float *c) {
  int32_t lo = 0;
  int32_t hi = n - 1;
  double u;
  if (n < 1 || t != t) {
    return knotfit_table_nan_();
  }
  if (t <= knotfit_table_widen_(x[0])) {
    return knotfit_table_widen_(y[0]);
  }
  if (t >= knotfit_table_widen_(x[hi])) {
    return knotfit_table_widen_(y[hi]);
  }
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (knotfit_table_widen_(x[mid]) < t) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  u = t - knotfit_table_widen_(x[lo]);
  return ((knotfit_table_widen_(a[lo]) * u + knotfit_table_widen_(y[lo])) +
          (knotfit_table_widen_(b[lo]) * u) * u) +
         ((knotfit_table_widen_(c[lo]) * u) * u) * u;
}

#undef KNOTFIT_TABLE_CAST_

#ifdef __cplusplus
}
#endif

#endif
