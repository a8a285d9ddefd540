// integral_table: samples sin(t)/t on a fixed grid, fits a parabola through
// the first three samples, and prints a table of running integrals.

#include "integrate_uneven.h"
#include "solve_3x3.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr int SAMPLE_COUNT = 256;
constexpr int ARRAY_CAPACITY = 2048;
constexpr double FIRST_ABSCISSA = -15.0;
constexpr double LAST_ABSCISSA = 15.0;
constexpr double STEP = (LAST_ABSCISSA - FIRST_ABSCISSA) / (SAMPLE_COUNT - 1);
// One double constant, not 80/3 re-evaluated in the expression: the two can
// round differently and the reference column is part of the fixed output.
constexpr double CUBIC_K = 80.0 / 3.0;

// No special case for t = 0: the grid has an even number of points placed
// symmetrically about 0, so 0 itself is never sampled.
double sinc(double t)
{
    return std::sin(t) / t;
}

double reference_cubic(double t)
{
    return ((64.0 - t * CUBIC_K) * t) * t;
}

// Antiderivative of a*t^2 + b*t + c; the terms are added left to right in
// the written order because that order fixes the rounding of the result.
double antiderivative(double t, double a, double b, double c)
{
    return c * t + b * std::pow(t, 2.0) / 2.0 + a * std::pow(t, 3.0) / 3.0;
}

void print_row(int i, float x, float y, double integral)
{
    std::printf(" %d  %f  %f  %f  %f\n", i, static_cast<double>(x), static_cast<double>(y),
                reference_cubic(x), integral);
}

}  // namespace

int main()
{
#ifdef SIGPIPE
    // A reader that goes away must show up as a write error we can report,
    // not as a silent death by signal.  Should this fail, the default
    // action stays, which still ends the run with a failure status.
    (void)std::signal(SIGPIPE, SIG_IGN);
#endif

    float *x = new (std::nothrow) float[ARRAY_CAPACITY];
    float *y = new (std::nothrow) float[ARRAY_CAPACITY];
    float *integral = new (std::nothrow) float[ARRAY_CAPACITY];
    if (x == nullptr || y == nullptr || integral == nullptr) {
        // Nothing more can be done if even standard error fails.
        (void)std::fputs("integral_table: out of memory\n", stderr);
        delete[] x;
        delete[] y;
        delete[] integral;
        return 1;
    }

    for (int i = 0; i < SAMPLE_COUNT; ++i) {
        const double t = FIRST_ABSCISSA + i * STEP;
        x[i] = static_cast<float>(t);
        // The function is evaluated at the exact grid point, not at its
        // single-precision rounding.
        y[i] = static_cast<float>(sinc(t));
    }

    double fit_matrix[3][3];
    double fit_rhs[3];
    for (int k = 0; k < 3; ++k) {
        const double xk = x[k];
        fit_matrix[k][0] = xk * xk;
        fit_matrix[k][1] = xk;
        fit_matrix[k][2] = 1.0;
        fit_rhs[k] = y[k];
    }
    // Should the solver ever fail it leaves `coef` alone; starting from zero
    // keeps the report well defined even then.
    double coef[3] = {0.0, 0.0, 0.0};
    solve_3x3(fit_matrix, fit_rhs, coef);
    const double a = coef[0];
    const double b = coef[1];
    const double c = coef[2];

    std::printf("\n a,b,c = %f %f %f\n\n", a, b, c);

    const float i0 = static_cast<float>(antiderivative(x[0], a, b, c));
    const float i1 = static_cast<float>(antiderivative(x[1], a, b, c));
    const double i2 = antiderivative(x[2], a, b, c);
    integral[0] = 0.0f;
    integral[1] = static_cast<float>(static_cast<double>(i1) - static_cast<double>(i0));
    integral[2] = static_cast<float>((i2 - static_cast<double>(i1)) + static_cast<double>(integral[1]));

    for (int i = 0; i < 3; ++i) {
        print_row(i, x[i], y[i], integral[i]);
    }
    for (int i = 3; i < SAMPLE_COUNT; ++i) {
        // The whole prefix is integrated again for every row: panels are
        // paired from the first sample, so row i is not row i-1 plus a term.
        const double v = integrate_uneven(i + 1, x, y);
        integral[i] = static_cast<float>(v);
        print_row(i, x[i], y[i], v);
    }

    delete[] x;
    delete[] y;
    delete[] integral;

    // A report cut short by a full disk or a closed pipe must not pass for
    // a complete one.
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int flush_errno = errno;
    const bool clean = flushed && std::ferror(stdout) == 0;
    errno = 0;
    const bool closed = std::fclose(stdout) == 0;
    const int close_errno = errno;
    if (!clean || !closed) {
        const int err = !flushed ? flush_errno : close_errno;
        (void)std::fprintf(stderr, "integral_table: write error: %s\n", std::strerror(err != 0 ? err : EIO));
        return 1;
    }
    return 0;
}
