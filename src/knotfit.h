// knotfit: not-a-knot cubic splines through tabulated data, and the two
// files written for every data set under the KEL path.
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
#include <cstdio>
#include <string>

// Fills a, b and c (n entries each, caller-provided) with the not-a-knot
// spline through the n points (x, y). Needs n >= 2 and x strictly increasing;
// 3 points give the parabola through them and 2 points the straight line.
// Touches no file and prints nothing.
void ComputeCubicSpline(int32_t n, const double *x, const double *y, double *a,
                        double *b, double *c);

// Why the data set cannot be fitted and written: fewer than 2 points, a value
// that is not finite, x not strictly increasing, an empty name or one with a
// ".." component. Empty when it can.
std::string CheckDataSet(int32_t n, const double *x, const double *y,
                         const char *name);

// CheckDataSet (a problem is reported on standard error and gives -1), then
// ComputeCubicSpline followed by SaveKEL and, only if that returned 0,
// SavePlotFile. Returns 0 when both files were written, else -1.
int32_t GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name);

// The spline's value at t; outside [x[0], x[n-1]] the ordinate of the nearer
// end knot. NaN for a NaN t.
double getValue(double t, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c);

// Writes the binary coefficient table CS/<name> and traces every value on
// standard output. Returns 0, or -1 when a write failed. Ends the process
// with status 255 when the file cannot be opened.
int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c);

// Writes the plot file CS/plot/<name>, the spline sampled in steps of one
// five-hundredth of the knot range. Returns 0, or -1 when a write failed or
// the step cannot advance across the range (then no file is opened).
// Ends the process with status 254 when the file cannot be opened.
int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c);

// Opens <KEL path>/<subdir>/<name> with the given fopen mode. The KEL path is
// $TROV_KEL, else $HOME/.TROV_KEL. Returns null when neither is set or the
// open fails; creates no directories and prints nothing.
std::FILE *open_KEL_file(const char *subdir, const char *name,
                         const char *mode);

#endif
