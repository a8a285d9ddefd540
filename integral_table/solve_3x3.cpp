#include "solve_3x3.h"

#include <cmath>
#include <cstdio>
#include <utility>

void solve_3x3(double mat[3][3], const double rhs[3], double sol[3])
{
    double work[3] = {rhs[0], rhs[1], rhs[2]};
    double col[3];
    int pivot_row[3];
    int pivot_col[3];
    double det = 1.0;

    for (int k = 0; k < 3; ++k) {
        // Strictly greater only: ties keep the element met first in
        // row-major order, so (k, k) wins unless something beats it.
        int p = k;
        int q = k;
        double largest = std::fabs(mat[k][k]);
        for (int i = k; i < 3; ++i) {
            for (int j = k; j < 3; ++j) {
                if (std::fabs(mat[i][j]) > largest) {
                    largest = std::fabs(mat[i][j]);
                    p = i;
                    q = j;
                }
            }
        }
        const double piv = mat[p][q];
        pivot_row[k] = p;
        pivot_col[k] = q;

        if (p != k) {
            det = -det;
        }
        if (q != k) {
            det = -det;
        }
        det *= piv;
        // Written as a negated >= so that a NaN determinant fails too.
        if (!(std::fabs(det) >= PIVOT_EPSILON)) {
            // A failed write leaves its mark on stdout's error flag, which
            // the program checks right after the solve.
            (void)std::fputs("\n  The determinant equals ZERO !!!\n", stdout);
            return;
        }

        if (p != k) {
            for (int j = 0; j < 3; ++j) {
                std::swap(mat[p][j], mat[k][j]);
            }
            std::swap(work[p], work[k]);
        }
        if (q != k) {
            for (int i = 0; i < 3; ++i) {
                std::swap(mat[i][q], mat[i][k]);
            }
        }

        // The pivot column is replaced by the identity's column; what it
        // held is kept in `col` to drive the elimination.  Setting (k, k)
        // to 1 is what makes the matrix end up as its own inverse.
        for (int r = 0; r < 3; ++r) {
            col[r] = mat[r][k];
            mat[r][k] = 0.0;
        }
        col[k] = 0.0;
        mat[k][k] = 1.0;

        if (!(std::fabs(piv) >= PIVOT_EPSILON)) {
            (void)std::fputs("\n  PIVOT TOO SMALL - STOP\n", stdout);
            return;
        }

        for (int j = 0; j < 3; ++j) {
            mat[k][j] /= piv;
        }
        work[k] /= piv;

        for (int i = 0; i < 3; ++i) {
            if (i == k) {
                continue;
            }
            for (int j = 0; j < 3; ++j) {
                mat[i][j] = mat[i][j] - col[i] * mat[k][j];
            }
            work[i] = work[i] - col[i] * work[k];
        }
    }

    // A column interchange renamed the unknowns, so it is undone on the rows
    // of the inverse and on the solution; a row interchange only reordered
    // the equations, so it is undone on the columns of the inverse alone.
    for (int j = 2; j >= 0; --j) {
        const int c = pivot_col[j];
        if (c != j) {
            for (int m = 0; m < 3; ++m) {
                std::swap(mat[c][m], mat[j][m]);
            }
            std::swap(work[c], work[j]);
        }
    }
    for (int j = 2; j >= 0; --j) {
        const int r = pivot_row[j];
        if (r != j) {
            for (int m = 0; m < 3; ++m) {
                std::swap(mat[m][r], mat[m][j]);
            }
        }
    }

    sol[0] = work[0];
    sol[1] = work[1];
    sol[2] = work[2];
}
