// Shape attributes and the methods that reshape or transpose.
#include <vector>

#include "boundwise/array/storage.hpp"
#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

PyObject* get_shape(const Array& a) { return new_tuple_of_dims(a.shape()).release(); }
PyObject* get_ndim(const Array& a) { return new_u64(a.ndim()).release(); }
PyObject* get_size(const Array& a) { return new_u64(a.size()).release(); }
PyObject* get_dtype(const Array&) { return check(PyUnicode_FromString("interval64")).release(); }
PyObject* get_itemsize(const Array&) { return new_u64(kIntervalBytes).release(); }
PyObject* get_nbytes(const Array& a) { return new_u64(kIntervalBytes * a.size()).release(); }
// Row-major strides as Python ints. Those of an empty array may exceed 64 bits
// (shape (0, 2**64 - 1, 2**64 - 1)), where the stored ones are never used.
PyObject* get_strides(const Array& a) {
    const Shape& dims = a.shape();
    Ref strides = check(PyTuple_New(static_cast<Py_ssize_t>(dims.size())));
    Ref running = new_u64(1);
    for (std::size_t k = dims.size(); k-- > 0;) {
        check_status(PyTuple_SetItem(strides.get(), static_cast<Py_ssize_t>(k), Ref(running).release()));
        running = check(PyNumber_Multiply(running.get(), new_u64(dims[k]).get()));
    }
    return strides.release();
}
PyObject* get_transpose(const Array& a) { return wrap(transpose(a)); }

// The first reshape argument: one int, or a sequence of ints (not a str).
std::vector<std::int64_t> reshape_dims(PyObject* shape) {
    const auto refuse = [] { return type_error("reshape: shape must be an int or a sequence of ints"); };
    if (auto one = attempt(Recoverable::ConversionErrors, [&] { return to_i64(shape); })) return {*one};
    if (PyUnicode_Check(shape) || !PySequence_Check(shape)) throw refuse();
    auto dims = attempt(Recoverable::ConversionErrors, [&] {
        std::vector<std::int64_t> read;
        for (const Ref& item : sequence_items(shape)) read.push_back(to_i64(item.get()));
        return read;
    });
    if (!dims) throw refuse();
    return std::move(*dims);
}

PyObject* reshape_method(PyObject* self, const Arguments& a) {
    std::vector<std::int64_t> dims = reshape_dims(a[0]);
    for (PyObject* item : a.extra()) dims.push_back(to_i64(item));
    return wrap(reshape(read_array(self), dims));
}

// flatten and ravel: the 1-D reshape, sharing the storage.
Array flattened(const Array& a) { return a.with_shape({a.size()}); }

// A new array object sharing the storage (copy-on-write).
Array copied(const Array& a) { return a; }

constexpr auto kMethods = method_table("IntervalArray", {
    {"reshape", "shape, *extra", reshape_method, "The same elements in a new shape (-1 marks one unknown dimension)."},
    {"flatten", flattened, "The elements as a 1-D array."},
    {"ravel", flattened, "The elements as a 1-D array."},
    {"transpose", transpose, "The transpose of a 1-D or 2-D array."},
    {"copy", copied, "A copy of the array."},
});

constexpr auto kProperties = property_table({
    {"shape", get_shape, "Tuple of array dimensions."},
    {"ndim", get_ndim, "Number of array dimensions."},
    {"size", get_size, "Number of elements."},
    {"dtype", get_dtype, "Element type: 'interval64'."},
    {"itemsize", get_itemsize, "Bytes per element (midpoint and radius)."},
    {"nbytes", get_nbytes, "Bytes held by the elements."},
    {"strides", get_strides, "Row-major strides, counted in elements."},
    {"T", get_transpose, "The transpose of a 1-D or 2-D array."},
});

}  // namespace

void add_shape_methods(std::vector<PyMethodDef>& methods, std::vector<PyGetSetDef>& getsets) {
    add_entries<kMethods>(methods);
    add_properties<kProperties>(getsets);
}

}  // namespace boundwise::py
