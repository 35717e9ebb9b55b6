#include "support/methods.hpp"

namespace boundwise::py {

namespace {

template <class Function>
PyObject* apply(PyObject* self, Function function) {
    const Array a = read_array(self);
    return run_element_wise(a.size(), [&] { return function(a); });
}

}  // namespace

PyObject* apply_to_self(PyObject* self, ArrayFunction function) { return apply(self, function); }
PyObject* apply_to_self(PyObject* self, ArrayFunctionWithStatus function) { return apply(self, function); }

}  // namespace boundwise::py
