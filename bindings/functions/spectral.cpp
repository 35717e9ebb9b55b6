// Module functions of the spectral enclosures: eig, svd and pinv; then
// matrix_rank and cond. Each reads its array, computes without the
// interpreter lock, and reports refusals through report_status.
#include "boundwise/linalg/spectral.hpp"
#include "functions/module_functions.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

template <class Compute>
auto unlocked(Compute&& compute) -> decltype(compute()) {
    ReleasedLock released;
    return compute();
}

PyObject* new_tuple(std::initializer_list<Array> arrays) {
    std::vector<Ref> items;
    for (const Array& a : arrays) items.push_back(Ref::steal(wrap(a)));
    if (items.size() == 2) return check(PyTuple_Pack(2, items[0].get(), items[1].get())).release();
    return check(PyTuple_Pack(3, items[0].get(), items[1].get(), items[2].get())).release();
}

PyObject* eig_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    Result<EigenEnclosure> e = unlocked([&] { return eig(m); });
    report_status(e.flags);
    return new_tuple({e.value.values, e.value.vectors});
}

PyObject* svd_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const SvdEnclosure e = unlocked([&] { return svd(m); });
    return new_tuple({e.left, e.values, e.right_t});
}

PyObject* pinv_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    return wrap(unlocked([&] { return pinv(m); }));
}

PyObject* matrix_rank_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const Result<std::size_t> rank = unlocked([&] { return matrix_rank(m); });
    report_status(rank.flags);
    return new_u64(rank.value).release();
}

PyObject* cond_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const Interval c = unlocked([&] { return cond(m); });
    return new_pair(c.mid, c.rad).release();
}

constexpr auto kEigenSvd = function_table({
    {"eig", "a", eig_function,
     "Enclosures (values, vectors) of the real eigenvalues, in decreasing order, and eigenvectors (column j for "
     "value j) of a square interval matrix. When the midpoint matrix is symmetric, the enclosure covers the "
     "eigenvalues of the symmetric members of a only, with unit eigenvectors up to sign. Otherwise each value "
     "is proven to be a simple real eigenvalue of every member, and column j holds an eigenvector scaled to "
     "coordinate 1 along the approximate one; complex eigenvalues raise NotImplementedError and a failed "
     "proof ValueError."},
    {"svd", "a", svd_function,
     "Enclosure (U, S, Vh) of the singular value decomposition of every member of a 2-D interval matrix: S in "
     "decreasing order, the singular vectors up to a common sign per pair."},
    {"pinv", "a", pinv_function,
     "Enclosure of the Moore-Penrose pseudo-inverse, with singular values below max(m, n) * 2^-52 times the "
     "largest one taken as zero."},
});

constexpr auto kRankCond = function_table({
    {"matrix_rank", "a", matrix_rank_function,
     "Number of singular values above (k + 1) * 2^-52 times the largest upper end, k = min(m, n)."},
    {"cond", "a", cond_function,
     "Enclosure of the 2-norm condition number of every member of a square interval matrix, as the tuple "
     "(midpoint, radius); (inf, inf) when a member may be singular."},
});

}  // namespace

void add_eigen_svd_functions(std::vector<PyMethodDef>& functions) { add_entries<kEigenSvd>(functions); }

void add_rank_cond_functions(std::vector<PyMethodDef>& functions) { add_entries<kRankCond>(functions); }

}  // namespace boundwise::py
