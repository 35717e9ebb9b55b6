// Reductions of IntervalArray: sums, products and moments; extremes, ordering
// and predicates. Without an axis the interval results are (midpoint, radius)
// tuples; along an axis they are arrays with that axis removed. Large arrays
// are reduced without the interpreter lock.
#include <cstdint>
#include <optional>
#include <vector>

#include "bool_array/bool_array.hpp"
#include "boundwise/reduce/extremes.hpp"
#include "boundwise/reduce/moments.hpp"
#include "boundwise/reduce/ordering.hpp"
#include "boundwise/reduce/predicates.hpp"
#include "boundwise/reduce/products.hpp"
#include "boundwise/reduce/sums.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

// compute(value of self), without the lock when the array is large.
template <class Compute>
auto reduce_self(PyObject* self, Compute&& compute) {
    const Array a = read_array(self);
    return unlocked_if_large(a.size(), [&] { return compute(a); });
}

PyObject* pair(Interval v) { return new_pair(v.mid, v.rad).release(); }
PyObject* boolean(bool b) { return PyBool_FromLong(b); }

using Whole = Interval (*)(const Array&);
using Along = Array (*)(const Array&, std::uint64_t);

// sum, mean, prod, var, std, max, min: a tuple, or an array along `axis`.
template <Whole whole, Along along>
PyObject* interval_reduction(PyObject* self, const Arguments& a) {
    if (const std::optional<std::uint64_t> axis = optional_axis(a, 0))
        return wrap(reduce_self(self, [&](const Array& x) { return along(x, *axis); }));
    return pair(reduce_self(self, whole));
}

template <Whole whole>
PyObject* whole_reduction(PyObject* self, const Arguments&) { return pair(reduce_self(self, whole)); }

PyObject* cumsum_method(PyObject* self, const Arguments& a) {
    const std::optional<std::uint64_t> axis = optional_axis(a, 0);
    return wrap(reduce_self(self, [&](const Array& x) { return axis ? cumsum(x, *axis) : cumsum(x); }));
}

using WholeIndex = std::uint64_t (*)(const Array&);
using LaneIndices = std::vector<std::uint64_t> (*)(const Array&, std::uint64_t);

// argmax, argmin: a flat index, or a list of indices along `axis`.
template <WholeIndex whole, LaneIndices along>
PyObject* index_reduction(PyObject* self, const Arguments& a) {
    if (const std::optional<std::uint64_t> axis = optional_axis(a, 0))
        return new_list_of_ints(reduce_self(self, [&](const Array& x) { return along(x, *axis); })).release();
    return new_u64(reduce_self(self, whole)).release();
}

using WholeFlag = bool (*)(const Array&);
using LaneFlags = BoolMask (*)(const Array&, std::uint64_t);

// all, any: a bool, or a mask with one flag per lane (a bool for one lane).
template <WholeFlag whole, LaneFlags along>
PyObject* flag_reduction(PyObject* self, const Arguments& a) {
    if (const std::optional<std::uint64_t> axis = optional_axis(a, 0)) {
        BoolMask flags = reduce_self(self, [&](const Array& x) { return along(x, *axis); });
        if (flags.size() == 1) return boolean(flags[0]);
        return wrap_mask(std::move(flags));
    }
    return boolean(reduce_self(self, whole));
}

PyObject* argsort_method(PyObject* self, const Arguments&) {
    return new_list_of_ints(reduce_self(self, sort_order)).release();
}

PyObject* nonzero_method(PyObject* self, const Arguments&) {
    const std::vector<std::vector<std::uint64_t>> coords = reduce_self(self, nonzero);
    Ref tuple = check(PyTuple_New(static_cast<Py_ssize_t>(coords.size())));
    for (std::size_t d = 0; d < coords.size(); ++d)
        check_status(PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(d), new_list_of_ints(coords[d]).release()));
    return tuple.release();
}

template <double (*measure)(const Array&)>
PyObject* float_measure(PyObject* self, const Arguments&) { return new_float(reduce_self(self, measure)).release(); }

template <WholeFlag predicate>
PyObject* whole_predicate(PyObject* self, const Arguments&) { return boolean(reduce_self(self, predicate)); }

constexpr auto kMethods = method_table("IntervalArray", {
    {"sum", "axis=None", interval_reduction<sum, sum>,
     "Sum of the elements: a (midpoint, radius) tuple, or an array of sums along `axis`."},
    {"mean", "axis=None", interval_reduction<mean, mean>,
     "Mean of the elements: a (midpoint, radius) tuple, or an array of means along `axis`."},
    {"prod", "axis=None", interval_reduction<product, product>,
     "Product of the elements: a (midpoint, radius) tuple, or an array of products along `axis`."},
    {"var", "axis=None", interval_reduction<variance, variance>,
     "Population variance (divisor n): a (midpoint, radius) tuple, or an array along `axis`."},
    {"std", "axis=None", interval_reduction<standard_deviation, standard_deviation>,
     "Population standard deviation: a (midpoint, radius) tuple, or an array along `axis`."},
    {"cumsum", "axis=None", cumsum_method,
     "Running sums in element order, or along `axis`; the shape is kept."},
    {"norm", "", whole_reduction<norm>, "Euclidean (Frobenius) norm of all elements as a (midpoint, radius) tuple."},
    {"max", "axis=None", interval_reduction<interval_max, interval_max>,
     "Interval maximum: a (midpoint, radius) tuple, or an array of maxima along `axis`."},
    {"min", "axis=None", interval_reduction<interval_min, interval_min>,
     "Interval minimum: a (midpoint, radius) tuple, or an array of minima along `axis`."},
    {"max_val", "", whole_reduction<interval_max>, "Backward-compatible alias for `max()`."},
    {"min_val", "", whole_reduction<interval_min>, "Backward-compatible alias for `min()`."},
    {"argmax", "axis=None", index_reduction<argmax, argmax>,
     "Flat index of the largest midpoint (ties: larger radius, then first), or a list of indices along `axis`."},
    {"argmin", "axis=None", index_reduction<argmin, argmin>,
     "Flat index of the smallest midpoint (ties: smaller radius, then first), or a list of indices along `axis`."},
    {"sort", sorted, "The elements sorted by midpoint, then radius (stable), in the same shape."},
    {"argsort", "", argsort_method, "The flat indices that sort the elements (stable)."},
    {"nonzero", "", nonzero_method, "Coordinates of the elements that are not exactly zero, one list per dimension."},
    {"all", "axis=None", flag_reduction<all_nonzero, all_nonzero>,
     "Whether no element is exactly zero, overall or per lane along `axis`."},
    {"any", "axis=None", flag_reduction<any_nonzero, any_nonzero>,
     "Whether some element is not exactly zero, overall or per lane along `axis`."},
    {"max_relative_error", "", float_measure<max_relative_error>,
     "Largest radius / |midpoint| over inexact elements (+inf where it is unbounded)."},
    {"max_radius", "", float_measure<max_radius>, "Largest radius (+inf where an element is NaN)."},
    {"is_exact", "", whole_predicate<is_exact>, "Whether every element is an exact number (radius 0)."},
    {"is_empty", "", whole_predicate<is_empty>, "Whether the array has no elements."},
});

}  // namespace

void add_reduction_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

}  // namespace boundwise::py
