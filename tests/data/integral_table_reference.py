#!/usr/bin/env python3
"""The report integral_table must print, worked out apart from the program.

Every step is the same IEEE double operation the report is defined by, in
the same order; Python's floats are IEEE doubles, each operation rounded on
its own.  Nothing comes from the program or its C library: the sine is
summed from its Taylor series in 80-digit decimal arithmetic and rounded
once, the powers are exact rational products rounded once, and single
precision is the rounding struct makes.  Run it to remake the kept output:
    python3 tests/data/integral_table_reference.py > tests/data/integral_table.txt
"""
import struct
import sys
from decimal import Decimal, localcontext
from fractions import Fraction


def single(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def sin(t):
    with localcontext() as ctx:
        ctx.prec = 80
        x = Decimal(t)  # exact
        term, total, k = x, x, 1
        while abs(term) > Decimal(10) ** -70:
            term = -term * x * x / ((2 * k) * (2 * k + 1))
            total += term
            k += 1
        return float(total)  # correctly rounded


def power(t, n):
    return float(Fraction(t) ** n)  # correctly rounded


def solve(m, rhs):
    """Gauss-Jordan elimination with full pivoting; the solution only."""
    m, w, det, cols = [r[:] for r in m], rhs[:], 1.0, []
    for k in range(3):
        p, q = k, k
        for i in range(k, 3):
            for j in range(k, 3):
                if abs(m[i][j]) > abs(m[p][q]):
                    p, q = i, j
        piv = m[p][q]
        cols.append(q)
        det = (-det if p != k else det)
        det = (-det if q != k else det) * piv
        assert abs(det) >= 2e-16 and abs(piv) >= 2e-16
        m[p], m[k], w[p], w[k] = m[k], m[p], w[k], w[p]
        for r in m:
            r[q], r[k] = r[k], r[q]
        col = [m[r][k] for r in range(3)]
        for r in range(3):
            m[r][k] = 0.0
        col[k], m[k][k] = 0.0, 1.0
        m[k] = [v / piv for v in m[k]]
        w[k] = w[k] / piv
        for i in range(3):
            if i != k:
                m[i] = [m[i][j] - col[i] * m[k][j] for j in range(3)]
                w[i] = w[i] - col[i] * w[k]
    for j in (2, 1, 0):
        w[cols[j]], w[j] = w[j], w[cols[j]]
    return w


def integrate(n, x, y):
    s, i = 0.0, 0
    while i <= n - 3:
        h0, h1 = x[i + 1] - x[i], x[i + 2] - x[i + 1]
        h = h0 + h1
        u = y[i] * (2.0 * h0 - h1) + (y[i + 1] * h * h + y[i + 2] * (2.0 * h1 - h0) * h0) / h1
        s += u * h / (6.0 * h0)
        i += 2
    if n % 2 == 0:
        s += 0.5 * (x[n - 1] - x[n - 2]) * (y[n - 2] + y[n - 1])
    return s


def main():
    step = (15.0 - -15.0) / 255
    ts = [-15.0 + i * step for i in range(256)]
    x = [single(t) for t in ts]
    y = [single(sin(t) / t) for t in ts]
    a, b, c = solve([[x[k] * x[k], x[k], 1.0] for k in range(3)], y[:3])
    out = ["\n a,b,c = %f %f %f\n\n" % (a, b, c)]

    def antiderivative(t):
        return c * t + b * power(t, 2) / 2.0 + a * power(t, 3) / 3.0

    def row(i, v):
        cubic = ((64.0 - x[i] * (80.0 / 3.0)) * x[i]) * x[i]
        out.append(" %d  %f  %f  %f  %f\n" % (i, x[i], y[i], cubic, v))

    i0, i1, i2 = single(antiderivative(x[0])), single(antiderivative(x[1])), antiderivative(x[2])
    first = single(i1 - i0)
    for i, v in enumerate([0.0, first, single((i2 - i1) + first)]):
        row(i, v)
    for i in range(3, 256):
        row(i, integrate(i + 1, x, y))
    sys.stdout.write("".join(out))


main()
