// Element-wise methods of IntervalArray: rounding, abs, sign, nan_to_num,
// clip, maximum, minimum and the elementary functions (power, which follows
// the rules of the ** operator, lives with the operators). Those without
// arguments are rows of the shared element-wise entry; the others parse their
// arguments and run the core the same way.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

template <Elementary F>
Result<Array> elementary_of(const Array& a) { return elementary(a, F); }
template <IntegerRounding Mode>
Array rounded(const Array& a) { return round_to_integer(a, Mode); }

PyObject* absolute_slot(PyObject* self) noexcept {
    return guarded([&] { return apply_to_self(self, absolute); });
}

// ndigits: None or absent rounds to integers; otherwise a 32-bit signed integer.
std::optional<std::int32_t> ndigits_argument(const Arguments& a) {
    if (!a.has(0) || a[0] == Py_None) return std::nullopt;
    const std::int64_t n = a.convert(0, to_i64);
    if (n < INT32_MIN || n > INT32_MAX) throw Error(ErrorKind::Overflow, "Python int too large to convert to C int");
    return static_cast<std::int32_t>(n);
}

// round and __round__.
PyObject* round_method(PyObject* self, const Arguments& a) {
    const std::optional<std::int32_t> ndigits = ndigits_argument(a);
    const Array x = read_array(self);
    return run_element_wise(x.size(), [&] {
        return ndigits ? round_decimals(x, *ndigits) : round_to_integer(x, IntegerRounding::HalfEven);
    });
}

PyObject* clip_method(PyObject* self, const Arguments& a) {
    const double a_min = a.convert(0, to_double);
    const double a_max = a.convert(1, to_double);
    const Array x = read_array(self);
    return run_element_wise(x.size(), [&] { return clip(x, a_min, a_max); });
}

// maximum and minimum take an array (broadcast with self) or anything
// PyFloat_AsDouble accepts; other operands fail with the operation's TypeError.
template <class OnArray, class OnNumber>
PyObject* binary_method(PyObject* self, const Arguments& a, const char* name, OnArray on_array, OnNumber on_number) {
    const Array x = read_array(self);
    if (is_interval_array(a[0])) {
        const Array y = read_array(a[0]);
        return run_element_wise(std::max(x.size(), y.size()), [&] { return on_array(x, y); });
    }
    const std::optional<Interval> number = try_number(a[0]);
    if (!number) throw type_error(std::string("unsupported operand type for ") + name);
    if (number->rad != 0.0) {  // an int that no double equals
        const Array y = number_array(*number);
        return run_element_wise(x.size(), [&] { return on_array(x, y); });
    }
    return run_element_wise(x.size(), [&] { return on_number(x, number->mid); });
}

PyObject* maximum_method(PyObject* self, const Arguments& a) {
    return binary_method(
        self, a, "maximum", [](const Array& x, const Array& y) { return maximum(x, y); },
        [](const Array& x, double y) { return maximum(x, y); });
}
PyObject* minimum_method(PyObject* self, const Arguments& a) {
    return binary_method(
        self, a, "minimum", [](const Array& x, const Array& y) { return minimum(x, y); },
        [](const Array& x, double y) { return minimum(x, y); });
}

constexpr const char* kRoundDoc =
    "Round to the nearest integer (ties to even), or to the nearest multiple of 10**-ndigits.";

constexpr auto kMethods = method_table("IntervalArray", {
    {"abs", absolute, "Element-wise absolute value."},
    {"floor", rounded<IntegerRounding::Floor>, "Element-wise floor."},
    {"ceil", rounded<IntegerRounding::Ceil>, "Element-wise ceiling."},
    {"trunc", rounded<IntegerRounding::Trunc>, "Element-wise truncation towards zero."},
    {"round", "ndigits=None", round_method, kRoundDoc},
    {"__round__", "ndigits=None", round_method, kRoundDoc},
    {"sign", sign,
     "Exact -1, 0 or 1 per element: -1 where every point is negative, 1 where every point is "
     "positive, and 0 otherwise (an interval holding 0 or points of both signs, NaN, the entire "
     "line). This is a certain-sign test by design, not an enclosure of the signs."},
    {"nan_to_num", nan_to_num,
     "Replace NaN elements by 0 and infinite midpoints and radii by the largest finite doubles."},
    {"clip", "a_min, a_max", clip_method, "Clamp every element into [a_min, a_max]."},
    {"maximum", "other", maximum_method, "Element-wise maximum with an array or a number."},
    {"minimum", "other", minimum_method, "Element-wise minimum with an array or a number."},
    {"sin", elementary_of<Elementary::Sin>, "Element-wise sine."},
    {"cos", elementary_of<Elementary::Cos>, "Element-wise cosine."},
    {"tan", elementary_of<Elementary::Tan>, "Element-wise tangent."},
    {"exp", elementary_of<Elementary::Exp>, "Element-wise exponential."},
    {"ln", elementary_of<Elementary::Ln>, "Element-wise natural logarithm."},
    {"log", elementary_of<Elementary::Ln>, "NumPy-style alias for `ln`."},
    {"log2", elementary_of<Elementary::Log2>, "Element-wise base-2 logarithm."},
    {"log10", elementary_of<Elementary::Log10>, "Element-wise base-10 logarithm."},
    {"sqrt", elementary_of<Elementary::Sqrt>, "Element-wise square root."},
});

}  // namespace

void add_elementwise_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

void add_elementwise_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_nb_absolute, slot_pointer(absolute_slot)});
}

}  // namespace boundwise::py
