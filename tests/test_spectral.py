"""Singular values, pseudo-inverse, condition number, rank and eigenvalues:
containment of exact values (mpmath at high precision, Fraction where the
result is rational), refusals and their messages."""

from __future__ import annotations

import itertools
from fractions import Fraction

import mpmath
import numpy as np
import pytest

import boundwise as bw
from oracles import INF, NAN, exact_identity, exact_inverse_times, exact_matmul, from_pairs, raises, snapshot

mpmath.mp.prec = 300


def point(a):
    return bw.array(np.asarray(a, dtype=float).tolist())


def contains(mid, rad, x) -> bool:
    """[mid - rad, mid + rad] holds the mpmath value x (exact ends in mpf)."""
    if mid != mid or rad == INF:
        return True
    return mpmath.mpf(mid) - mpmath.mpf(rad) <= x <= mpmath.mpf(mid) + mpmath.mpf(rad)


def exact_singular_values(a):
    return sorted(mpmath.svd_r(mpmath.matrix(np.asarray(a).tolist()), compute_uv=False), reverse=True)


def with_spectrum(values, shape=None, seed=0):
    """Q1 diag(values) Q2^T in doubles, Q1 and Q2 random orthogonal."""
    rng = np.random.default_rng(seed)
    m, n = shape or (len(values), len(values))
    q1, _ = np.linalg.qr(rng.standard_normal((m, m)))
    q2, _ = np.linalg.qr(rng.standard_normal((n, n)))
    d = np.zeros((m, n))
    d[: len(values), : len(values)] = np.diag(values)
    return q1 @ d @ q2.T


SPECTRA = {
    "separated": ([5.0, 2.0, 1.0, 0.5], None),
    "clustered": ([1.0 + 1e-10, 1.0, 1.0 - 1e-10, 0.25], None),
    "repeated": ([2.0, 2.0, 1.0], None),
    "with_zero": ([3.0, 1.0, 0.0], None),
    "tall": ([4.0, 1.0, 0.01], (6, 3)),
    "wide": ([4.0, 1.0, 0.01], (3, 6)),
    "graded": ([1e8, 1.0, 1e-8], None),
}


@pytest.mark.parametrize("name", SPECTRA)
def test_svd_encloses_exact_singular_values_and_separated_vectors(name):
    values, shape = SPECTRA[name]
    a = with_spectrum(values, shape)
    u, s, vh = bw.svd(point(a))
    k = min(a.shape)
    assert (u.shape, s.shape, vh.shape) == ((a.shape[0], k), (k,), (k, a.shape[1]))
    exact = exact_singular_values(a)
    for (mid, rad), x in zip(zip(s.values(), s.radii()), exact):
        assert contains(mid, rad, x)
        assert rad < 1e-12 * max(values)
    # Vectors of a simple, well separated value: exact ones up to a common sign.
    mu, ms, mv = mpmath.svd_r(mpmath.matrix(a.tolist()))
    order = sorted(range(k), key=lambda j: -ms[j])
    um, ur = np.reshape(u.values(), u.shape), np.reshape(u.radii(), u.shape)
    vm, vr = np.reshape(vh.values(), vh.shape), np.reshape(vh.radii(), vh.shape)
    for j, jj in enumerate(order):
        gaps = [abs(exact[j] - exact[i]) for i in range(k) if i != j] + [exact[j]]
        if min(gaps) < 1e-3:
            continue
        assert ur[:, j].max() < 1e-9 * max(values) / min(gaps)
        sign = 1 if (mu[0, jj] * um[0, j] + mu[1, jj] * um[1, j]) > 0 else -1
        for i in range(a.shape[0]):
            assert contains(um[i, j], ur[i, j], sign * mu[i, jj])
        for i in range(a.shape[1]):
            assert contains(vm[j, i], vr[j, i], sign * mv[jj, i])


VERTEX_CASES = {
    # midpoint I, every radius 1: the member I + ones has eigenvalue and singular value 5.
    "identity_radius_one": (np.eye(4), np.ones((4, 4))),
    "zero_radius_one": (np.zeros((1, 1)), np.ones((1, 1))),
    "column_thin_entry": (np.array([[1.0], [0.0]]), np.array([[0.0], [0.1]])),
    "random_thick": (with_spectrum([3.0, 2.0, 1.0], seed=3), np.full((3, 3), 0.05)),
}


def vertices(mid, rad, symmetric=False, limit=64, seed=1):
    """Vertex matrices (every element at an end), random when there are many."""
    rng = np.random.default_rng(seed)
    m, n = mid.shape
    for _ in range(limit):
        signs = rng.choice([-1.0, 1.0], size=(m, n))
        if symmetric:
            signs = np.triu(signs) + np.triu(signs, 1).T
        yield mid + signs * rad
    yield mid + rad
    yield mid - rad


@pytest.mark.parametrize("name", VERTEX_CASES)
def test_svd_covers_every_vertex_matrix(name):
    mid, rad = VERTEX_CASES[name]
    a = from_pairs(list(zip(mid.ravel().tolist(), rad.ravel().tolist())), mid.shape)
    u, s, vh = bw.svd(a)
    for vertex in vertices(mid, rad):
        for (m, r), x in zip(zip(s.values(), s.radii()), exact_singular_values(vertex)):
            assert contains(m, r, x)
        # The left vector of the largest value, up to sign, inside U's first column.
        mu, ms, _ = mpmath.svd_r(mpmath.matrix(vertex.tolist()))
        top = max(range(len(ms)), key=lambda j: ms[j])
        column = [(u.values()[i * u.shape[1]], u.radii()[i * u.shape[1]]) for i in range(u.shape[0])]
        assert any(all(contains(m, r, sign * mu[i, top]) for i, (m, r) in enumerate(column)) for sign in (1, -1))


@pytest.mark.parametrize("name", ["identity_radius_one", "random_thick"])
def test_eig_covers_every_symmetric_vertex_matrix(name):
    mid, rad = VERTEX_CASES[name]
    mid = (mid + mid.T) / 2
    a = from_pairs(list(zip(mid.ravel().tolist(), rad.ravel().tolist())), mid.shape)
    values, _ = bw.eig(a)
    for vertex in vertices(mid, rad, symmetric=True):
        exact = sorted(mpmath.eigsy(mpmath.matrix(vertex.tolist()), eigvals_only=True), reverse=True)
        assert all(contains(m, r, x) for m, r, x in zip(values.values(), values.radii(), exact))


@pytest.mark.parametrize("spectrum", [[4.0, 1.0, -2.0, 0.5], [1.0, 1.0 + 1e-9, 3.0], [2.0, 2.0, -1.0]])
def test_symmetric_eig_encloses_exact_eigenpairs(spectrum):
    q = with_spectrum([1.0] * len(spectrum), seed=7)
    a = q @ np.diag(spectrum) @ q.T
    a = (a + a.T) / 2
    values, vectors = bw.eig(point(a))
    exact, ev = mpmath.eigsy(mpmath.matrix(a.tolist()))
    order = sorted(range(len(spectrum)), key=lambda j: -exact[j])
    n = len(spectrum)
    vm, vr = np.reshape(vectors.values(), (n, n)), np.reshape(vectors.radii(), (n, n))
    for j, jj in enumerate(order):
        assert contains(values.values()[j], values.radii()[j], exact[jj])
        if min(abs(exact[jj] - exact[i]) for i in range(n) if i != jj) > 1e-3:
            assert vr[:, j].max() < 1e-9
            sign = 1 if sum(vm[i, j] * ev[i, jj] for i in range(n)) > 0 else -1
            assert all(contains(vm[i, j], vr[i, j], sign * ev[i, jj]) for i in range(n))


GENERAL = {
    "similar_to_diagonal": np.array([[1.0, 2.0, 0.0], [0.0, 1.0, 1.0], [1.0, 0.0, 1.0]]) @ np.diag([3.0, -1.0, 0.5])
    @ np.linalg.inv(np.array([[1.0, 2.0, 0.0], [0.0, 1.0, 1.0], [1.0, 0.0, 1.0]])),
    "companion": np.array([[6.0, -11.0, 6.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]),  # roots 1, 2, 3
    "triangular": np.array([[3.0, 1.0, 5.0], [0.0, -2.0, 7.0], [0.0, 0.0, 0.25]]),
}


@pytest.mark.parametrize("name", GENERAL)
def test_general_eig_encloses_exact_eigenpairs(name):
    a = GENERAL[name]
    values, vectors = bw.eig(point(a))
    n = a.shape[0]
    exact, ev = mpmath.eig(mpmath.matrix(a.tolist()))
    order = sorted(range(n), key=lambda j: -mpmath.re(exact[j]))
    vm, vr = np.reshape(vectors.values(), (n, n)), np.reshape(vectors.radii(), (n, n))
    x = mpmath.matrix(vm.tolist())
    for j, jj in enumerate(order):
        assert contains(values.values()[j], values.radii()[j], mpmath.re(exact[jj]))
        assert values.radii()[j] < 1e-10
        # The enclosed vector is the exact one scaled to coordinate 1 along column j of X.
        v = ev[:, jj]
        y = mpmath.lu_solve(x, v)
        w = [mpmath.re(v[i] / y[j]) for i in range(n)]
        assert all(contains(vm[i, j], vr[i, j], w[i]) for i in range(n))


@pytest.mark.parametrize("scale", [1e200, 1e-200, 2.0**-1070])
def test_extreme_magnitudes_stay_finite_and_enclosing(scale):
    a = point(np.diag([2.0, 1.0]) * scale)
    _, s, _ = bw.svd(a)
    assert all(contains(m, r, x) for m, r, x in zip(s.values(), s.radii(), [2 * mpmath.mpf(scale), mpmath.mpf(scale)]))
    assert s.radii()[0] < INF
    assert bw.matrix_rank(a) == 2
    values, _ = bw.eig(a)
    assert values.radii()[0] < INF and contains(values.values()[1], values.radii()[1], mpmath.mpf(scale))


@pytest.mark.parametrize("entries", [[[2.0, 1.0], [1.0, 3.0]], [[5.0, 0.0], [0.0, 1e-15]], [[1.0, 2.0], [3.0, 4.0]],
                                     [[1.0, 1.0], [1.0, 1.0]], [[1.0]]])
def test_cond_contains_exact_ratio(entries):
    a = np.array(entries)
    s = exact_singular_values(a)
    mid, rad = bw.cond(point(a))
    assert not (rad == INF and mid == 1.7976931348623157e308)
    if s[-1] == 0:
        assert (mid, rad) == (INF, INF)
    else:
        assert contains(mid, rad, s[0] / s[-1])


def exact_rank(rows) -> int:
    m = [[Fraction(x) for x in row] for row in rows]
    rank = 0
    for c in range(len(m[0]) if m else 0):
        pivot = next((r for r in range(rank, len(m)) if m[r][c] != 0), None)
        if pivot is None:
            continue
        m[rank], m[pivot] = m[pivot], m[rank]
        for r in range(len(m)):
            if r != rank and m[r][c] != 0:
                f = m[r][c] / m[rank][c]
                m[r] = [x - f * y for x, y in zip(m[r], m[rank])]
        rank += 1
    return rank


@pytest.mark.parametrize("shape,rank", [((5, 5), 3), ((4, 6), 2), ((6, 3), 3), ((3, 3), 0), ((4, 4), 4)])
def test_matrix_rank_equals_exact_rank(shape, rank):
    rng = np.random.default_rng(sum(shape) + rank)
    a = rng.integers(-3, 4, (shape[0], rank)) @ rng.integers(-3, 4, (rank, shape[1])) if rank else np.zeros(shape)
    assert bw.matrix_rank(point(a)) == exact_rank(a.tolist())


def exact_pinv(rows):
    """(A^T A)^-1 A^T for a tall A, A^T (A A^T)^-1 for a wide one."""
    a = [[Fraction(x) for x in row] for row in rows]
    at = [list(col) for col in zip(*a)]
    if len(a) >= len(a[0]):
        return exact_inverse_times(exact_matmul(at, a), at)
    inverse = exact_inverse_times(exact_matmul(a, at), exact_identity(len(a)))
    return exact_matmul(at, inverse)


@pytest.mark.parametrize("entries", [[[2.0, 1.0], [1.0, 3.0]], [[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]],
                                     [[1.0, 0.5, 0.25], [0.0, 1.0, 3.0]], [[4.0]]])
def test_pinv_contains_exact_moore_penrose_inverse(entries):
    p = bw.pinv(point(entries))
    exact = exact_pinv(entries)
    assert p.shape == (len(exact), len(exact[0]))
    for (mid, rad), x in zip(zip(p.values(), p.radii()), itertools.chain.from_iterable(exact)):
        assert Fraction(mid) - Fraction(rad) <= x <= Fraction(mid) + Fraction(rad)
        assert rad < 1e-12


def test_nan_input_gives_unbounded_values_and_refused_rank():
    a = point([[1.0, NAN], [0.0, 1.0]])
    before = snapshot(a)
    _, s, _ = bw.svd(a)
    assert all(r == INF for r in s.radii())
    assert bw.cond(a)[1] == INF
    raises(ValueError, "matrix_rank: singular values are not finite (the matrix holds NaN, infinite or unbounded "
           "elements)", lambda: bw.matrix_rank(a))
    assert snapshot(a) == before


EIG_DEFECTIVE = ("eig: eigenvector matrix is numerically singular (defective or nearly defective matrix); "
                 "eigenvalues cannot be rigorously enclosed")


@pytest.mark.parametrize("call,exception,message", [
    (lambda: bw.eig(point([1.0, 2.0])), ValueError, "eig requires a 2D array"),
    (lambda: bw.eig(point([[1.0, 2.0]])), ValueError, "eig requires a square matrix"),
    (lambda: bw.eig(point([[0.0, -1.0], [1.0, 0.0]])), NotImplementedError,
     "eig: matrix has complex eigenvalues; only real eigenvalues are supported"),
    (lambda: bw.eig(point([[1.0, 1.0], [0.0, 1.0]])), ValueError, EIG_DEFECTIVE),
    (lambda: bw.svd(point([1.0, 2.0])), ValueError, "svd requires a 2D array"),
    (lambda: bw.pinv(point([1.0, 2.0])), ValueError, "pinv requires at least a 2D array"),
    (lambda: bw.pinv(bw.zeros([2, 2, 2]) + 1), ValueError, "svd requires a 2D array"),
    (lambda: bw.cond(point([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]])), ValueError, "cond requires a square matrix"),
    (lambda: bw.matrix_rank(point([1.0, 2.0])), ValueError, "matrix_rank requires a 2D array"),
])
def test_messages(call, exception, message):
    raises(exception, message, call)


def test_small_edge_cases():
    u, s, vh = bw.svd(point([[3.0, 0.0], [0.0, 1.0]]))
    assert s.values() == [3.0, 1.0] and max(s.radii()) < 1e-14
    assert [abs(x) for x in u.values()] == [1.0, 0.0, 0.0, 1.0]
    assert [x.shape for x in bw.svd(bw.zeros([0, 3]))] == [(0, 0), (0,), (0, 3)]
    assert bw.pinv(bw.zeros([0, 3])).shape == (3, 0)
    assert bw.cond(bw.zeros([0, 0])) == (0.0, 0.0)
    _, vectors = bw.eig(point([[1.0, 0.0], [0.0, 1.0]]))  # no gap: every unit vector fits
    assert min(vectors.radii()) >= 1.0
    values, vectors = bw.eig(point([[7.5]]))
    assert values.values() == [7.5] and vectors.radii()[0] < 1e-15
    assert bw.eig(point([[1.0, 0.0], [0.0, 3.0]]))[0].values() == [3.0, 1.0]
