#include "solve_3x3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>

namespace {

// The randomised checks come from fixed seeds, printed on failure, so that
// each case reproduces.
constexpr std::uint64_t SEED = 20261208;
constexpr double EPS = std::numeric_limits<double>::epsilon();

using Matrix = double[3][3];

const std::string DET_MESSAGE = "\n  The determinant equals ZERO !!!\n";
const std::string PIVOT_MESSAGE = "\n  PIVOT TOO SMALL - STOP\n";

// A value no solve could produce, to tell a written `sol` from an untouched one.
constexpr double SENTINEL = -777.25;

struct SolveOutcome {
    std::string printed;
    double mat[3][3];
    double sol[3];
};

// Runs solve_3x3 on a copy of `mat`, with every element of `sol` preset to
// `untouched` so that a written solution shows, and captures what it prints.
SolveOutcome solve_capturing(const double mat[3][3], const double rhs[3], double untouched = SENTINEL)
{
    SolveOutcome out{};
    std::memcpy(out.mat, mat, sizeof out.mat);
    std::fill_n(out.sol, 3, untouched);
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    solve_3x3(out.mat, rhs, out.sol);
    std::fflush(stdout);
    out.printed = testing::internal::GetCapturedStdout();
    return out;
}

// Checks what a solve must preserve, whatever its interchanges: the unknowns
// come back in the caller's order (each equation's residual within
// `tolerance` of the size of what it sums), and the matrix left behind
// really is the inverse of `mat` (each element of its product with `mat`
// within `tolerance` of the size of what it sums).
void expect_solves(const double mat[3][3], const double rhs[3], const SolveOutcome &out, double tolerance)
{
    for (int i = 0; i < 3; ++i) {
        double residual = -rhs[i];
        double size = std::fabs(rhs[i]);
        for (int j = 0; j < 3; ++j) {
            residual += mat[i][j] * out.sol[j];
            size += std::fabs(mat[i][j] * out.sol[j]);
        }
        EXPECT_LE(std::fabs(residual), tolerance * size) << "equation " << i;
        for (int j = 0; j < 3; ++j) {
            double product = 0.0;
            double product_size = 0.0;
            for (int k = 0; k < 3; ++k) {
                product += out.mat[i][k] * mat[k][j];
                product_size += std::fabs(out.mat[i][k] * mat[k][j]);
            }
            EXPECT_LE(std::fabs(product - (i == j ? 1.0 : 0.0)), tolerance * product_size)
                << "inverse times original at (" << i << ", " << j << ")";
        }
    }
}

struct SuccessCase {
    const char *name;
    Matrix mat;
    double rhs[3];
};

void PrintTo(const SuccessCase &c, std::ostream *os) { *os << c.name; }

class SolveSucceeds : public testing::TestWithParam<SuccessCase> {};

// Interchanges and their undoing are checked through what they must
// preserve (see expect_solves).
TEST_P(SolveSucceeds, SolvesAndLeavesTheInverse)
{
    const SuccessCase &c = GetParam();
    const SolveOutcome out = solve_capturing(c.mat, c.rhs);
    EXPECT_EQ(out.printed, "");
    expect_solves(c.mat, c.rhs, out, 1e-13);
}

// The fit system's abscissae, as the report builds them.
constexpr double T0 = static_cast<float>(-15.0);
constexpr double T1 = static_cast<float>(-15.0 + 30.0 / 255.0);
constexpr double T2 = static_cast<float>(-15.0 + 2 * (30.0 / 255.0));

const SuccessCase SUCCESS_CASES[] = {
    {"largest_at_row2_col0", {{1, 2, 3}, {4, 5, 6}, {10, 8, 9}}, {1, -2, 3}},
    {"largest_at_row0_col2", {{1, 2, 10}, {4, 5, 6}, {7, 8, 9}}, {3, 1, -4}},
    {"ties_keep_the_diagonal", {{1, 1, 1}, {1, -1, 1}, {1, 1, -1}}, {1, 2, 3}},
    {"tie_then_column_interchange", {{1, 1, 1}, {1, 1, -1}, {1, -1, 1}}, {5, -1, 2}},
    {"negative_pivots", {{-2, 1, 0}, {1, -3, 1}, {0, 1, -4}}, {1, 1, 1}},
    {"fit_system", {{T0 * T0, T0, 1}, {T1 * T1, T1, 1}, {T2 * T2, T2, 1}}, {0.1, 0.2, 0.3}},
};

const auto BY_NAME = [](const auto &info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(Cases, SolveSucceeds, testing::ValuesIn(SUCCESS_CASES), BY_NAME);

TEST(Solve3x3, IdentityIsLeftExactlyAsItIs)
{
    const Matrix identity = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const double rhs[3] = {0.1, -7.5, 1e300};
    const SolveOutcome out = solve_capturing(identity, rhs);
    EXPECT_EQ(out.printed, "");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(out.sol[i], rhs[i]);
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(out.mat[i][j], identity[i][j]);
        }
    }
}

TEST(Solve3x3, KnownSolutionWithTiedPivots)
{
    const Matrix mat = {{1, 1, 1}, {1, -1, 1}, {1, 1, -1}};
    const double rhs[3] = {1, 2, 3};
    const SolveOutcome out = solve_capturing(mat, rhs);
    EXPECT_EQ(out.sol[0], 2.5);
    EXPECT_EQ(out.sol[1], -0.5);
    EXPECT_EQ(out.sol[2], -1.0);
}

struct FailureCase {
    const char *name;
    Matrix mat;
    std::string message;
    // The matrix as the failing reduction must leave it, worked out by hand:
    // it shows where the test stands relative to the interchanges and which
    // element a tie hands the pivot to.
    Matrix left_behind;
};

bool close_or_both_nan(double got, double want)
{
    return std::isnan(want) ? std::isnan(got) : std::fabs(got - want) <= 1e-15 * std::fmax(1.0, std::fabs(want));
}

void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.name; }

class SolveFails : public testing::TestWithParam<FailureCase> {};

TEST_P(SolveFails, PrintsOneMessageAndLeavesSolAlone)
{
    const FailureCase &c = GetParam();
    const double rhs[3] = {1, 2, 3};
    const SolveOutcome out = solve_capturing(c.mat, rhs);
    EXPECT_EQ(out.printed, c.message);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(out.sol[i], SENTINEL);
        for (int j = 0; j < 3; ++j) {
            EXPECT_TRUE(close_or_both_nan(out.mat[i][j], c.left_behind[i][j]))
                << "at (" << i << ", " << j << "): " << out.mat[i][j] << " vs "
                << c.left_behind[i][j];
        }
    }
}

const FailureCase FAILURE_CASES[] = {
    // Rank one: the remainder after reduction 0 is all zero.
    {"all_ones", {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, DET_MESSAGE, {{1, 1, 1}, {-1, 0, 0}, {-1, 0, 0}}},
    // Equal magnitudes throughout reduction 0: only keeping (0, 0) on the
    // tie leads to this state when reduction 2 meets its zero pivot.
    {"tie_keeps_first_element", {{1, 1, 1}, {1, 1, 1}, {1, 1, -1}}, DET_MESSAGE,
     {{0.5, 0.5, 1}, {0.5, -0.5, 0}, {-1, 0, 0}}},
    // The zero row yields the pivot 0 at reduction 2: det fails, not pivot.
    {"zero_row", {{1, 2, 3}, {4, 5, 6}, {0, 0, 0}}, DET_MESSAGE,
     {{-1.0 / 6.0, 2.0 / 3.0, 0.5}, {0.5, -1, 0.5}, {0, 0, 0}}},
    // det stays near 1e3 while the pivot 1e-17 is too small: the pivot test
    // fires after the column has been cleared and (1, 1) set to 1.
    {"tiny_pivot_under_large_det", {{1e20, 0, 0}, {0, 1e-17, 0}, {0, 0, 1e-17}}, PIVOT_MESSAGE,
     {{1e-20, 0, 0}, {0, 1, 0}, {0, 0, 1e-17}}},
    {"nan_entry", {{NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}}, DET_MESSAGE, {{NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SolveFails, testing::ValuesIn(FAILURE_CASES), BY_NAME);

double random_entry(std::mt19937_64 &rng) { return std::uniform_real_distribution<double>(-1.0, 1.0)(rng); }

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
        const SolveOutcome out = solve_capturing(a, rhs, std::numeric_limits<double>::quiet_NaN());
        ASSERT_EQ(out.printed, "") << "seed " << SEED + 1 << ", trial " << trial;
        SCOPED_TRACE("seed " + std::to_string(SEED + 1) + ", trial " + std::to_string(trial));
        expect_solves(a, rhs, out, 16.0 * EPS);
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
        const SolveOutcome out = solve_capturing(a, rhs, std::numeric_limits<double>::quiet_NaN());
        EXPECT_EQ(out.printed, "\n  The determinant equals ZERO !!!\n")
            << "seed " << SEED + 2 << ", trial " << trial << (zero_row ? ", zero row " : ", zero column ") << k;
        for (const double v : out.sol) {
            EXPECT_TRUE(std::isnan(v)) << "sol was written; seed " << SEED + 2 << ", trial " << trial;
        }
    }
}

}  // namespace
