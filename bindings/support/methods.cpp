#include "support/methods.hpp"

namespace boundwise::py {

Ref new_float(double x) { return check(PyFloat_FromDouble(x)); }
Ref new_u64(std::uint64_t x) { return check(PyLong_FromUnsignedLongLong(x)); }

Ref new_list_of_doubles(const double* values, std::uint64_t n) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(n)));
    for (std::uint64_t i = 0; i < n; ++i)
        check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_float(values[i]).release()));
    return list;
}

Ref new_tuple_of_dims(const Shape& dims) {
    Ref tuple = check(PyTuple_New(static_cast<Py_ssize_t>(dims.size())));
    for (std::size_t i = 0; i < dims.size(); ++i)
        check_status(PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), new_u64(dims[i]).release()));
    return tuple;
}

Ref new_list_of_dims(const Shape& dims) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(dims.size())));
    for (std::size_t i = 0; i < dims.size(); ++i)
        check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_u64(dims[i]).release()));
    return list;
}

Ref new_pair(double midpoint, double radius) {
    Ref m = new_float(midpoint);
    Ref r = new_float(radius);
    return check(PyTuple_Pack(2, m.get(), r.get()));
}

}  // namespace boundwise::py
