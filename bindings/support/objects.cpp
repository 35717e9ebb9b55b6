#include "support/objects.hpp"

#include <string>

namespace boundwise::py {

namespace {

// A list or tuple (by its constructor and item setter) of n items made by item(i).
template <class Item>
Ref new_sequence(PyObject* (*create)(Py_ssize_t), int (*set)(PyObject*, Py_ssize_t, PyObject*), std::uint64_t n,
                 Item&& item) {
    Ref sequence = check(create(static_cast<Py_ssize_t>(n)));
    for (std::uint64_t i = 0; i < n; ++i)
        check_status(set(sequence.get(), static_cast<Py_ssize_t>(i), item(i).release()));
    return sequence;
}

}  // namespace

Ref new_float(double x) { return check(PyFloat_FromDouble(x)); }
Ref new_u64(std::uint64_t x) { return check(PyLong_FromUnsignedLongLong(x)); }

Ref new_list_of_doubles(const double* values, std::uint64_t n) {
    return new_sequence(PyList_New, PyList_SetItem, n, [&](std::uint64_t i) { return new_float(values[i]); });
}

Ref new_list_of_ints(std::span<const std::uint64_t> values) {
    return new_sequence(PyList_New, PyList_SetItem, values.size(), [&](std::uint64_t i) { return new_u64(values[i]); });
}

Ref new_tuple_of_dims(const Shape& dims) {
    return new_sequence(PyTuple_New, PyTuple_SetItem, dims.size(), [&](std::uint64_t i) { return new_u64(dims[i]); });
}

Ref new_list_of_dims(const Shape& dims) {
    return new_sequence(PyList_New, PyList_SetItem, dims.size(), [&](std::uint64_t i) { return new_u64(dims[i]); });
}

Ref new_pair(double midpoint, double radius) {
    Ref m = new_float(midpoint);
    Ref r = new_float(radius);
    return check(PyTuple_Pack(2, m.get(), r.get()));
}

Ref module_attribute(const char* name) {
    Ref module_name = check(PyUnicode_FromStringAndSize(kModuleName.data(), static_cast<Py_ssize_t>(kModuleName.size())));
    Ref module = check(PyImport_Import(module_name.get()));
    return check(PyObject_GetAttrString(module.get(), name));
}

}  // namespace boundwise::py
