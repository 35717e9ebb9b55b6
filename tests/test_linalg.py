"""Verified linear systems: solve, inv and det by both methods, cholesky, lstsq
and matrix_power enclose the exact results (Fraction, mpmath); the shared
elimination equals the one-column procedure bit for bit; breakdowns and shape
errors raise their messages and leave the operands unchanged."""

from __future__ import annotations

import functools
import math
import random
import re
from decimal import Decimal
from fractions import Fraction

import pytest

import boundwise as bw
from oracles import (INF, NAN, encloses, exact_identity, exact_inverse_times, exact_matmul, from_pairs, is_wide, raises,
                     releases_lock, snapshot)

METHODS = ["gauss", "krawczyk"]
SINGULAR = "solve: singular matrix (interval contains zero pivot)"
UNVERIFIED = ("solve: method='krawczyk' could not verify an enclosure (the matrix is singular, too "
              "ill-conditioned or too wide); method='gauss' may still give a wide one")


# Exact rational oracles

def exact_det(a):
    n, m, det = len(a), [list(r) for r in a], Fraction(1)
    for k in range(n):
        p = next((i for i in range(k, n) if m[i][k] != 0), None)
        if p is None:
            return Fraction(0)
        if p != k:
            m[k], m[p], det = m[p], m[k], -det
        det *= m[k][k]
        for i in range(k + 1, n):
            f = m[i][k] / m[k][k]
            m[i] = [x - f * y for x, y in zip(m[i], m[k])]
    return det


def exact(rows):
    return [[Fraction(x) for x in row] for row in rows]


def grid(a):
    """The (midpoint, radius) pairs of a 2-D array as rows."""
    n, c = a.shape
    flat = list(zip(a.values(), a.radii()))
    return [flat[i * c:(i + 1) * c] for i in range(n)]


def assert_encloses(result, expected, tight=None):
    """Every element of the 2-D array result encloses the Fraction of `expected`;
    with `tight`, every radius is also at most tight times the largest |x|."""
    scale = max((abs(float(x)) for row in expected for x in row), default=0.0)
    for got_row, want_row in zip(grid(result), expected):
        for (mid, rad), x in zip(got_row, want_row):
            assert encloses(mid, rad, x, x), (mid, rad, float(x))
            if tight is not None:
                assert not is_wide(mid, rad) and rad <= tight * scale, (mid, rad, float(x))


# Test matrices: point matrices of every kind, thin interval matrices and their members

def point_matrix(kind, n, rng):
    if kind == "random":  # diagonally dominant: well conditioned
        return [[rng.uniform(-1, 1) + (n if i == j else 0) for j in range(n)] for i in range(n)]
    if kind == "permutation":  # one scaled entry per row and column: pivoting decides everything
        perm = rng.sample(range(n), n)
        return [[rng.choice([-1, 1]) * 2.0 ** rng.randint(-30, 30) * rng.uniform(1, 2) if j == perm[i] else 0.0
                 for j in range(n)] for i in range(n)]
    if kind in ("lower", "upper"):
        return [[rng.uniform(1, 2) if i == j else rng.uniform(-3, 3) if (i > j) == (kind == "lower") else 0.0
                 for j in range(n)] for i in range(n)]
    return [[1.0 / (i + j + 1) for j in range(n)] for i in range(n)]  # Hilbert


KINDS = ["random", "permutation", "lower", "upper", "hilbert"]


def interval_matrix(n, c, rng, scale):
    """Midpoints of a well-conditioned system and radii about scale * |midpoint|."""
    mid_a = point_matrix("random", n, rng)
    mid_b = [[rng.uniform(-5, 5) for _ in range(c)] for _ in range(n)]

    def radii(rows):
        return [[abs(x) * scale * rng.uniform(0.5, 1) for x in row] for row in rows]

    return (mid_a, radii(mid_a)), (mid_b, radii(mid_b))


def to_array(mid, rad):
    rows, cols = len(mid), len(mid[0]) if mid else 0
    return bw.from_raw_parts([x for r in mid for x in r], [x for r in rad for x in r], [rows, cols])


def members(mid, rad, rng, count=3):
    """The exact midpoint matrix and `count` random vertex matrices."""
    out = [exact(mid)]
    for _ in range(count):
        out.append([[Fraction(m) + rng.choice([-1, 1]) * Fraction(r) for m, r in zip(mr, rr)]
                    for mr, rr in zip(mid, rad)])
    return out


class TestPointSystems:
    @pytest.mark.parametrize("method", METHODS)
    @pytest.mark.parametrize("kind", KINDS)
    @pytest.mark.parametrize("n", [1, 2, 3, 5, 8])
    def test_solve_inv_and_det_enclose_the_exact_results(self, kind, n, method):
        rng = random.Random(f"{kind}-{n}")
        rows = point_matrix(kind, n, rng)
        b = [rng.uniform(-10, 10) for _ in range(n)]
        a = exact(rows)
        # Krawczyk with the compensated residual is tight to a few units in the last place, Hilbert
        # matrices to about u cond; Gauss widens with n and with the condition.
        if method == "krawczyk":
            tight = 1e-9 if kind == "hilbert" else 1e-14
        else:
            tight = None if kind == "hilbert" or n > 5 else 1e-9
        x = bw.solve(bw.array(rows), bw.array(b), method=method)
        assert x.shape == (n,)
        assert_encloses(x.reshape(n, 1), exact_inverse_times(a, [[Fraction(v)] for v in b]), tight)
        assert_encloses(bw.inv(bw.array(rows), method=method), exact_inverse_times(a, exact_identity(n)), tight)
        mid, rad = bw.det(bw.array(rows))
        d = exact_det(a)
        assert encloses(mid, rad, d, d)
        assert kind in ("random", "hilbert") or not is_wide(mid, rad)


def bidiagonal(n):
    """Ones on the diagonal, -1 below it: its inverse is the lower triangle of ones."""
    return [[1.0 if i == j else -1.0 if i == j + 1 else 0.0 for j in range(n)] for i in range(n)]


class TestLargeKrawczyk:
    # From 256 rows a point matrix first gets the one-product enclosure of R A.
    @pytest.mark.parametrize("n", [255, 300])
    @pytest.mark.parametrize("radius", [0.0, 2.0**-40])
    def test_large_systems_enclose_their_integer_solutions(self, n, radius):
        rng = random.Random(n)
        rows = [[float(rng.randint(-3, 3)) + (4 * n if i == j else 0) for j in range(n)] for i in range(n)]
        x = [rng.randint(-100, 100) for _ in range(n)]
        b = [sum(int(r) * v for r, v in zip(row, x)) for row in rows]  # exact: integers far below 2^53
        a = to_array(rows, [[radius * abs(v) for v in row] for row in rows])
        got = bw.solve(a, bw.array([float(v) for v in b]), method="krawczyk")
        assert_encloses(got.reshape(n, 1), [[Fraction(v)] for v in x], tight=1e-14 + 1e3 * radius)
        inverse = bw.inv(bw.array(bidiagonal(n)), method="krawczyk")
        assert_encloses(inverse, [[Fraction(int(j <= i)) for j in range(n)] for i in range(n)], tight=1e-10)


class TestIntervalSystems:
    @pytest.mark.parametrize("method", METHODS)
    @pytest.mark.parametrize("n, c", [(1, 1), (2, 3), (4, 1), (7, 2), (12, 9)])  # 9 columns: product residual
    @pytest.mark.parametrize("scale", [2.0**-40, 2.0**-20])
    def test_every_member_system_is_enclosed(self, n, c, scale, method):
        rng = random.Random(f"{n}-{c}-{scale}")
        (ma, ra), (mb, rb) = interval_matrix(n, c, rng, scale)
        a, b = to_array(ma, ra), to_array(mb, rb)
        x, inverse = bw.solve(a, b, method=method), bw.inv(a, method=method)
        mid, rad = bw.det(a)
        for member_a, member_b in zip(members(ma, ra, rng), members(mb, rb, rng)):
            assert_encloses(x, exact_inverse_times(member_a, member_b), tight=1e3 * scale)
            assert_encloses(inverse, exact_inverse_times(member_a, exact_identity(n)), tight=1e3 * scale)
            d = exact_det(member_a)
            assert encloses(mid, rad, d, d)
        if c == 1:  # a 1-D right-hand side gives the same elements
            x1 = bw.solve(a, b.reshape(n), method=method)
            assert x1.shape == (n,) and snapshot(x1)[1:] == snapshot(x)[1:]


def random_element(rng):
    """Pairs that exercise every branch: zero-containing, exact zeros of both signs, NaN, entire, huge, tiny."""
    kind = rng.random()
    if kind < 0.5:
        return rng.uniform(-4, 4), rng.choice([0.0, 0.0, 1e-3, 2.0**-40])
    return rng.choice([(0.0, 0.0), (-0.0, 0.0), (0.0, 1.0), (0.5, 1.0), (NAN, INF), (NAN, 0.0), (1.0, INF),
                       (1e300, 1e290), (-1e-300, 0.0), (3.0, 0.0), (-2.0, 0.0), (1e-310, 1e-320)])


class TestSharedElimination:
    @pytest.mark.parametrize("seed", range(60))
    def test_equals_the_one_column_procedure_bit_for_bit(self, seed):
        rng = random.Random(seed)
        n, c = rng.randint(0, 7), rng.choice([0, 1, 2, 5])
        dense = seed % 3 != 0  # otherwise mostly branchy elements
        pick = (lambda: (rng.uniform(-4, 4), rng.choice([0.0, 1e-9]))) if dense else (lambda: random_element(rng))
        a = from_pairs([pick() for _ in range(n * n)], (n, n))
        b = from_pairs([random_element(rng) if rng.random() < 0.3 else pick() for _ in range(n * c)], (n, c))
        # Mostly zeros of both signs: x - 0 turns an end -0 into +0 for some signs of the multiplier.
        zeros = from_pairs([rng.choice([(0.0, 0.0), (-0.0, 0.0), (-0.0, 0.0), (2.0, 0.0)]) for _ in range(n * 4)],
                           (n, 4))
        for rhs in (b, bw.eye(n), zeros):
            try:
                expected = snapshot(bw._boundwise._solve_per_column(a, rhs))
            except ValueError as error:
                assert str(error) == SINGULAR
                raises(ValueError, SINGULAR, lambda: bw.solve(a, rhs))
                continue
            assert snapshot(bw.solve(a, rhs)) == expected
        if n and c == 1:  # the 1-D right-hand side runs the same procedure
            try:
                expected = snapshot(bw._boundwise._solve_per_column(a, b))[1:]
                assert snapshot(bw.solve(a, b.reshape(n)))[1:] == expected
            except ValueError as error:
                assert str(error) == SINGULAR


class TestDeterminantFaults:
    @pytest.mark.parametrize("elements, members", [
        ([(0.0, 1.0)], [-1, 1, 0]),                                     # pivot key 0, not an exact zero
        ([(1, 0), (0, 0), (0, 0), (0, 0), (0, 0), (1, 0), (0, 0), (NAN, INF), (0, 0)], [-1e300, 5, 1e300]),
        ([(1, 0), (0, 0), (0, 0), (0, 0), (0, 0), (1, 0), (0, 0), (0.0, 1.0), (0, 0)], [-1, 1]),
        ([(0.0, 1.0), (1, 0), (1, 0), (0.0, 1.0)], [-1, 0, -2]),        # members [[t, 1], [1, s]]
    ])
    def test_zero_midpoint_pivot_columns_keep_every_member(self, elements, members):
        n = math.isqrt(len(elements))
        mid, rad = bw.det(from_pairs(elements, (n, n)))
        for d in members:
            assert encloses(mid, rad, Fraction(d), Fraction(d))

    @pytest.mark.parametrize("rows", [[[0.0, 1.0], [0.0, 2.0]], [[0.0]], [[1.0, 2.0, 3.0], [0.0, 0.0, 0.0],
                                                                          [0.0, 0.0, 5.0]]])
    def test_exact_zero_columns_give_an_exact_zero(self, rows):
        assert bw.det(bw.array(rows)) == (0.0, 0.0)


class TestKrawczykRefusals:
    @pytest.mark.parametrize("elements", [
        [(1, 0), (2, 0), (2, 0), (4, 0)],                           # exactly singular
        [(0, 0)] * 9,
        [(1, 0), (1, 0), (1, 0), (1 + 2.0**-52, 0)],                # condition about 2^54
        [(1.0, 1.0), (0, 0), (0, 0), (1, 0)],                       # holds a singular member
        [(1, 0), (0.5, 0.6), (0.5, 0.6), (1, 0)],                   # too wide to contract
        [(1, 0), (NAN, 0.0), (0, 0), (1, 0)],
        [(1, 0), (0, INF), (0, 0), (1, 0)],
        [(1.0 / (i + j + 1), 0.0) for i in range(14) for j in range(14)],  # Hilbert, beyond double precision
    ], ids=["singular", "zeros", "ill-conditioned", "singular-member", "wide", "nan", "entire", "hilbert-14"])
    @pytest.mark.parametrize("call", ["solve", "inv"])
    def test_refuses_what_it_cannot_prove(self, elements, call):
        n = math.isqrt(len(elements))
        a, b = from_pairs(elements, (n, n)), bw.ones(n)
        before = snapshot(a), snapshot(b)
        run = (lambda: bw.solve(a, b, method="krawczyk")) if call == "solve" else (
            lambda: bw.inv(a, method="krawczyk"))
        raises(ValueError, UNVERIFIED, run)
        assert (snapshot(a), snapshot(b)) == before


def mp_cholesky(rows):
    import mpmath
    with mpmath.workprec(300):
        m = mpmath.cholesky(mpmath.matrix([[mpmath.mpf(x) for x in r] for r in rows]))
        return [[Fraction(*mpmath.mpf(m[i, j]).as_integer_ratio()) for j in range(len(rows))]
                for i in range(len(rows))]


def spd(n, rng, integral):
    m = [[rng.randint(-3, 3) if integral else rng.uniform(-1, 1) for _ in range(n)] for _ in range(n)]
    a = exact_matmul(exact(m), [list(r) for r in zip(*exact(m))])
    return [[float(a[i][j] + (n if i == j else 0)) for j in range(n)] for i in range(n)]


class TestCholesky:
    @pytest.mark.parametrize("n", [1, 2, 4, 7])
    @pytest.mark.parametrize("kind", ["integral", "real", "interval"])
    def test_encloses_the_factor_of_every_symmetric_member(self, n, kind):
        rng = random.Random(n)
        rows = spd(n, rng, kind == "integral")
        rad = [[abs(x) * (2.0**-30 if kind == "interval" else 0.0) for x in r] for r in rows]
        result = bw.cholesky(to_array(rows, rad))
        assert all(r > 0 for _, r in (grid(result)[i][i] for i in range(n)))  # square roots step outward
        for _ in range(3 if kind == "interval" else 1):
            signs = [[rng.choice([-1, 1]) for _ in range(n)] for _ in range(n)]
            member = [[rows[i][j] + signs[max(i, j)][min(i, j)] * rad[i][j] for j in range(n)] for i in range(n)]
            assert_encloses(result, mp_cholesky(member), tight=1e-6 if kind == "interval" else 1e-10)

    @pytest.mark.parametrize("upper", [100.0, NAN, INF, -1e300])
    def test_upper_triangle_is_never_read(self, upper):
        rows = spd(4, random.Random(1), False)
        garbled = [[upper if j > i else x for j, x in enumerate(r)] for i, r in enumerate(rows)]
        assert snapshot(bw.cholesky(bw.array(garbled))) == snapshot(bw.cholesky(bw.array(rows)))

    @pytest.mark.parametrize("elements, j, bound", [
        ([(0, 0), (0, 0), (0, 0), (1, 0)], 0, "0"),
        ([(-0.0, 0.0)], 0, "0"),
        ([(-2.0, 0.0)], 0, "-2"),
        ([(4, 0), (2, 0), (2, 0), (1, 0)], 1, None),        # d = 1 - 1 = 0, widened below 0
        ([(1, 0), (2, 0), (2, 0), (1, 0)], 1, None),        # a little below -3
        ([(NAN, 0.0)], 0, "NaN"),                           # a NaN pivot is not proven positive
        ([(4, 0), (0, 0), (NAN, INF), (9, 0)], 1, "NaN"),  # an entire element is an unknown pair
        ([(1, 0), (0, 0), (0, 0), (NAN, 0)], 1, "NaN"),
    ])
    def test_not_positive_definite_names_the_pivot_and_its_bound(self, elements, j, bound):
        n = math.isqrt(len(elements))
        a = from_pairs(elements, (n, n))
        before = snapshot(a)
        with pytest.raises(ValueError) as info:
            bw.cholesky(a)
        text = re.fullmatch(rf"cholesky: A\[{j},{j}\] lower bound (\S+) <= 0; matrix is not positive-definite",
                            str(info.value))
        assert text, str(info.value)
        printed = text.group(1)
        if bound is not None:
            assert printed == bound
        else:  # the shortest round-trip digits, without exponent, at or below the exact pivot
            assert "e" not in printed and Decimal(printed) == Decimal(repr(float(printed))) and float(printed) <= 0
        assert snapshot(a) == before


class TestLeastSquares:
    @pytest.mark.parametrize("m, n, c", [(3, 2, None), (6, 3, None), (10, 4, 2), (5, 1, 3), (4, 4, None)])
    def test_encloses_the_exact_normal_equation_solution(self, m, n, c):
        rng = random.Random(m * n)
        rows = [[float(rng.randint(-5, 5)) + (3 if i == j else 0) for j in range(n)] for i in range(m)]
        b = [[rng.uniform(-3, 3) for _ in range(c or 1)] for _ in range(m)]
        at = [list(col) for col in zip(*exact(rows))]
        want = exact_inverse_times(exact_matmul(at, exact(rows)), exact_matmul(at, exact(b)))
        x = bw.lstsq(bw.array(rows), bw.array(b if c else [r[0] for r in b]))
        assert x.shape == ((n, c) if c else (n,))
        assert_encloses(x.reshape(n, c or 1), want, tight=1e-6)

    @pytest.mark.parametrize("rows", [[[1.0, 1.0]] * 3, [[1.0, 2.0], [2.0, 4.0], [3.0, 6.0]]])
    def test_rank_deficient_systems_leave_the_solution_open(self, rows):
        # The products' radii keep the last pivot from being an exact zero; it contains zero instead.
        x = bw.lstsq(bw.array(rows), bw.ones(3))
        assert all(is_wide(m, r) for m, r in zip(x.values(), x.radii()))


def exact_power(a, k):
    result = exact_identity(len(a))
    for _ in range(abs(k)):
        result = exact_matmul(result, a)
    return exact_inverse_times(result, exact_identity(len(a))) if k < 0 else result


class TestMatrixPower:
    @pytest.mark.parametrize("k", [0, 1, 2, 3, 7, 10, -1, -2, -5])
    @pytest.mark.parametrize("rows", [[[1.0, 1.0], [0.0, 1.0]], [[0.5, -0.25, 1.0], [2.0, 1.0, 0.0], [0.1, 0.0, 3.0]]])
    def test_encloses_the_exact_rational_power(self, rows, k):
        p = bw.matrix_power(bw.array(rows), k)
        assert_encloses(p, exact_power(exact(rows), k), tight=1e-9)
        if k in (0, 1):  # the identity and a itself, without arithmetic
            assert snapshot(p) == snapshot(bw.eye(len(rows)) if k == 0 else bw.array(rows))

    def test_interval_powers_enclose_their_members(self):
        rng = random.Random(5)
        mid = [[rng.uniform(-1, 1) for _ in range(3)] for _ in range(3)]
        rad = [[2.0**-30] * 3 for _ in range(3)]
        p = bw.matrix_power(to_array(mid, rad), 4)
        for member in members(mid, rad, rng):
            assert_encloses(p, exact_power(member, 4))


SINGULAR_2X2 = [[1.0, 2.0], [2.0, 4.0]]
ERRORS = [  # (function, arguments, keywords, message); a ValueError unless the message says otherwise
    (bw.solve, (bw.ones((2, 3)), bw.ones(2)), {}, "solve requires a square matrix A"),
    (bw.solve, (bw.ones(3), bw.ones(3)), {}, "solve requires A to be 2D"),
    (bw.solve, (bw.eye(2), bw.ones(3)), {}, "solve: b length must match A rows"),
    (bw.solve, (bw.eye(2), bw.ones((2, 1, 1))), {}, "solve: b must be 1D or 2D"),
    (bw.solve, (bw.eye(2), bw.ones((3, 2))), {"method": "krawczyk"}, "solve: b rows must match A rows"),
    (bw.solve, (bw.eye(2), bw.ones(2)), {"method": "lu"}, "solve: method must be 'gauss' or 'krawczyk', got 'lu'"),
    (bw.solve, (bw.zeros((2, 2)), bw.ones(2)), {}, SINGULAR),
    (bw.solve, (bw.array([[(0.0, 1.0)]]), bw.ones((1, 3))), {}, SINGULAR),
    (bw.inv, (bw.array(SINGULAR_2X2),), {}, SINGULAR),
    (bw.inv, (bw.ones(2),), {}, "inv requires a 2D array"),
    (bw.inv, (bw.ones((2, 3)),), {"method": "krawczyk"}, "inv requires a square matrix"),
    (bw.inv, (bw.eye(2),), {"method": "Gauss"}, "inv: method must be 'gauss' or 'krawczyk', got 'Gauss'"),
    (bw.det, (bw.ones(2),), {}, "det requires a 2D array"),
    (bw.det, (bw.ones((3, 2)),), {}, "det requires a square matrix"),
    (bw.cholesky, (bw.ones((2, 3)),), {}, "cholesky requires a square matrix"),
    (bw.cholesky, (bw.ones(2),), {}, "cholesky requires a square matrix"),
    (bw.lstsq, (bw.ones(3), bw.ones(3)), {}, "lstsq requires A to be 2D"),
    (bw.lstsq, (bw.ones((3, 2)), bw.ones(2)), {}, "lstsq: b shape must be (m,) or (m, nrhs)"),
    (bw.lstsq, (bw.ones((3, 2)), bw.ones((3, 1, 1))), {}, "matmul: unsupported dimensionalities 2D and 3D"),
    (bw.lstsq, (bw.ones((3, 2)), bw.ones((2, 0))), {}, "matmul: shapes (2, 3) and (2, 0) not aligned"),
    (bw.matrix_power, (bw.ones((2, 3)), 2), {}, "matrix_power requires a square matrix"),
    (bw.matrix_power, (bw.ones(3), 0), {}, "matrix_power requires a square matrix"),
    (bw.matrix_power, (bw.array(SINGULAR_2X2), -1), {}, SINGULAR),
    (bw.matrix_power, (bw.eye(2), -2**63), {},
     "matrix_power: exponent -9223372036854775808 is out of range (its negation does not fit in a signed 64-bit "
     "integer)"),
    (bw.solve, ([[1.0]], bw.ones(1)), {},
     TypeError("argument 'a': 'list' object cannot be converted to 'IntervalArray'")),
    (bw.solve, (bw.eye(1), bw.ones(1)), {"method": 1},
     TypeError("argument 'method': 'int' object cannot be converted to 'PyString'")),
    (bw.matrix_power, (bw.eye(2), 1.5), {},
     TypeError("argument 'n': 'float' object cannot be interpreted as an integer")),
    (bw.solve, (bw.eye(2), bw.ones(2), "gauss"), {},
     TypeError("solve() takes 2 positional arguments but 3 were given")),
]


@pytest.mark.parametrize("function, arguments, keywords, message", ERRORS)
def test_errors_carry_their_messages_and_leave_the_operands(function, arguments, keywords, message):
    arrays = [x for x in arguments if isinstance(x, bw.IntervalArray)]
    before = [snapshot(x) for x in arrays]
    exception, message = (type(message), str(message)) if isinstance(message, Exception) else (ValueError, message)
    raises(exception, message, lambda: function(*arguments, **keywords))
    assert [snapshot(x) for x in arrays] == before


def test_edge_shapes():
    assert bw.solve(bw.zeros((0, 0)), bw.zeros(0)).shape == (0,)
    assert bw.solve(bw.zeros((2, 2)), bw.zeros((2, 0))).shape == (2, 0)  # nothing to solve for: no elimination
    assert bw.inv(bw.zeros((0, 0)), method="krawczyk").shape == (0, 0)
    assert bw.det(bw.zeros((0, 0))) == (1.0, 0.0)
    assert bw.matrix_power(bw.zeros((0, 0)), 3).shape == (0, 0)
    assert bw.cholesky(bw.zeros((0, 0))).shape == (0, 0)


@pytest.mark.parametrize("work, operands", [
    (bw.solve, 2), (bw.det, 1), (bw.cholesky, 1), (functools.partial(bw.inv, method="krawczyk"), 1),
], ids=["solve", "det", "cholesky", "krawczyk"])
def test_linear_algebra_releases_the_lock(work, operands):
    n = 160
    a = bw.eye(n) * float(n) + bw.full((n, n), (0.5, 1e-9))
    assert releases_lock(work, *(a, bw.ones(n))[:operands])
