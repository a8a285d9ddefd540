#include "integrate_uneven.h"

double integrate_uneven(int n, const float x[], const float y[])
{
    double sum = 0.0;

    for (int i = 0; i <= n - 3; i += 2) {
        const double h0 = static_cast<double>(x[i + 1]) - static_cast<double>(x[i]);
        const double h1 = static_cast<double>(x[i + 2]) - static_cast<double>(x[i + 1]);
        const double h = h0 + h1;
        // Only the first interval is guarded: a zero second interval is left
        // to produce an infinite or NaN panel, which then shows in the sum.
        if (h0 == 0.0 || h0 != h0) {
            return 0.0;
        }
        const double y0 = y[i];
        const double y1 = y[i + 1];
        const double y2 = y[i + 2];
        // Simpson's rule for unequal spacing over [x[i], x[i+2]], with
        // H = h0 + h1:
        //   H/6 * ((2 - h1/h0) y0 + H^2/(h0 h1) y1 + (2 - h0/h1) y2),
        // the parabola through the three points integrated exactly (see
        // "Composite Simpson's rule for irregularly spaced data" in the
        // Wikipedia article "Simpson's rule"), arranged here as
        //   (y0 (2 h0 - h1) + (y1 H^2 + y2 (2 h1 - h0) h0) / h1) * H / (6 h0)
        // so that it divides once by h0 and once by h1.  The exact order of
        // operations fixes the printed digits, so it is kept as is.
        const double u = y0 * (2.0 * h0 - h1) + (y1 * h * h + y2 * (2.0 * h1 - h0) * h0) / h1;
        sum += u * h / (6.0 * h0);
    }

    if (n % 2 == 0) {
        sum += 0.5 * (static_cast<double>(x[n - 1]) - static_cast<double>(x[n - 2]))
               * (static_cast<double>(y[n - 2]) + static_cast<double>(y[n - 1]));
    }
    return sum;
}
