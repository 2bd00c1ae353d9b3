// Included by every source whose floating-point results end up in a table, a
// plot file or a message: those are compared byte for byte, so the build
// must round every operation once, to the type written, as IEEE 754 says.
// Two builds that did not, and what they broke:
//  - x87 arithmetic (FLT_EVAL_METHOD 2, 32-bit x86 without SSE2) rounds to 80
//    bits first and to double after: the number parser's fast path m / 10^k
//    came out 1 ulp off on about 1 token in 100,000;
//  - -ffast-math reassociates sums and drops signed zeros: signs of zero and
//    plot values changed in 12 of 27 generated data sets.
// -ffinite-math-only alone would also remove the checks for inf and NaN in
// the input. The build adds -msse2 -mfpmath=sse on 32-bit x86; these checks
// stop any other way in.
#ifndef KNOTFIT_LIB_EXACT_MATH_H
#define KNOTFIT_LIB_EXACT_MATH_H

#include <cfloat>

#if defined(__FAST_MATH__)
#error "knotfit cannot keep its output exact with -ffast-math (or -Ofast)"
#endif
#if defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "knotfit checks its input for inf and NaN: no -ffinite-math-only"
#endif
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "knotfit needs FLT_EVAL_METHOD 0 (on 32-bit x86: -msse2 -mfpmath=sse)"
#endif

#endif
