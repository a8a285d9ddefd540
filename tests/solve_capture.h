#ifndef TESTS_SOLVE_CAPTURE_H
#define TESTS_SOLVE_CAPTURE_H

#include "solve_3x3.h"

#include <gtest/gtest.h>

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

}  // namespace testutil

#endif
