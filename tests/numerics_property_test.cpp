// Randomised checks of the solver and the integrator against properties
// that hold whatever the input: exactness on parabolas, small residuals,
// an inverse that really inverts, and singular systems always rejected.
// Every case comes from a fixed seed, printed on failure, so it reproduces.

#include "integrate_uneven.h"
#include "solve_3x3.h"
#include "solve_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t SEED = 20261208;
constexpr double EPS = std::numeric_limits<double>::epsilon();

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

double random_entry(std::mt19937_64 &rng)
{
    return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
}

testutil::SolveOutcome solve_captured(const double mat[3][3], const double rhs[3])
{
    return testutil::solve_capturing(mat, rhs, std::numeric_limits<double>::quiet_NaN());
}

TEST(Solve3x3Property, WellConditionedSystemsAreSolvedAndInverted)
{
    std::mt19937_64 rng(SEED + 1);
    for (int trial = 0; trial < 3000; ++trial) {
        // Diagonally dominant, in a random row and column order so that
        // every interchange pattern turns up.
        double a[3][3];
        const int first = static_cast<int>(rng() % 3);
        const int shift = 1 + static_cast<int>(rng() % 2);
        const int rows[3] = {first, (first + shift) % 3, (first + 2 * shift) % 3};
        const double magnitude = std::pow(10.0, static_cast<double>(rng() % 9) - 4.0);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                a[i][j] = random_entry(rng) * magnitude;
            }
        }
        for (int i = 0; i < 3; ++i) {
            a[rows[i]][i] += (random_entry(rng) < 0 ? -4.0 : 4.0) * magnitude;
        }
        const double rhs[3] = {random_entry(rng), random_entry(rng), random_entry(rng)};
        const testutil::SolveOutcome out = solve_captured(a, rhs);
        ASSERT_EQ(out.printed, "") << "seed " << SEED + 1 << ", trial " << trial;
        SCOPED_TRACE("seed " + std::to_string(SEED + 1) + ", trial " + std::to_string(trial));
        testutil::expect_solves(a, rhs, out, 16.0 * EPS);
    }
}

TEST(Solve3x3Property, ZeroRowOrColumnAlwaysGivesTheDeterminantMessage)
{
    std::mt19937_64 rng(SEED + 2);
    for (int trial = 0; trial < 3000; ++trial) {
        double a[3][3];
        for (auto &row : a) {
            for (double &v : row) {
                v = random_entry(rng);
            }
        }
        const int k = static_cast<int>(rng() % 3);
        const bool zero_row = rng() % 2 == 0;
        for (int i = 0; i < 3; ++i) {
            (zero_row ? a[k][i] : a[i][k]) = 0.0;
        }
        const double rhs[3] = {random_entry(rng), random_entry(rng), random_entry(rng)};
        const testutil::SolveOutcome out = solve_captured(a, rhs);
        EXPECT_EQ(out.printed, "\n  The determinant equals ZERO !!!\n")
            << "seed " << SEED + 2 << ", trial " << trial << (zero_row ? ", zero row " : ", zero column ") << k;
        for (const double v : out.sol) {
            EXPECT_TRUE(std::isnan(v)) << "sol was written; seed " << SEED + 2 << ", trial " << trial;
        }
    }
}

}  // namespace
