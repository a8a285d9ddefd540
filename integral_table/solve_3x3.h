#ifndef INTEGRAL_TABLE_SOLVE_3X3_H
#define INTEGRAL_TABLE_SOLVE_3X3_H

// Smallest magnitude accepted both for the running determinant and for a
// pivot; anything below it counts as singular.
inline constexpr double PIVOT_EPSILON = 2e-16;

// Solves mat * sol = rhs by Gauss-Jordan elimination with full pivoting.
// On success `mat` is left holding its own inverse and `sol` the solution.
// On failure one of two fixed messages goes to standard output, the call
// returns at once and `sol` is not written; `mat` is then partly reduced.
void solve_3x3(double mat[3][3], const double rhs[3], double sol[3]);

#endif
