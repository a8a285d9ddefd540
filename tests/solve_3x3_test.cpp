#include "solve_3x3.h"
#include "solve_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

namespace {

using Matrix = double[3][3];

const std::string DET_MESSAGE = "\n  The determinant equals ZERO !!!\n";
const std::string PIVOT_MESSAGE = "\n  PIVOT TOO SMALL - STOP\n";

using testutil::SolveOutcome;

// A value no solve could produce, to tell a written `sol` from an untouched one.
constexpr double SENTINEL = -777.25;

SolveOutcome run_solve(const Matrix mat, const double rhs[3])
{
    return testutil::solve_capturing(mat, rhs, SENTINEL);
}

struct SuccessCase {
    const char *name;
    Matrix mat;
    double rhs[3];
};

void PrintTo(const SuccessCase &c, std::ostream *os)
{
    *os << c.name;
}

class SolveSucceeds : public testing::TestWithParam<SuccessCase> {};

// Interchanges and their undoing are checked through what they must
// preserve (see expect_solves).
TEST_P(SolveSucceeds, SolvesAndLeavesTheInverse)
{
    const SuccessCase &c = GetParam();
    const SolveOutcome out = run_solve(c.mat, c.rhs);
    EXPECT_EQ(out.printed, "");
    testutil::expect_solves(c.mat, c.rhs, out, 1e-13);
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

INSTANTIATE_TEST_SUITE_P(Cases, SolveSucceeds, testing::ValuesIn(SUCCESS_CASES),
                         [](const testing::TestParamInfo<SuccessCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(Solve3x3, IdentityIsLeftExactlyAsItIs)
{
    const Matrix identity = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const double rhs[3] = {0.1, -7.5, 1e300};
    const SolveOutcome out = run_solve(identity, rhs);
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
    const SolveOutcome out = run_solve(mat, rhs);
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

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

bool close_or_both_nan(double got, double want)
{
    if (std::isnan(want)) {
        return std::isnan(got);
    }
    return std::fabs(got - want) <= 1e-15 * std::fmax(1.0, std::fabs(want));
}

class SolveFails : public testing::TestWithParam<FailureCase> {};

TEST_P(SolveFails, PrintsOneMessageAndLeavesSolAlone)
{
    const FailureCase &c = GetParam();
    const double rhs[3] = {1, 2, 3};
    const SolveOutcome out = run_solve(c.mat, rhs);
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
    {"all_ones", {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, DET_MESSAGE,
     {{1, 1, 1}, {-1, 0, 0}, {-1, 0, 0}}},
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
    {"nan_entry", {{NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}}, DET_MESSAGE,
     {{NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SolveFails, testing::ValuesIn(FAILURE_CASES),
                         [](const testing::TestParamInfo<FailureCase> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
