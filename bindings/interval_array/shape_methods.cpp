// Shape attributes and the methods that reshape or transpose.
#include <vector>

#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

PyObject* get_shape(const Array& a) { return new_tuple_of_dims(a.shape()).release(); }
PyObject* get_ndim(const Array& a) { return new_u64(a.ndim()).release(); }
PyObject* get_size(const Array& a) { return new_u64(a.size()).release(); }
PyObject* get_dtype(const Array&) { return check(PyUnicode_FromString("interval64")).release(); }
PyObject* get_itemsize(const Array&) { return new_u64(16).release(); }
PyObject* get_nbytes(const Array& a) { return new_u64(16 * a.size()).release(); }
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
    try {
        return {to_i64(shape)};
    } catch (const PythonError&) {
        if (!conversion_failed()) throw;
        PyErr_Clear();
    }
    if (PyUnicode_Check(shape) || !PySequence_Check(shape)) throw refuse();
    std::vector<std::int64_t> dims;
    try {
        for (const Ref& item : sequence_items(shape)) dims.push_back(to_i64(item.get()));
    } catch (const PythonError&) {
        if (!conversion_failed()) throw;
        PyErr_Clear();
        throw refuse();
    }
    return dims;
}

const Signature kReshape{"IntervalArray.reshape()", {"shape"}, 1, true};
PyObject* reshape_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kReshape, args, kwargs);
    std::vector<std::int64_t> dims = reshape_dims(a[0]);
    for (PyObject* item : a.extra()) dims.push_back(to_i64(item));
    return wrap(reshape(read_array(self), dims));
}

const Signature kFlatten{"IntervalArray.flatten()", {}, 0, false};
PyObject* flatten_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kFlatten, args, kwargs);
    const Array a = read_array(self);
    return wrap(a.with_shape({a.size()}));
}

const Signature kRavel{"IntervalArray.ravel()", {}, 0, false};
PyObject* ravel_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kRavel, args, kwargs);
    const Array a = read_array(self);
    return wrap(a.with_shape({a.size()}));
}

const Signature kTranspose{"IntervalArray.transpose()", {}, 0, false};
PyObject* transpose_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kTranspose, args, kwargs);
    return wrap(transpose(read_array(self)));
}

const Signature kCopy{"IntervalArray.copy()", {}, 0, false};
PyObject* copy_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kCopy, args, kwargs);
    return wrap(read_array(self));
}

}  // namespace

void add_shape_methods(std::vector<PyMethodDef>& methods, std::vector<PyGetSetDef>& getsets) {
    methods.push_back(method_def<reshape_method>(
        "reshape", "reshape($self, shape, *extra)\n--\n\nThe same elements in a new shape (-1 marks one unknown dimension)."));
    methods.push_back(method_def<flatten_method>("flatten", "flatten($self)\n--\n\nThe elements as a 1-D array."));
    methods.push_back(method_def<ravel_method>("ravel", "ravel($self)\n--\n\nThe elements as a 1-D array."));
    methods.push_back(method_def<transpose_method>("transpose", "transpose($self)\n--\n\nThe transpose of a 1-D or 2-D array."));
    methods.push_back(method_def<copy_method>("copy", "copy($self)\n--\n\nA copy of the array."));
    getsets.push_back(getter_def<get_shape>("shape", "Tuple of array dimensions."));
    getsets.push_back(getter_def<get_ndim>("ndim", "Number of array dimensions."));
    getsets.push_back(getter_def<get_size>("size", "Number of elements."));
    getsets.push_back(getter_def<get_dtype>("dtype", "Element type: 'interval64'."));
    getsets.push_back(getter_def<get_itemsize>("itemsize", "Bytes per element (midpoint and radius)."));
    getsets.push_back(getter_def<get_nbytes>("nbytes", "Bytes held by the elements."));
    getsets.push_back(getter_def<get_strides>("strides", "Row-major strides, counted in elements."));
    getsets.push_back(getter_def<get_transpose>("T", "The transpose of a 1-D or 2-D array."));
}

}  // namespace boundwise::py
