/* knotfit/table.h: reads knotfit coefficient tables in C, for firmware and
 * other small programs. C99 or C++, header-only, no allocation, no library
 * calls beyond memcpy.
 *
 * The classic table (the file knotfit writes as CS/<name>) is, all fields
 * big-endian:
 *
 *   int32    n                 the number of knots
 *   n times  binary32 x y a b c  one record per knot, knot n-1 first
 *
 * 4 + 20 n bytes in all. On the segment from x[k] to x[k+1] the spline is
 * S(t) = y[k] + a[k] u + b[k] u^2 + c[k] u^3 with u = t - x[k]. Consecutive
 * knots may share an x (knots that collapsed in binary32): that segment has
 * zero width and is never used, as the segment of t is the one ending at
 * the first knot with x >= t.
 *
 * The offset and double forms keep the abscissas' precision (binary32 holds
 * 1.7e9 only to 128): a 28-byte header
 *
 *   4 bytes  8B 4B 46 54       the magic ("\x8bKFT"; a classic reader sees
 *                              a negative count)
 *   uint16   version           1
 *   uint16   form              1 offset, 2 double
 *   int32    n
 *   binary64 x0, y0            the origin
 *
 * then n records x - x0, y - y0, a, b, c: binary32 (offset, 28 + 20 n
 * bytes) or binary64 (double, 28 + 40 n bytes). S(t) is then y0 plus the
 * cubic of the fields at t - x0. knotfit_table_view reads every form and
 * sets t.form, t.x0 and t.y0 (0 for the classic form); every double
 * function below takes and gives absolute abscissas and values.
 *
 * Straight from the table's bytes (in flash or RAM, any alignment), checked
 * once and never copied:
 *
 *   struct knotfit_table curve;
 *   if (knotfit_table_view(table, table_size, &curve) != KNOTFIT_TABLE_OK)
 *     log_error("bad table");
 *   out = knotfit_table_atf(&curve, sensor);               float only
 *   v = knotfit_table_at(&curve, t, KNOTFIT_EXTRAPOLATE_LINEAR);  double
 *
 * or decoded into arrays (20 bytes per knot, faster to evaluate):
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
 *   curve = knotfit_table_of(n, x, y, a, b, c);   for the calls below
 *
 * knotfit_table_decode reads the classic form only; a table of the other
 * forms has, for it as for every classic reader, a count below 1
 * (KNOTFIT_TABLE_BAD_COUNT).
 *
 * Evaluating takes about log2(n) comparisons and 10 arithmetic operations.
 * knotfit_table_atf and knotfit_table_valuef work in float only (no double
 * arithmetic is pulled in on FPU-less targets), on classic tables; as a
 * float cannot hold a large abscissa, the offset form is evaluated in float
 * relative to its origin (as is a classic table, whose origin is 0; NaN for
 * the double form):
 *
 *   out = knotfit_table_atf_offset(&curve, seconds_since_x0);   S - y0
 *
 * The double functions widen the fields to double and give bit for bit
 * what every knotfit reader (the C++ Table, docs/read_table.py,
 * knotfit-eval) computes from the same table: S, S', S'' with a rule
 * beyond the knots, the integral, the inverse lookup.
 *
 * They expect IEEE 754 arithmetic evaluated in the type written
 * (FLT_EVAL_METHOD 0: SSE on x86, any FPU with single and double
 * instructions, or software floating point); float must be binary32. The
 * header refuses -ffast-math and keeps multiply-adds from being fused
 * whatever the compiler's options: GCC by its optimize pragma, clang by the
 * standard FP_CONTRACT pragma (which clang's -ffp-contract=fast disregards).
 */
#ifndef KNOTFIT_TABLE_H
#define KNOTFIT_TABLE_H

#include <float.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__FAST_MATH__)
#error "knotfit/table.h: -ffast-math changes the results; compile without it"
#endif
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0
#error                                                                         \
    "knotfit/table.h needs FLT_EVAL_METHOD 0 (32-bit x86: -msse2 -mfpmath=sse)"
#endif

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
#endif
/* First in every function body that does arithmetic. */
#if defined(__clang__)
#define KNOTFIT_TABLE_EXACT_ _Pragma("STDC FP_CONTRACT OFF")
#else
#define KNOTFIT_TABLE_EXACT_
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What knotfit_table_decode and knotfit_table_view found. */
enum knotfit_table_status {
  KNOTFIT_TABLE_OK = 0,
  KNOTFIT_TABLE_SHORT,          /* fewer than 4 + 20 n bytes */
  KNOTFIT_TABLE_BAD_COUNT,      /* n is negative or 0 */
  KNOTFIT_TABLE_SIZE_MISMATCH,  /* more than 4 + 20 n bytes */
  KNOTFIT_TABLE_NOT_FINITE,     /* a field is infinite or NaN */
  KNOTFIT_TABLE_NOT_INCREASING, /* an x below the one before it */
  KNOTFIT_TABLE_CAPACITY,       /* n is larger than the arrays */
  KNOTFIT_TABLE_VERSION,        /* a header of a version not known here */
  KNOTFIT_TABLE_FORM,           /* a header naming a form not known here */
  KNOTFIT_TABLE_RANGE /* x0 + x or the knots' span overflows a double */
};

/* How a table stores its fields: the form codes of the header. */
enum knotfit_table_form {
  KNOTFIT_TABLE_CLASSIC = 0, /* x y a b c in binary32, no header */
  KNOTFIT_TABLE_OFFSET = 1,  /* x - x0, y - y0, a, b, c in binary32 */
  KNOTFIT_TABLE_DOUBLE = 2   /* the same in binary64 */
};

/* What S is beyond the knots, [x[0], x[n-1]]. */
enum knotfit_extrapolation {
  KNOTFIT_EXTRAPOLATE_CLAMP = 0, /* the end ordinate, S' = S'' = 0 */
  KNOTFIT_EXTRAPOLATE_LINEAR,    /* the end ordinate and slope a */
  KNOTFIT_EXTRAPOLATE_CUBIC,     /* the end segment's polynomial, continued */
  KNOTFIT_EXTRAPOLATE_NAN        /* NaN, also for integrals reaching there */
};

/* A checked table: its bytes (bytes not NULL), or decoded arrays of the
 * classic form. form is an enum knotfit_table_form; x0 and y0 the origin of
 * the offset and double forms, 0 for the classic one. */
struct knotfit_table {
  int32_t n;
  const unsigned char *bytes;
  const float *x, *y, *a, *b, *c;
  int form;
  double x0, y0;
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

static inline float knotfit_table_float_(uint32_t bits) {
  float v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

/* The big-endian binary64 at p. */
static inline double knotfit_table_double_(const unsigned char *p) {
  const uint64_t bits = KNOTFIT_TABLE_CAST_(uint64_t, knotfit_table_word_(p))
                            << 32 |
                        knotfit_table_word_(p + 4);
  double v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

/* Whether the binary32 (or the high word of the binary64) of the word has
 * its exponent all ones: infinite or NaN. */
static inline int knotfit_table_not_finite_(uint32_t word, int wide) {
  const uint32_t ones = wide ? 0x7ff00000u : 0x7f800000u;
  return (word & ones) == ones;
}

/* The header's 16-bit word at p. */
static inline unsigned knotfit_table_half_(const unsigned char *p) {
  return KNOTFIT_TABLE_CAST_(unsigned, p[0] << 8 | p[1]);
}

/* Where the records start, and the size of a field. */
static inline size_t knotfit_table_start_(const struct knotfit_table *t) {
  return t->form == KNOTFIT_TABLE_CLASSIC ? 4 : 28;
}

static inline size_t knotfit_table_width_(const struct knotfit_table *t) {
  return t->form == KNOTFIT_TABLE_DOUBLE ? 8 : 4;
}

/* The quiet NaN with no payload, as <math.h>'s NAN, without <math.h>. */
static inline double knotfit_table_nan_(void) {
  const uint64_t bits = UINT64_C(0x7ff8000000000000);
  double v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

/* Where field f (0 x, 1 y, 2 a, 3 b, 4 c) of knot k is in the bytes. */
static inline const unsigned char *
knotfit_table_field_(const struct knotfit_table *t, int f, int32_t k) {
  const size_t width = knotfit_table_width_(t);
  return t->bytes + knotfit_table_start_(t) +
         5 * width * KNOTFIT_TABLE_CAST_(size_t, t->n - 1 - k) +
         width * KNOTFIT_TABLE_CAST_(size_t, f);
}

/* Field f of knot k of the classic or offset form, and of any form as a
 * double. */
static inline float knotfit_table_get_(const struct knotfit_table *t, int f,
                                       int32_t k) {
  const float *const arrays[5] = {t->x, t->y, t->a, t->b, t->c};
  if (t->bytes != NULL) {
    return knotfit_table_float_(
        knotfit_table_word_(knotfit_table_field_(t, f, k)));
  }
  return arrays[f][k];
}

static inline double knotfit_table_d_(const struct knotfit_table *t, int f,
                                      int32_t k) {
  if (t->form == KNOTFIT_TABLE_DOUBLE) {
    return knotfit_table_double_(knotfit_table_field_(t, f, k));
  }
  return KNOTFIT_TABLE_CAST_(double, knotfit_table_get_(t, f, k));
}

/* Checks a table of size bytes for at most capacity knots and sets *t to
 * evaluate it where it is; a header is read only where headed, and is
 * otherwise a classic count below 1. On any status but KNOTFIT_TABLE_OK,
 * t->n is 0. */
static inline enum knotfit_table_status
knotfit_table_check_(const unsigned char *p, size_t size, size_t capacity,
                     int headed, struct knotfit_table *t) {
  uint32_t count;
  size_t start = 4, record, j;
  int32_t k;
  memset(t, 0, sizeof *t);
  t->bytes = p;
  if (size < 4) {
    return KNOTFIT_TABLE_SHORT;
  }
  count = knotfit_table_word_(p);
  if (headed && p[0] == 0x8b && p[1] == 'K' && p[2] == 'F' && p[3] == 'T') {
    if (size < 28) {
      return KNOTFIT_TABLE_SHORT;
    }
    if (knotfit_table_half_(p + 4) != 1) {
      return KNOTFIT_TABLE_VERSION;
    }
    t->form = KNOTFIT_TABLE_CAST_(int, knotfit_table_half_(p + 6));
    if (t->form != KNOTFIT_TABLE_OFFSET && t->form != KNOTFIT_TABLE_DOUBLE) {
      t->form = KNOTFIT_TABLE_CLASSIC;
      return KNOTFIT_TABLE_FORM;
    }
    count = knotfit_table_word_(p + 8);
    start = 28;
  }
  if (count == 0 || count > 0x7fffffffu) {
    return KNOTFIT_TABLE_BAD_COUNT;
  }
  /* The capacity first: a buffer sized for it holds a cut larger table. */
  if (count > capacity) {
    return KNOTFIT_TABLE_CAPACITY;
  }
  /* Compared as record counts: start + record n may not fit in a size_t. */
  record = 5 * knotfit_table_width_(t);
  if ((size - start) / record < count) {
    return KNOTFIT_TABLE_SHORT;
  }
  if ((size - start) / record > count || (size - start) % record != 0) {
    return KNOTFIT_TABLE_SIZE_MISMATCH;
  }
  /* The origin, then every field: a binary32, or a binary64's high word. */
  if (start == 28 &&
      (knotfit_table_not_finite_(knotfit_table_word_(p + 12), 1) ||
       knotfit_table_not_finite_(knotfit_table_word_(p + 20), 1))) {
    return KNOTFIT_TABLE_NOT_FINITE;
  }
  for (j = start; j < size; j += knotfit_table_width_(t)) {
    if (knotfit_table_not_finite_(knotfit_table_word_(p + j),
                                  t->form == KNOTFIT_TABLE_DOUBLE)) {
      return KNOTFIT_TABLE_NOT_FINITE;
    }
  }
  t->n = KNOTFIT_TABLE_CAST_(int32_t, count);
  for (k = 1; k < t->n; ++k) {
    if (knotfit_table_d_(t, 0, k) < knotfit_table_d_(t, 0, k - 1)) {
      t->n = 0;
      return KNOTFIT_TABLE_NOT_INCREASING;
    }
  }
  if (start == 28) {
    /* Every double function computes x0 + x and the span of the knots;
     * x increases, so the end knots decide. An infinite span, or one from
     * an infinite end, minus itself is NaN. */
    const double x0 = knotfit_table_double_(p + 12);
    const double span = (x0 + knotfit_table_d_(t, 0, t->n - 1)) -
                        (x0 + knotfit_table_d_(t, 0, 0));
    if (!(span - span == 0.0)) {
      t->n = 0;
      return KNOTFIT_TABLE_RANGE;
    }
    t->x0 = x0;
    t->y0 = knotfit_table_double_(p + 20);
  }
  return KNOTFIT_TABLE_OK;
}

/* Checks the size bytes at table and sets *t to evaluate them where they
 * are (they must stay). On any status but KNOTFIT_TABLE_OK, t->n is 0. */
static inline enum knotfit_table_status
knotfit_table_view(const void *table, size_t size, struct knotfit_table *t) {
  return knotfit_table_check_(KNOTFIT_TABLE_CAST_(const unsigned char *, table),
                              size, SIZE_MAX, 1, t);
}

/* Decodes the size bytes at table, a classic table, into x, y, a, b, c
 * (each with room for capacity knots), knot 0 first, and sets *n to the
 * number of knots. Checks every field: on any status but KNOTFIT_TABLE_OK,
 * *n is 0 and the arrays hold nothing usable. */
static inline enum knotfit_table_status
knotfit_table_decode(const void *table, size_t size, size_t capacity,
                     int32_t *n, float *x, float *y, float *a, float *b,
                     float *c) {
  float *const fields[5] = {x, y, a, b, c};
  struct knotfit_table t;
  int32_t k;
  int f;
  const enum knotfit_table_status status = knotfit_table_check_(
      KNOTFIT_TABLE_CAST_(const unsigned char *, table), size, capacity, 0, &t);
  *n = t.n;
  for (k = 0; k < *n; ++k) {
    for (f = 0; f < 5; ++f) {
      fields[f][k] = knotfit_table_get_(&t, f, k);
    }
  }
  return status;
}

/* The decoded arrays of n knots as a table for the functions below. */
static inline struct knotfit_table
knotfit_table_of(int32_t n, const float *x, const float *y, const float *a,
                 const float *b, const float *c) {
  struct knotfit_table t;
  t.n = n;
  t.bytes = NULL;
  t.x = x;
  t.y = y;
  t.a = a;
  t.b = b;
  t.c = c;
  t.form = KNOTFIT_TABLE_CLASSIC;
  t.x0 = 0.0;
  t.y0 = 0.0;
  return t;
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
  case KNOTFIT_TABLE_VERSION:
    return "table version not known";
  case KNOTFIT_TABLE_FORM:
    return "table form not known";
  case KNOTFIT_TABLE_RANGE:
    return "x0 + x or the knots' span overflows a double";
  default:
    return "unknown status";
  }
}

/* The segment k of t, x[0] < t <= x[n-1]: bisection keeping
 * x[lo] < t <= x[hi] ends with hi the first knot with x >= t. */
static inline int32_t knotfit_table_segment_(const struct knotfit_table *t,
                                             double at) {
  int32_t lo = 0;
  int32_t hi = t->n - 1;
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (knotfit_table_d_(t, 0, mid) < at) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return lo;
}

/* The segments at the ends that have a width: the first after x[0], the
 * last before x[n-1]. Only where x[0] < x[n-1]. */
static inline int32_t knotfit_table_end_segment_(const struct knotfit_table *t,
                                                 int32_t end) {
  int32_t i = 1;
  if (end != 0) {
    return knotfit_table_segment_(t, knotfit_table_d_(t, 0, end));
  }
  while (i < t->n - 1 &&
         !(knotfit_table_d_(t, 0, i) > knotfit_table_d_(t, 0, 0))) {
    ++i;
  }
  return i - 1;
}

/* S (order 0), S' or S'' on segment k at u = t - x[k], grouped as every
 * knotfit reader groups them. */
static inline double knotfit_table_poly_(const struct knotfit_table *t,
                                         int order, int32_t k, double u) {
  KNOTFIT_TABLE_EXACT_
  const double y = knotfit_table_d_(t, 1, k), a = knotfit_table_d_(t, 2, k);
  const double b = knotfit_table_d_(t, 3, k), c = knotfit_table_d_(t, 4, k);
  if (order == 0) {
    return ((a * u + y) + (b * u) * u) + ((c * u) * u) * u;
  }
  if (order == 1) {
    return a + ((b + b) + (c * 3.0) * u) * u;
  }
  return (b + b) + (c * 6.0) * u;
}

/* The integral of segment k from x[k] to x[k] + u. */
static inline double knotfit_table_primitive_(const struct knotfit_table *t,
                                              int32_t k, double u) {
  KNOTFIT_TABLE_EXACT_
  const double y = knotfit_table_d_(t, 1, k), a = knotfit_table_d_(t, 2, k);
  const double b = knotfit_table_d_(t, 3, k), c = knotfit_table_d_(t, 4, k);
  return (((c / 4.0 * u + b / 3.0) * u + a / 2.0) * u + y) * u;
}

/* S with the end ordinates beyond the knots. */
static inline double knotfit_table_clamped_(const struct knotfit_table *t,
                                            double at) {
  int32_t k;
  if (t->n < 1 || at != at) {
    return knotfit_table_nan_();
  }
  if (at <= knotfit_table_d_(t, 0, 0)) {
    return knotfit_table_d_(t, 1, 0);
  }
  if (at >= knotfit_table_d_(t, 0, t->n - 1)) {
    return knotfit_table_d_(t, 1, t->n - 1);
  }
  k = knotfit_table_segment_(t, at);
  return knotfit_table_poly_(t, 0, k, at - knotfit_table_d_(t, 0, k));
}

static inline int knotfit_table_has_segment_(const struct knotfit_table *t) {
  return knotfit_table_d_(t, 0, 0) < knotfit_table_d_(t, 0, t->n - 1);
}

/* S, S' or S'' beyond the end knot `end` (0 or n-1), and its integral
 * from p to q (integral != 0). */
static inline double knotfit_table_beyond_(const struct knotfit_table *t,
                                           int order, int32_t end, double p,
                                           double q,
                                           enum knotfit_extrapolation e,
                                           int integral) {
  KNOTFIT_TABLE_EXACT_
  const double ye = knotfit_table_d_(t, 1, end);
  const double ae = knotfit_table_d_(t, 2, end);
  const double xe = knotfit_table_d_(t, 0, end);
  if (e == KNOTFIT_EXTRAPOLATE_CUBIC && knotfit_table_has_segment_(t)) {
    const int32_t k = knotfit_table_end_segment_(t, end);
    const double xk = knotfit_table_d_(t, 0, k);
    return integral ? knotfit_table_primitive_(t, k, q - xk) -
                          knotfit_table_primitive_(t, k, p - xk)
                    : knotfit_table_poly_(t, order, k, p - xk);
  }
  if (e == KNOTFIT_EXTRAPOLATE_LINEAR || e == KNOTFIT_EXTRAPOLATE_CUBIC) {
    if (integral) {
      return (ae / 2.0 * (q - xe) + ye) * (q - xe) -
             (ae / 2.0 * (p - xe) + ye) * (p - xe);
    }
    return order == 0 ? ae * (p - xe) + ye : order == 1 ? ae : 0.0;
  }
  if (e == KNOTFIT_EXTRAPOLATE_NAN) {
    return knotfit_table_nan_();
  }
  return integral ? ye * (q - p) : order == 0 ? ye : 0.0;
}

/* S (order 0), S' or S'' of the fields as they are at x; at x[0] and
 * x[n-1] the derivatives from inside. NaN for a NaN x. */
static inline double knotfit_table_local_(const struct knotfit_table *t,
                                          int order, double x,
                                          enum knotfit_extrapolation e) {
  int32_t k;
  double first, last;
  if (t->n < 1 || x != x) {
    return knotfit_table_nan_();
  }
  first = knotfit_table_d_(t, 0, 0);
  last = knotfit_table_d_(t, 0, t->n - 1);
  if (x < first || x > last) {
    return knotfit_table_beyond_(t, order, x < first ? 0 : t->n - 1, x, x, e,
                                 0);
  }
  if (order == 0) {
    return knotfit_table_clamped_(t, x);
  }
  if (!knotfit_table_has_segment_(t)) {
    return 0.0; /* a single point */
  }
  k = x == first ? knotfit_table_end_segment_(t, 0)
                 : knotfit_table_segment_(t, x);
  return knotfit_table_poly_(t, order, k, x - knotfit_table_d_(t, 0, k));
}

/* The same at the absolute abscissa x: about the origin, S with y0 added,
 * for the offset and double forms; nothing added for the classic form
 * (0 + -0 would be +0). */
static inline double knotfit_table_derive_(const struct knotfit_table *t,
                                           int order, double x,
                                           enum knotfit_extrapolation e) {
  KNOTFIT_TABLE_EXACT_
  double local;
  if (t->form == KNOTFIT_TABLE_CLASSIC) {
    return knotfit_table_local_(t, order, x, e);
  }
  local = knotfit_table_local_(t, order, x - t->x0, e);
  return order == 0 ? t->y0 + local : local;
}

static inline double knotfit_table_at(const struct knotfit_table *t, double x,
                                      enum knotfit_extrapolation e) {
  return knotfit_table_derive_(t, 0, x, e);
}

static inline double knotfit_table_derivative(const struct knotfit_table *t,
                                              double x,
                                              enum knotfit_extrapolation e) {
  return knotfit_table_derive_(t, 1, x, e);
}

static inline double
knotfit_table_second_derivative(const struct knotfit_table *t, double x,
                                enum knotfit_extrapolation e) {
  return knotfit_table_derive_(t, 2, x, e);
}

/* The integral of the fields as they are from lo to hi (negative for
 * hi < lo): the part before x[0], the segments, each from its own knot, the
 * part after x[n-1]. */
static inline double
knotfit_table_local_integral_(const struct knotfit_table *t, double lo,
                              double hi, enum knotfit_extrapolation e) {
  KNOTFIT_TABLE_EXACT_
  double sum = 0.0, first, last, from, to;
  if (hi < lo) {
    return -knotfit_table_local_integral_(t, hi, lo, e);
  }
  if (t->n < 1 || lo != lo || hi != hi) {
    return knotfit_table_nan_();
  }
  first = knotfit_table_d_(t, 0, 0);
  last = knotfit_table_d_(t, 0, t->n - 1);
  if (lo < first) {
    sum += knotfit_table_beyond_(t, 0, 0, lo, first < hi ? first : hi, e, 1);
  }
  from = lo < first ? first : lo;
  to = last < hi ? last : hi;
  if (from < to) {
    int32_t k;
    for (k = knotfit_table_segment_(t, from);; ++k) {
      const double xk = knotfit_table_d_(t, 0, k);
      const double next = knotfit_table_d_(t, 0, k + 1);
      const double end = next < to ? next : to;
      sum += knotfit_table_primitive_(t, k, end - xk) -
             knotfit_table_primitive_(t, k, from - xk);
      if (end == to) {
        break;
      }
      from = end;
    }
  }
  if (hi > last) {
    sum +=
        knotfit_table_beyond_(t, 0, t->n - 1, lo < last ? last : lo, hi, e, 1);
  }
  return sum;
}

/* The integral of S from lo to hi: for the offset and double forms, that of
 * the fields from lo - x0 to hi - x0, plus y0 (hi - lo). */
static inline double knotfit_table_integral(const struct knotfit_table *t,
                                            double lo, double hi,
                                            enum knotfit_extrapolation e) {
  KNOTFIT_TABLE_EXACT_
  if (t->form == KNOTFIT_TABLE_CLASSIC) {
    return knotfit_table_local_integral_(t, lo, hi, e);
  }
  return knotfit_table_local_integral_(t, lo - t->x0, hi - t->x0, e) +
         t->y0 * (hi - lo);
}

/* An ordinate of the fields as S has it, and field f (0 x, 1 y) of knot k
 * likewise: y0 or x0 added for the offset and double forms. */
static inline double knotfit_table_level_(const struct knotfit_table *t,
                                          double y) {
  KNOTFIT_TABLE_EXACT_
  return t->form == KNOTFIT_TABLE_CLASSIC ? y : t->y0 + y;
}

static inline double knotfit_table_abs_(const struct knotfit_table *t, int f,
                                        int32_t k) {
  KNOTFIT_TABLE_EXACT_
  const double v = knotfit_table_d_(t, f, k);
  return t->form == KNOTFIT_TABLE_CLASSIC ? v : (f == 0 ? t->x0 : t->y0) + v;
}

/* The function whose zeros the inverse lookup seeks at the abscissa at: S -
 * v (order 0, S with the end ordinates), or S' or S'' of segment k (order
 * 1, 2), each as knotfit_table_at computes it. */
static inline double knotfit_table_g_(const struct knotfit_table *t, int order,
                                      int32_t k, double v, double at) {
  KNOTFIT_TABLE_EXACT_
  if (t->form != KNOTFIT_TABLE_CLASSIC) {
    at = at - t->x0;
  }
  if (order == 0) {
    return knotfit_table_level_(t, knotfit_table_clamped_(t, at)) - v;
  }
  return knotfit_table_poly_(t, order, k, at - knotfit_table_d_(t, 0, k));
}

static inline int knotfit_table_opposite_(double p, double q) {
  return (p < 0 && q > 0) || (p > 0 && q < 0);
}

/* A zero of g between lo and hi, where g has opposite signs: bisection
 * down to neighbouring doubles, then the one where |g| is smaller (lo on a
 * tie), unless a midpoint hits 0. */
static inline double knotfit_table_zero_(const struct knotfit_table *t,
                                         int order, int32_t k, double v,
                                         double lo, double hi) {
  KNOTFIT_TABLE_EXACT_
  const int lo_negative = knotfit_table_g_(t, order, k, v, lo) < 0;
  double glo, ghi;
  for (;;) {
    const double mid = (lo + hi) / 2;
    double gm;
    if (!(lo < mid && mid < hi)) {
      break;
    }
    gm = knotfit_table_g_(t, order, k, v, mid);
    if (gm == 0) {
      return mid;
    }
    if ((gm < 0) == lo_negative) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  glo = knotfit_table_g_(t, order, k, v, lo);
  ghi = knotfit_table_g_(t, order, k, v, hi);
  return (ghi < 0 ? -ghi : ghi) < (glo < 0 ? -glo : glo) ? hi : lo;
}

/* Keeps r when it is above the last root kept; counts every root. */
static inline void knotfit_table_add_(double r, double *roots, size_t capacity,
                                      size_t *count, double *last) {
  if (*count == 0 || r > *last) {
    if (*count < capacity) {
      roots[*count] = r;
    }
    ++*count;
    *last = r;
  }
}

/* The abscissas in [x[0], x[n-1]] where S(r) = v, in increasing order: each
 * r is a double where S(r) - v is 0 or changes sign between r and a
 * neighbouring double (the segments of the offset and double forms run
 * from x0 + x[k] to x0 + x[k+1]). A segment on which S is v throughout gives
 * its two end knots. Stores the first `capacity` in roots and returns how many
 * there are (0 for a NaN v). On each segment the zeros of S'' cut it into
 * pieces where S' is monotone, the zeros of S' into pieces where S is, and
 * each of those holds one zero of S - v at most. */
static inline size_t knotfit_table_inverse(const struct knotfit_table *t,
                                           double v, double *roots,
                                           size_t capacity) {
  size_t count = 0;
  double last = 0.0;
  int32_t k;
  if (t->n < 1 || v != v) {
    return 0;
  }
  for (k = 0; k + 1 < t->n; ++k) {
    double at[5];
    size_t cuts = 2, i;
    int order;
    if (!(knotfit_table_d_(t, 0, k) < knotfit_table_d_(t, 0, k + 1))) {
      continue; /* zero width */
    }
    at[0] = knotfit_table_abs_(t, 0, k);
    at[1] = knotfit_table_abs_(t, 0, k + 1);
    if (knotfit_table_d_(t, 2, k) == 0 && knotfit_table_d_(t, 3, k) == 0 &&
        knotfit_table_d_(t, 4, k) == 0 &&
        knotfit_table_level_(t, knotfit_table_d_(t, 1, k)) == v) {
      knotfit_table_add_(at[0], roots, capacity, &count, &last);
      knotfit_table_add_(at[1], roots, capacity, &count, &last);
      continue;
    }
    for (order = 2; order >= 1; --order) {
      for (i = 0; i + 1 < cuts; ++i) {
        if (knotfit_table_opposite_(
                knotfit_table_g_(t, order, k, v, at[i]),
                knotfit_table_g_(t, order, k, v, at[i + 1]))) {
          memmove(at + i + 2, at + i + 1, (cuts - i - 1) * sizeof *at);
          at[i + 1] = knotfit_table_zero_(t, order, k, v, at[i], at[i + 2]);
          ++cuts;
          ++i;
        }
      }
    }
    for (i = 0; i + 1 < cuts; ++i) {
      const double sl = knotfit_table_g_(t, 0, k, v, at[i]);
      if (sl == 0) {
        knotfit_table_add_(at[i], roots, capacity, &count, &last);
      } else if (knotfit_table_opposite_(
                     sl, knotfit_table_g_(t, 0, k, v, at[i + 1]))) {
        knotfit_table_add_(knotfit_table_zero_(t, 0, k, v, at[i], at[i + 1]),
                           roots, capacity, &count, &last);
      }
    }
  }
  if (knotfit_table_g_(t, 0, 0, v, knotfit_table_abs_(t, 0, t->n - 1)) == 0) {
    knotfit_table_add_(knotfit_table_abs_(t, 0, t->n - 1), roots, capacity,
                       &count, &last);
  }
  return count;
}

/* S - y0 at x0 + dx in float, with the end ordinates beyond the knots, for
 * the classic form (where x0 = y0 = 0) and the offset form; NaN for a NaN
 * dx and for the double form. An interior knot hit exactly is evaluated as
 * the right end of the segment before it. */
static inline float knotfit_table_atf_offset(const struct knotfit_table *t,
                                             float dx) {
  KNOTFIT_TABLE_EXACT_
  int32_t k;
  float u;
  if (t->n < 1 || dx != dx || t->form == KNOTFIT_TABLE_DOUBLE) {
    return knotfit_table_float_(0x7fc00000u);
  }
  if (dx <= knotfit_table_get_(t, 0, 0)) {
    return knotfit_table_get_(t, 1, 0);
  }
  if (dx >= knotfit_table_get_(t, 0, t->n - 1)) {
    return knotfit_table_get_(t, 1, t->n - 1);
  }
  k = knotfit_table_segment_(t, KNOTFIT_TABLE_CAST_(double, dx));
  u = dx - knotfit_table_get_(t, 0, k);
  return ((knotfit_table_get_(t, 2, k) * u + knotfit_table_get_(t, 1, k)) +
          (knotfit_table_get_(t, 3, k) * u) * u) +
         ((knotfit_table_get_(t, 4, k) * u) * u) * u;
}

/* S at x in float, with the end ordinates beyond the knots, for the classic
 * form; NaN for a NaN x and for the other forms, which
 * knotfit_table_atf_offset evaluates. */
static inline float knotfit_table_atf(const struct knotfit_table *t, float x) {
  if (t->form != KNOTFIT_TABLE_CLASSIC) {
    return knotfit_table_float_(0x7fc00000u);
  }
  return knotfit_table_atf_offset(t, x);
}

/* knotfit_table_atf and knotfit_table_at (clamped) on decoded arrays, as
 * knotfit_table_decode leaves them. */
static inline float knotfit_table_valuef(float t, int32_t n, const float *x,
                                         const float *y, const float *a,
                                         const float *b, const float *c) {
  const struct knotfit_table table = knotfit_table_of(n, x, y, a, b, c);
  return knotfit_table_atf(&table, t);
}

static inline double knotfit_table_value(double t, int32_t n, const float *x,
                                         const float *y, const float *a,
                                         const float *b, const float *c) {
  const struct knotfit_table table = knotfit_table_of(n, x, y, a, b, c);
  return knotfit_table_at(&table, t, KNOTFIT_EXTRAPOLATE_CLAMP);
}

#undef KNOTFIT_TABLE_CAST_
#undef KNOTFIT_TABLE_EXACT_

#ifdef __cplusplus
}
#endif

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif

#endif
