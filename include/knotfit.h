// knotfit: not-a-knot cubic splines through tabulated data.
//
// A spline is passed as the "SplineTable": the knot count n followed by five
// parallel arrays of n doubles, x (strictly increasing), y, a (slope at each
// knot), b and c (quadratic and cubic coefficient of the segment starting at
// each knot). On the segment from x[k] to x[k+1]
//
//   S(t) = y[k] + a[k]*(t - x[k]) + b[k]*(t - x[k])^2 + c[k]*(t - x[k])^3.
//
// Entry n-1 of b and c belongs to no segment; the computation sets it to 0.
#ifndef KNOTFIT_H
#define KNOTFIT_H

#include <cstdint>

// Fills a, b and c (n entries each, caller-provided) with the not-a-knot
// spline through the n points (x, y). Needs n >= 2 and x strictly increasing;
// 3 points give the parabola through them and 2 points the straight line.
// Touches no file and prints nothing.
void ComputeCubicSpline(int32_t n, const double *x, const double *y, double *a,
                        double *b, double *c);

// The spline's value at t; outside [x[0], x[n-1]] the ordinate of the nearer
// end knot. NaN for a NaN t.
double getValue(double t, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c);

#endif
