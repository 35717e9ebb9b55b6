// Module functions on the process-wide generator: seed, rand, random_sample,
// randn, randint, uniform and normal.
#include <optional>

#include "boundwise/create/random.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"

namespace boundwise::py {

namespace {

// size and *extra: a shape as zeros reads one, the ints of *extra when size is
// None, or nothing (a single value) when both are absent.
std::optional<Shape> size_argument(const Arguments& a, std::size_t i) {
    if (a.has(i) && a[i] != Py_None) return to_shape(a[i], a.extra());
    if (a.extra().empty()) return std::nullopt;
    Shape dims;
    for (PyObject* item : a.extra()) dims.push_back(to_u64(item));
    check_ndim(dims.size());
    return dims;
}

Ref new_number(double x) { return new_float(x); }
Ref new_number(std::int64_t x) { return check(PyLong_FromLongLong(x)); }

// Called once the distribution's parameters are checked: reading the shape and
// drawing come last, so a refused call draws nothing.
template <class Distribution>
PyObject* draw_for_size(const Arguments& a, std::size_t size_index, const Distribution& d) {
    std::optional<Shape> shape = size_argument(a, size_index);
    if (!shape) return new_number(draw(d)).release();
    return wrap(random_array(std::move(*shape), d));
}

PyObject* seed_function(PyObject*, const Arguments& a) {
    seed_generator(a.convert(0, to_u64));
    Py_RETURN_NONE;
}

PyObject* rand_function(PyObject*, const Arguments& a) { return draw_for_size(a, 0, UnitUniform{}); }

PyObject* randn_function(PyObject*, const Arguments& a) { return draw_for_size(a, 0, Normal{}); }

PyObject* randint_function(PyObject*, const Arguments& a) {
    const std::int64_t low = a.convert(0, to_i64);
    const std::int64_t high = a.convert(1, to_i64);
    return draw_for_size(a, 2, Integers(low, high));
}

PyObject* uniform_function(PyObject*, const Arguments& a) {
    const double low = a.convert(0, to_double);
    const double high = a.convert(1, to_double);
    return draw_for_size(a, 2, Uniform(low, high));
}

PyObject* normal_function(PyObject*, const Arguments& a) {
    const double loc = a.convert_or(0, 0.0, to_double);
    const double scale = a.convert_or(1, 1.0, to_double);
    return draw_for_size(a, 2, Normal(loc, scale));
}

constexpr auto kRandom = function_table({
    {"seed", "seed_value", seed_function, "Seed the generator with an integer in [0, 2**64)."},
    {"rand", "size=None, *extra", rand_function, "Uniform exact points in [0, 1)."},
    {"random_sample", "size=None, *extra", rand_function, "Uniform exact points in [0, 1) (same as rand)."},
    {"randn", "size=None, *extra", randn_function, "Standard normal exact points."},
    {"randint", "low, high, size=None, *extra", randint_function, "Random integers in [low, high)."},
    {"uniform", "low, high, size=None, *extra", uniform_function, "Uniform exact points in [low, high)."},
    {"normal", "loc=0.0, scale=1.0, size=None, *extra", normal_function,
     "Normal exact points with mean loc and standard deviation scale."},
});

}  // namespace

void add_random_functions(std::vector<PyMethodDef>& functions) { add_entries<kRandom>(functions); }

}  // namespace boundwise::py
