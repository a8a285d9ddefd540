#ifndef TESTS_SOLVE_CAPTURE_H
#define TESTS_SOLVE_CAPTURE_H

#include "solve_3x3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace testutil {

struct SolveOutcome {
    std::string printed;
    double mat[3][3];
    double sol[3];
};

// Runs solve_3x3 on a copy of `mat`, with every element of `sol` preset to
// `untouched` so that a written solution shows, and captures what it prints.
inline SolveOutcome solve_capturing(const double mat[3][3], const double rhs[3], double untouched)
{
    SolveOutcome out{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.mat[i][j] = mat[i][j];
        }
        out.sol[i] = untouched;
    }
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
inline void expect_solves(const double mat[3][3], const double rhs[3], const SolveOutcome &out, double tolerance)
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

}  // namespace testutil

#endif
