// Rich comparisons of IntervalArray into masks, and isnan / isinf / isfinite.
#include <cfloat>
#include <cmath>
#include <optional>

#include "bool_array/bool_array.hpp"
#include "boundwise/compare/compare.hpp"
#include "boundwise/error.hpp"
#include "boundwise/interval/rounding.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

CompareOp to_compare_op(int op) {
    switch (op) {
        case Py_LT: return CompareOp::Less;
        case Py_LE: return CompareOp::LessEqual;
        case Py_EQ: return CompareOp::Equal;
        case Py_NE: return CompareOp::NotEqual;
        case Py_GT: return CompareOp::Greater;
        case Py_GE: return CompareOp::GreaterEqual;
    }
    throw InternalFailure("invalid compareop");
}

// A number operand: the point x, or an integer X that no double equals, held
// as the consecutive doubles below < X < above.
struct NumberOperand {
    double below;
    double above;
    bool exact;
};

bool less_than(PyObject* a, PyObject* b) { return check_status(PyObject_RichCompareBool(a, b, Py_LT)) != 0; }

// An integer compares exactly: rounding 2**53 + 3 up to 2**53 + 4 would make
// [2**53 + 4, 2**53 + 4] <= 2**53 + 3 hold, and 10**400 has no double at all.
NumberOperand integer_operand(PyObject* integer) {
    const double x = PyLong_AsDouble(integer);
    if (x == -1.0 && PyErr_Occurred()) {
        if (!error_matches(PyExc_OverflowError)) throw PythonError{};
        PyErr_Clear();
        Ref zero = check(PyLong_FromLong(0));
        return less_than(integer, zero.get()) ? NumberOperand{-kInfinity, -kDoubleMax, false}
                                              : NumberOperand{kDoubleMax, kInfinity, false};
    }
    Ref back = check(PyLong_FromDouble(x));
    if (less_than(integer, back.get())) return {pred(x), x, false};
    if (less_than(back.get(), integer)) return {x, succ(x), false};
    return {x, x, true};
}

// The other operand as a number; nothing when it does not convert (the
// comparison then answers NotImplemented). Interrupts and other errors that
// are not conversion failures propagate.
std::optional<NumberOperand> number_operand(PyObject* other) {
    return attempt(Recoverable::ConversionErrors, [&] {
        if (PyLong_Check(other) || (!PyFloat_Check(other) && PyIndex_Check(other))) {
            Ref integer = check(PyNumber_Index(other));
            return integer_operand(integer.get());
        }
        const double x = to_double(other);
        return NumberOperand{x, x, true};
    });
}

PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) noexcept {
    return guarded([&]() -> PyObject* {
        const CompareOp compare_op = to_compare_op(op);
        // A borrow conflict raises; it must never turn into an identity comparison.
        if (is_interval_array(other)) {
            // Both operands are read in place, under shared borrows.
            const SharedBorrow a(self), b(other);
            return wrap_mask(compare(a.value(), b.value(), compare_op));
        }
        // A copy taken before the number converts: its __float__ may run Python code.
        const Array a = read_array(self);
        if (other == Py_None && compare_op == CompareOp::Equal) Py_RETURN_FALSE;
        if (other == Py_None && compare_op == CompareOp::NotEqual) Py_RETURN_TRUE;
        const std::optional<NumberOperand> x = number_operand(other);
        if (!x) Py_RETURN_NOTIMPLEMENTED;
        return wrap_mask(x->exact ? compare(a, x->below, compare_op)
                                  : compare_between(a, x->below, x->above, compare_op));
    });
}

PyObject* isnan_method(PyObject* self, const Arguments&) { return wrap_mask(nan_mask(read_array(self))); }

PyObject* isinf_method(PyObject* self, const Arguments&) { return wrap_mask(inf_mask(read_array(self))); }

PyObject* isfinite_method(PyObject* self, const Arguments&) { return wrap_mask(finite_mask(read_array(self))); }

constexpr auto kMethods = method_table("IntervalArray", {
    {"isnan", "", isnan_method, "Mask of the elements whose midpoint or radius is NaN."},
    {"isinf", "", isinf_method, "Mask of the elements with an infinite end."},
    {"isfinite", "", isfinite_method, "Mask of the elements that are neither NaN nor infinite."},
});

}  // namespace

void add_comparison_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_tp_richcompare, slot_pointer(richcompare_slot)});
}

void add_comparison_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

}  // namespace boundwise::py
