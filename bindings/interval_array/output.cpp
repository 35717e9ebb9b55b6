// Text forms, element and list accessors, and pickling of IntervalArray.
#include <bit>
#include <string>
#include <vector>

#include "boundwise/error.hpp"
#include "boundwise/text/format.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "interval_array/parts_buffer.hpp"
#include "interval_array/raw_parts.hpp"

namespace boundwise::py {

namespace {

PyObject* text_slot(PyObject* self) noexcept {
    return guarded([&] {
        const std::string text = to_text(read_array(self));
        return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))).release();
    });
}

// get and item: the (midpoint, radius) of the element at flat index idx.
PyObject* element_method(PyObject* self, const Arguments& a) {
    const Interval x = read_array(self).read(a.convert(0, to_u64));
    return new_pair(x.mid, x.rad).release();
}

// midpoint and radius: one part of that element, with a plainer IndexError.
template <double Interval::*Part>
PyObject* element_part_method(PyObject* self, const Arguments& a) {
    const std::uint64_t i = a.convert(0, to_u64);
    const Array value = read_array(self);
    if (i >= value.size()) throw index_error("index out of range");
    return new_float(value.read(i).*Part).release();
}

// values and radii: one part of every element as a flat list, row-major.
template <const double* (Array::*Part)() const>
PyObject* parts_method(PyObject* self, const Arguments&) {
    const Array a = read_array(self);
    return new_list_of_doubles((a.*Part)(), a.size()).release();
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
    if (prefix > kMaxLists - lists)  // lists <= kMaxLists here; a sum could wrap
        throw Error(ErrorKind::Memory, "tolist: shape " + format_shape(shape) + " needs too many lists");
}

PyObject* tolist_method(PyObject* self, const Arguments&) {
    const Array a = read_array(self);
    if (a.ndim() == 0) return new_pair(a.mid()[0], a.rad()[0]).release();
    check_list_count(a.shape());
    return nested_list(a, a.strides(), 0, 0).release();
}

// The lists a pickle holds: the shape, the midpoints and the radii.
struct PickledParts {
    Ref shape, midpoints, radii;
};

PickledParts pickled_parts(PyObject* self) {
    const Array a = read_array(self);
    return {new_list_of_dims(a.shape()), new_list_of_doubles(a.mid(), a.size()), new_list_of_doubles(a.rad(), a.size())};
}

PyObject* reduce_method(PyObject* self, const Arguments&) {
    Ref constructor = module_attribute("from_raw_parts");
    const PickledParts p = pickled_parts(self);
    Ref arguments = check(PyTuple_Pack(3, p.midpoints.get(), p.radii.get(), p.shape.get()));
    return check(PyTuple_Pack(2, constructor.get(), arguments.get())).release();
}

// Protocol 5 and later: the same constructor, its midpoints and radii as
// pickle.PickleBuffer objects, which a pickler may write out of band; the
// buffers come back as themselves or as their bytes, both of which
// from_raw_parts reads. The bytes are little-endian doubles, so a big-endian
// machine keeps the lists.
PyObject* reduce_ex_method(PyObject* self, const Arguments& a) {
    const std::int64_t protocol = a.convert(0, to_i64);
    if (protocol < 5 || std::endian::native != std::endian::little) return reduce_method(self, a);
    Ref constructor = module_attribute("from_raw_parts");
    Ref pickle = check(PyImport_ImportModule("pickle"));
    Ref pickle_buffer = check(PyObject_GetAttrString(pickle.get(), "PickleBuffer"));
    const Array value = read_array(self);
    Ref midpoints = check(PyObject_CallFunctionObjArgs(pickle_buffer.get(), parts_memoryview(value, Part::Midpoints).get(), nullptr));
    Ref radii = check(PyObject_CallFunctionObjArgs(pickle_buffer.get(), parts_memoryview(value, Part::Radii).get(), nullptr));
    Ref shape = new_list_of_dims(value.shape());
    Ref arguments = check(PyTuple_Pack(3, midpoints.get(), radii.get(), shape.get()));
    return check(PyTuple_Pack(2, constructor.get(), arguments.get())).release();
}

PyObject* getstate_method(PyObject* self, const Arguments&) {
    const PickledParts p = pickled_parts(self);
    return check(PyTuple_Pack(3, p.shape.get(), p.midpoints.get(), p.radii.get())).release();
}

PyObject* setstate_method(PyObject* self, const Arguments& a) {
    ExclusiveBorrow borrow(self);
    RawParts parts = a.convert(0, [](PyObject* state) {
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

constexpr auto kMethods = method_table("IntervalArray", {
    {"get", "idx", element_method, "The (midpoint, radius) of the element at flat index idx."},
    {"item", "idx", element_method, "The (midpoint, radius) of the element at flat index idx."},
    {"midpoint", "idx", element_part_method<&Interval::mid>, "The midpoint of the element at flat index idx."},
    {"radius", "idx", element_part_method<&Interval::rad>, "The radius of the element at flat index idx."},
    {"values", "", parts_method<&Array::mid>, "The stored midpoints as a flat list, row-major."},
    {"radii", "", parts_method<&Array::rad>, "The stored radii as a flat list, row-major."},
    {"tolist", "", tolist_method, "Nested lists of (midpoint, radius) tuples following the shape."},
    {"__reduce__", "", reduce_method, "Pickle support."},
    {"__reduce_ex__", "protocol", reduce_ex_method,
     "Pickle support: the lists of __reduce__ below protocol 5, pickle.PickleBuffer objects from protocol 5 on."},
    {"__getstate__", "", getstate_method, "Pickle support."},
    {"__setstate__", "state", setstate_method, "Pickle support."},
});

}  // namespace

void add_output_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

void add_text_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_tp_repr, slot_pointer(text_slot)});
    slots.push_back({Py_tp_str, slot_pointer(text_slot)});
}

}  // namespace boundwise::py
