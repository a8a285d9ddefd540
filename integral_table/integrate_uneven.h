#ifndef INTEGRAL_TABLE_INTEGRATE_UNEVEN_H
#define INTEGRAL_TABLE_INTEGRATE_UNEVEN_H

// Integral from x[0] to x[n-1] of the function tabulated at (x[i], y[i]),
// by Simpson's rule for unequal spacing over consecutive pairs of intervals
// and a trapezoid over a final odd interval.  n must be at least 1.
// A panel whose first interval has zero (or NaN) width makes the result 0.
double integrate_uneven(int n, const float x[], const float y[]);

#endif
