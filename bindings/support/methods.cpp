#include "support/methods.hpp"

#include "support/status.hpp"

namespace boundwise::py {

namespace {

template <class Function>
PyObject* apply(PyObject* self, Function function) {
    const Array a = read_array(self);
    Result<Array> result = unlocked_if_large(a.size(), [&]() -> Result<Array> { return function(a); });
    report_status(result.flags);
    return wrap(std::move(result.value));
}

}  // namespace

PyObject* apply_to_self(PyObject* self, ArrayFunction function) { return apply(self, function); }
PyObject* apply_to_self(PyObject* self, ArrayFunctionWithStatus function) { return apply(self, function); }

}  // namespace boundwise::py
