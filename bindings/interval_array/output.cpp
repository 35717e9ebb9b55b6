// Text forms, element and list accessors, and pickling of IntervalArray.
#include <string>
#include <vector>

#include "boundwise/error.hpp"
#include "boundwise/text/format.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "interval_array/raw_parts.hpp"

namespace boundwise::py {

namespace {

PyObject* text_slot(PyObject* self) noexcept {
    return guarded([&] {
        const std::string text = to_text(read_array(self));
        return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))).release();
    });
}

std::uint64_t index_argument(const Arguments& a) {
    return convert_argument("idx", [&] { return to_u64(a[0]); });
}

const Signature kGet{"IntervalArray.get()", {"idx"}, 1, false};
PyObject* get_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kGet, args, kwargs);
    const Interval x = read_array(self).read(index_argument(a));
    return new_pair(x.mid, x.rad).release();
}

const Signature kItem{"IntervalArray.item()", {"idx"}, 1, false};
PyObject* item_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kItem, args, kwargs);
    const Interval x = read_array(self).read(index_argument(a));
    return new_pair(x.mid, x.rad).release();
}

Interval read_or_index_error(PyObject* self, std::uint64_t i) {
    const Array value = read_array(self);
    if (i >= value.size()) throw index_error("index out of range");
    return value.read(i);
}

const Signature kMidpoint{"IntervalArray.midpoint()", {"idx"}, 1, false};
PyObject* midpoint_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kMidpoint, args, kwargs);
    return new_float(read_or_index_error(self, index_argument(a)).mid).release();
}

const Signature kRadius{"IntervalArray.radius()", {"idx"}, 1, false};
PyObject* radius_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kRadius, args, kwargs);
    return new_float(read_or_index_error(self, index_argument(a)).rad).release();
}

const Signature kValues{"IntervalArray.values()", {}, 0, false};
PyObject* values_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kValues, args, kwargs);
    const Array a = read_array(self);
    return new_list_of_doubles(a.mid(), a.size()).release();
}

const Signature kRadii{"IntervalArray.radii()", {}, 0, false};
PyObject* radii_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kRadii, args, kwargs);
    const Array a = read_array(self);
    return new_list_of_doubles(a.rad(), a.size()).release();
}

// Nested lists for the dimensions from `axis` on, starting at flat element `offset`.
Ref nested_list(const Array& a, const Shape& strides, std::size_t axis, std::uint64_t offset) {
    const std::uint64_t n = a.shape()[axis];
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(n)));
    const bool innermost = axis + 1 == a.ndim();
    for (std::uint64_t i = 0; i < n; ++i) {
        Ref item = innermost ? new_pair(a.mid()[offset + i], a.rad()[offset + i])
                             : nested_list(a, strides, axis + 1, offset + i * strides[axis]);
        check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()));
    }
    return list;
}

// Lists tolist must build: one per index prefix, up to and including the
// first zero dimension. Refused up front when it cannot possibly fit.
void check_list_count(const Shape& shape) {
    constexpr std::uint64_t kMaxLists = std::uint64_t{1} << 32;
    std::uint64_t prefix = 1, lists = 0;
    for (std::size_t k = 0; k + 1 < shape.size() && prefix != 0; ++k) {
        lists += prefix;
        if (__builtin_mul_overflow(prefix, shape[k], &prefix) || lists > kMaxLists)
            throw Error(ErrorKind::Memory, "tolist: shape " + format_shape(shape) + " needs too many lists");
    }
    if (lists + prefix > kMaxLists)
        throw Error(ErrorKind::Memory, "tolist: shape " + format_shape(shape) + " needs too many lists");
}

const Signature kTolist{"IntervalArray.tolist()", {}, 0, false};
PyObject* tolist_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kTolist, args, kwargs);
    const Array a = read_array(self);
    if (a.ndim() == 0) return new_pair(a.mid()[0], a.rad()[0]).release();
    check_list_count(a.shape());
    return nested_list(a, a.strides(), 0, 0).release();
}

const Signature kReduce{"IntervalArray.__reduce__()", {}, 0, false};
PyObject* reduce_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kReduce, args, kwargs);
    Ref name = check(PyUnicode_FromString("boundwise._boundwise"));
    Ref module = check(PyImport_Import(name.get()));
    Ref constructor = check(PyObject_GetAttrString(module.get(), "from_raw_parts"));
    const Array a = read_array(self);
    Ref midpoints = new_list_of_doubles(a.mid(), a.size());
    Ref radii = new_list_of_doubles(a.rad(), a.size());
    Ref shape = new_list_of_dims(a.shape());
    Ref parts = check(PyTuple_Pack(3, midpoints.get(), radii.get(), shape.get()));
    return check(PyTuple_Pack(2, constructor.get(), parts.get())).release();
}

const Signature kGetstate{"IntervalArray.__getstate__()", {}, 0, false};
PyObject* getstate_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kGetstate, args, kwargs);
    const Array a = read_array(self);
    Ref shape = new_list_of_dims(a.shape());
    Ref midpoints = new_list_of_doubles(a.mid(), a.size());
    Ref radii = new_list_of_doubles(a.rad(), a.size());
    return check(PyTuple_Pack(3, shape.get(), midpoints.get(), radii.get())).release();
}

const Signature kSetstate{"IntervalArray.__setstate__()", {"state"}, 1, false};
PyObject* setstate_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kSetstate, args, kwargs);
    ExclusiveBorrow borrow(self);
    RawParts parts = convert_argument("state", [&] {
        PyObject* state = a[0];
        if (!PyTuple_Check(state))
            throw type_error("'" + type_name(state) + "' object cannot be converted to 'PyTuple'");
        const Py_ssize_t n = PyTuple_Size(state);
        if (n != 3)
            throw value_error("expected tuple of length 3, but got tuple of length " + std::to_string(n));
        Ref tuple = Ref::borrow(state);
        RawParts read;
        read.shape = to_dimension_list(PyTuple_GetItem(state, 0));
        read.midpoints = to_double_list(PyTuple_GetItem(state, 1));
        read.radii = to_double_list(PyTuple_GetItem(state, 2));
        return read;
    });
    borrow.value() = array_from_raw_parts(std::move(parts));
    Py_RETURN_NONE;
}

}  // namespace

void add_output_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(method_def<get_method>(
        "get", "get($self, idx)\n--\n\nThe (midpoint, radius) of the element at flat index idx."));
    methods.push_back(method_def<item_method>(
        "item", "item($self, idx)\n--\n\nThe (midpoint, radius) of the element at flat index idx."));
    methods.push_back(method_def<midpoint_method>(
        "midpoint", "midpoint($self, idx)\n--\n\nThe midpoint of the element at flat index idx."));
    methods.push_back(method_def<radius_method>(
        "radius", "radius($self, idx)\n--\n\nThe radius of the element at flat index idx."));
    methods.push_back(method_def<values_method>(
        "values", "values($self)\n--\n\nThe stored midpoints as a flat list, row-major."));
    methods.push_back(method_def<radii_method>(
        "radii", "radii($self)\n--\n\nThe stored radii as a flat list, row-major."));
    methods.push_back(method_def<tolist_method>(
        "tolist", "tolist($self)\n--\n\nNested lists of (midpoint, radius) tuples following the shape."));
    methods.push_back(method_def<reduce_method>("__reduce__", "__reduce__($self)\n--\n\nPickle support."));
    methods.push_back(method_def<getstate_method>("__getstate__", "__getstate__($self)\n--\n\nPickle support."));
    methods.push_back(method_def<setstate_method>("__setstate__", "__setstate__($self, state)\n--\n\nPickle support."));
}

void add_text_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_tp_repr, reinterpret_cast<void*>(text_slot)});
    slots.push_back({Py_tp_str, reinterpret_cast<void*>(text_slot)});
}

}  // namespace boundwise::py
