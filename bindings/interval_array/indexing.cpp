// a[key], a[key] = value and del a[key] for IntervalArray: the key's items are
// converted one by one and handed to the core's resolver, which builds the
// outer selection that gather and assign work on.
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bool_array/bool_array.hpp"
#include "boundwise/error.hpp"
#include "boundwise/layout/indexing.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

bool is_integer_key(PyObject* item) {
    return PyLong_Check(item) || (!is_bool_array(item) && !is_interval_array(item) && PyIndex_Check(item));
}

KeyKind kind_of(PyObject* item) {
    if (item == Py_None) return KeyKind::NewAxis;
    if (item == Py_Ellipsis) return KeyKind::Ellipsis;
    return is_integer_key(item) ? KeyKind::Integer : KeyKind::Selection;
}

void add_slice(KeyResolver& resolver, PyObject* item) {
    // The interpreter's unpacking: None becomes the default and huge bounds
    // are clamped to 64 bits, so a[:2**70] simply takes everything.
    Py_ssize_t start = 0, stop = 0, step = 0;
    if (PySlice_Unpack(item, &start, &stop, &step) < 0) {
        if (!error_matches(PyExc_ValueError)) throw PythonError{};
        PyErr_Clear();  // a zero step, which the resolver reports
    }
    resolver.slice(start, stop, step);
}

// A list of bools is a mask, a list of integers a list of positions; mixing
// the two is refused rather than guessed.
void add_list(KeyResolver& resolver, PyObject* item) {
    Ref items = check(PySequence_Tuple(item));
    const Py_ssize_t n = check_size(PyTuple_Size(items.get()));
    const bool mask = n > 0 && PyBool_Check(PyTuple_GetItem(items.get(), 0));
    std::vector<std::int64_t> indices;
    std::vector<std::uint8_t> bytes;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* value = PyTuple_GetItem(items.get(), i);
        if (PyBool_Check(value) != mask) throw type_error("an index list cannot mix bools and integers");
        if (mask) bytes.push_back(value == Py_True);
        else indices.push_back(to_i64(value));
    }
    if (mask) resolver.mask(bytes);
    else resolver.integer_list(indices);
}

void add_item(KeyResolver& resolver, PyObject* item, KeyKind kind) {
    switch (kind) {
        case KeyKind::NewAxis: return resolver.new_axis();
        case KeyKind::Ellipsis: return resolver.ellipsis();
        case KeyKind::Integer: return resolver.integer(to_i64(item));
        case KeyKind::Selection: break;
    }
    if (PySlice_Check(item)) return add_slice(resolver, item);
    if (is_bool_array(item)) return resolver.mask(read_mask(item).bytes());
    if (PyList_Check(item)) return add_list(resolver, item);
    throw type_error("only integers, slices, lists, and boolean masks are valid indices; got " + type_name(item));
}

// The outer selection of `key` in an array of the given shape; a tuple holds
// one item per axis, anything else is a single item.
OuterSelection resolve_key(PyObject* key, const Shape& shape) {
    Ref items = PyTuple_Check(key) ? Ref::borrow(key) : check(PyTuple_Pack(1, key));
    const Py_ssize_t n = check_size(PyTuple_Size(items.get()));
    std::vector<KeyKind> kinds(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) kinds[i] = kind_of(PyTuple_GetItem(items.get(), i));
    KeyResolver resolver(shape, kinds);
    for (Py_ssize_t i = 0; i < n; ++i) add_item(resolver, PyTuple_GetItem(items.get(), i), kinds[i]);
    return resolver.finish();
}

PyObject* subscript_slot(PyObject* self, PyObject* key) noexcept {
    return guarded([&]() -> PyObject* {
        // Held while the key converts, so Python code run by __index__ cannot write to the array.
        SharedBorrow borrow(self);
        const OuterSelection selection = resolve_key(key, borrow.value().shape());
        if (selection.single()) {
            const Interval x = gather_single(borrow.value(), selection);
            return new_pair(x.mid, x.rad).release();
        }
        return wrap(gather(borrow.value(), selection));
    });
}

// A single interval, or an array of values.
using AssignedValue = std::variant<Interval, Array>;

AssignedValue to_assigned_value(PyObject* value) {
    const auto refuse = [] {
        return type_error("can only assign numbers, (midpoint, radius) tuples, lists, or IntervalArray values");
    };
    if (is_interval_array(value)) return read_array(value);
    // A list converts as array() converts it; one element is then broadcast
    // like a one-element IntervalArray.
    if (PyList_Check(value)) return to_array(value, 0.0);
    if (PyTuple_Check(value)) {
        if (const std::optional<Interval> x = try_interval(value, 0.0)) return *x;
        throw refuse();
    }
    if (const std::optional<Interval> x = try_number(value)) return *x;
    throw refuse();
}

int ass_subscript_slot(PyObject* self, PyObject* key, PyObject* value) noexcept {
    return guarded(
        [&] {
            if (!value) throw Error(ErrorKind::NotImplemented, "can't delete item");
            std::optional<OuterSelection> selection;
            std::optional<AssignedValue> assigned;
            {
                // Key and value are read under a shared borrow (the value may
                // be this very array); the exclusive one follows.
                SharedBorrow borrow(self);
                selection = resolve_key(key, borrow.value().shape());
                assigned = to_assigned_value(value);
            }
            ExclusiveBorrow borrow(self);
            std::visit([&](const auto& v) { assign(borrow.value(), *selection, v); }, *assigned);
            return 0;
        },
        -1);
}

}  // namespace

void add_indexing_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_mp_subscript, slot_pointer(subscript_slot)});
    slots.push_back({Py_mp_ass_subscript, slot_pointer(ass_subscript_slot)});
}

}  // namespace boundwise::py
