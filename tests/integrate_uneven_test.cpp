#include "integrate_uneven.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

// The randomised checks come from fixed seeds, printed on failure, so that
// each case reproduces.
constexpr std::uint64_t SEED = 20261208;
constexpr double EPS = std::numeric_limits<double>::epsilon();

double parabola(double t) { return 3.0 * t * t - 2.0 * t + 1.0; }

double parabola_integral(double from, double to)
{
    const auto f = [](double t) { return t * t * t - t * t + t; };
    return f(to) - f(from);
}

std::vector<float> values_at(const std::vector<float> &x, double (*f)(double))
{
    std::vector<float> y;
    for (float t : x) {
        y.push_back(static_cast<float>(f(t)));
    }
    return y;
}

double trapezoid(float x0, float x1, float y0, float y1)
{
    return 0.5 * (static_cast<double>(x1) - x0) * (static_cast<double>(y0) + y1);
}

TEST(IntegrateUneven, SinglePointIsZero)
{
    const float x[] = {3.0f};
    const float y[] = {5.0f};
    EXPECT_EQ(integrate_uneven(1, x, y), 0.0);
}

TEST(IntegrateUneven, TwoPointsGiveTheTrapezoid)
{
    const float x[] = {0.5f, 2.0f};
    const float y[] = {1.0f, 3.0f};
    EXPECT_EQ(integrate_uneven(2, x, y), 3.0);
}

// An even count ends with a trapezoid over the last interval, added to the
// Simpson panels before it.
TEST(IntegrateUneven, EvenCountsCloseWithATrapezoid)
{
    const std::vector<float> x = {-1.0f, -0.75f, 0.5f, 0.625f, 2.0f, 2.5f};
    const std::vector<float> y = values_at(x, parabola);
    for (int n : {4, 6}) {
        const double want = parabola_integral(x[0], x[n - 2]) + trapezoid(x[n - 2], x[n - 1], y[n - 2], y[n - 1]);
        EXPECT_NEAR(integrate_uneven(n, x.data(), y.data()), want, 1e-12 * std::fabs(want))
            << "n = " << n;
    }
}

TEST(IntegrateUneven, EqualSpacingMatchesTheClassicRule)
{
    const float h = 0.25f;
    std::vector<float> x;
    std::vector<float> y;
    for (int i = 0; i < 9; ++i) {
        x.push_back(1.0f + h * static_cast<float>(i));
        y.push_back(static_cast<float>(std::exp(x.back())));
    }
    double classic = 0.0;
    for (int i = 0; i + 2 < 9; i += 2) {
        classic += h / 3.0 * (y[i] + 4.0 * y[i + 1] + y[i + 2]);
    }
    EXPECT_DOUBLE_EQ(integrate_uneven(9, x.data(), y.data()), classic);
}

TEST(IntegrateUneven, ZeroFirstIntervalOfAnyPanelGivesZero)
{
    struct Case {
        std::vector<float> x;
        int n;
    };
    const Case cases[] = {
        {{1.0f, 1.0f, 2.0f}, 3},
        {{1.0f, 1.0f, 2.0f, 3.0f}, 4},
        // The first panel is fine; the second starts with a zero-width
        // interval and the whole sum is dropped, trapezoid included.
        {{0.0f, 1.0f, 2.0f, 2.0f, 3.0f, 4.0f}, 6},
        {{0.0f, 1.0f, 2.0f, 2.0f, 3.0f}, 5},
        {{NAN, 1.0f, 2.0f}, 3},
    };
    for (const Case &c : cases) {
        const std::vector<float> y(c.x.size(), 1.0f);
        EXPECT_EQ(integrate_uneven(c.n, c.x.data(), y.data()), 0.0) << "n = " << c.n;
    }
}

TEST(IntegrateUneven, ZeroSecondIntervalIsNotGuarded)
{
    const float x[] = {0.0f, 1.0f, 1.0f};
    const float y[] = {1.0f, 1.0f, 1.0f};
    EXPECT_FALSE(std::isfinite(integrate_uneven(3, x, y)));
}

// Abscissae are multiples of 1/16 and coefficients small integers, so every
// sample of the parabola is exact in single precision and the exact integral
// is a ratio of integers: the only errors left are the integrator's own.
TEST(IntegrateUnevenProperty, ExactOnParabolasWithUnevenSpacing)
{
    std::mt19937_64 rng(SEED);
    for (int trial = 0; trial < 2000; ++trial) {
        const std::int64_t a = static_cast<std::int64_t>(rng() % 17) - 8;
        const std::int64_t b = static_cast<std::int64_t>(rng() % 17) - 8;
        const std::int64_t c = static_cast<std::int64_t>(rng() % 17) - 8;
        const int n = 3 + 2 * static_cast<int>(rng() % 30);
        std::vector<std::int64_t> m(static_cast<std::size_t>(n));
        m[0] = static_cast<std::int64_t>(rng() % 512) - 1024;
        for (std::size_t i = 1; i < m.size(); ++i) {
            m[i] = m[i - 1] + 1 + static_cast<std::int64_t>(rng() % 16);
        }
        std::vector<float> x;
        std::vector<float> y;
        double scale = 0.0;
        for (const std::int64_t mi : m) {
            x.push_back(static_cast<float>(static_cast<double>(mi) / 16.0));
            const std::int64_t numerator = a * mi * mi + 16 * b * mi + 256 * c;
            y.push_back(static_cast<float>(static_cast<double>(numerator) / 256.0));
            scale += std::fabs(static_cast<double>(y.back()));
        }
        // 12288 * F(m / 16) for F(t) = a t^3 / 3 + b t^2 / 2 + c t.
        const auto antiderivative = [&](std::int64_t t) { return a * t * t * t + 24 * b * t * t + 768 * c * t; };
        const double exact = static_cast<double>(antiderivative(m.back()) - antiderivative(m.front())) / 12288.0;
        const double width = static_cast<double>(x.back()) - static_cast<double>(x.front());
        const double got = integrate_uneven(n, x.data(), y.data());
        // A few units of rounding per panel, on the size of what is summed.
        EXPECT_NEAR(got, exact, 64.0 * EPS * scale * width)
            << "seed " << SEED << ", trial " << trial << ", n = " << n;
    }
}

}  // namespace
