// Operators and counting methods of BoolArray: ~ & | ^, whole-mask equality,
// indexing by integer or slice, any(), all(), sum() and count_nonzero().
#include <optional>
#include <string>

#include "bool_array/bool_array.hpp"
#include "boundwise/compare/mask_ops.hpp"
#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

PyObject* new_bool(bool value) { return check(PyBool_FromLong(value)).release(); }

PyObject* invert_slot(PyObject* self) noexcept {
    return guarded([&] { return wrap_mask(invert(read_mask(self))); });
}

template <LogicalOp Op>
PyObject* logical_slot(PyObject* left, PyObject* right) noexcept {
    return guarded([&]() -> PyObject* {
        // No reflected form: `True & mask` ends in Python's own TypeError.
        if (!is_bool_array(left)) Py_RETURN_NOTIMPLEMENTED;
        const BoolMask a = read_mask(left);
        if (is_bool_array(right)) return wrap_mask(logical(a, read_mask(right), Op));
        if (const std::optional<bool> x = try_bool(right)) return wrap_mask(logical(a, *x, Op));
        constexpr const char* kSymbol = Op == LogicalOp::And ? "&" : Op == LogicalOp::Or ? "|" : "^";
        throw type_error(std::string("unsupported operand type for ") + kSymbol);
    });
}

// == and != compare whole masks and answer with a Python bool.
PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) noexcept {
    return guarded([&]() -> PyObject* {
        if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
        const BoolMask mask = read_mask(self);
        bool same = false;
        if (is_bool_array(other)) {
            same = equal(mask, read_mask(other));
        } else if (other != Py_None) {
            // Only a bool compares with a one-element mask; a failed reading is "not equal".
            const std::optional<bool> x = try_bool(other);
            same = x && mask.size() == 1 && mask[0] == *x;
        }
        return new_bool(op == Py_EQ ? same : !same);
    });
}

PyObject* subscript_slot(PyObject* self, PyObject* key) noexcept {
    return guarded([&]() -> PyObject* {
        const BoolMask mask = read_mask(self);
        const std::size_t n = mask.size();
        const long long index = PyLong_AsLongLong(key);
        if (!(index == -1 && PyErr_Occurred())) {
            const long long position = index < 0 ? index + static_cast<long long>(n) : index;
            if (position < 0 || static_cast<unsigned long long>(position) >= n)
                throw index_error("boolean index out of range");
            return new_bool(mask[static_cast<std::size_t>(position)]);
        }
        if (!conversion_failed()) throw PythonError{};
        // An integer beyond 64 bits is out of range, not of the wrong kind.
        const bool too_large = error_matches(PyExc_OverflowError);
        PyErr_Clear();
        if (too_large) throw index_error("boolean index out of range");
        if (!PySlice_Check(key)) throw type_error("only integers and slices are valid indices for a BoolArray");
        Py_ssize_t start = 0, stop = 0, step = 0;
        if (PySlice_Unpack(key, &start, &stop, &step) < 0) {
            if (!error_matches(PyExc_ValueError)) throw PythonError{};
            PyErr_Clear();
            throw value_error("invalid slice");
        }
        // The interpreter's own adjustment; positions are then start + i * step
        // for i below the count, so a huge step cannot wrap.
        const Py_ssize_t count = PySlice_AdjustIndices(static_cast<Py_ssize_t>(n), &start, &stop, step);
        return wrap_mask(take_slice(mask, start, step, static_cast<std::uint64_t>(count)));
    });
}

PyObject* any_method(PyObject* self, const Arguments&) { return new_bool(any_true(read_mask(self))); }

PyObject* all_method(PyObject* self, const Arguments&) { return new_bool(all_true(read_mask(self))); }

// sum and count_nonzero: the number of True entries.
PyObject* count_method(PyObject* self, const Arguments&) { return new_u64(count_true(read_mask(self))).release(); }

constexpr auto kMethods = method_table("BoolArray", {
    {"any", "", any_method, "Whether some entry is True."},
    {"all", "", all_method, "Whether every entry is True."},
    {"sum", "", count_method, "Number of True entries."},
    {"count_nonzero", "", count_method, "Number of True entries."},
});

}  // namespace

void add_mask_operator_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_nb_invert, slot_pointer(invert_slot)});
    slots.push_back({Py_nb_and, slot_pointer(logical_slot<LogicalOp::And>)});
    slots.push_back({Py_nb_or, slot_pointer(logical_slot<LogicalOp::Or>)});
    slots.push_back({Py_nb_xor, slot_pointer(logical_slot<LogicalOp::Xor>)});
    slots.push_back({Py_tp_richcompare, slot_pointer(richcompare_slot)});
    slots.push_back({Py_mp_subscript, slot_pointer(subscript_slot)});
}

void add_mask_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

}  // namespace boundwise::py
