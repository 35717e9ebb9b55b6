// The module entry: created once per process, in the importing interpreter only.
#include <atomic>
#include <cstdint>
#include <vector>

#include "bool_array/bool_array.hpp"
#include "interval_array/interval_array.hpp"
#include "functions/module_functions.hpp"
#include "support/objects.hpp"
#include "support/trampoline.hpp"

namespace boundwise::py {

namespace {

constexpr const char* kVersion = BOUNDWISE_VERSION;

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_boundwise",
    "Python module definition.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> owning_interpreter{-1};
PyObject* module_object = nullptr;

const std::vector<PyMethodDef>& function_table() {
    static const std::vector<PyMethodDef> table = [] {
        std::vector<PyMethodDef> functions;
        add_constructor_functions(functions);
        add_joining_functions(functions);
        add_raw_parts_function(functions);
        add_runtime_functions(functions);
        add_random_functions(functions);
        add_linear_system_functions(functions);
        add_eigen_svd_functions(functions);
        add_factorisation_functions(functions);
        add_rank_cond_functions(functions);
        add_private_functions(functions);
        add_private_linalg_functions(functions);
        return functions;
    }();
    return table;
}

void populate(PyObject* module) {
    check_status(PyModule_AddObjectRef(module, "IntervalArray", reinterpret_cast<PyObject*>(interval_array_type())));
    check_status(PyModule_AddObjectRef(module, "BoolArray", reinterpret_cast<PyObject*>(bool_array_type())));
    Ref module_name =
        check(PyUnicode_FromStringAndSize(kModuleName.data(), static_cast<Py_ssize_t>(kModuleName.size())));
    for (const PyMethodDef& def : function_table()) {
        Ref function = check(PyCMethod_New(const_cast<PyMethodDef*>(&def), module, module_name.get(), nullptr));
        check_status(PyObject_SetAttrString(module, def.ml_name, function.get()));
    }
    Ref version = check(PyUnicode_FromString(kVersion));
    check_status(PyObject_SetAttrString(module, "__version__", version.get()));
}

PyObject* create_module() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) throw PythonError{};
    std::int64_t expected = -1;
    if (!owning_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "boundwise._boundwise does not support sub-interpreters: it is already loaded in another "
                        "interpreter of this process");
        throw PythonError{};
    }
    if (module_object) {
        Py_INCREF(module_object);
        return module_object;
    }
    Ref module = check(PyModule_Create2(&module_definition, 3));
    populate(module.get());
    module_object = Ref(module).release();  // the module lives until the process ends
    return module.release();
}

}  // namespace

}  // namespace boundwise::py

PyMODINIT_FUNC PyInit__boundwise() {
    return boundwise::py::guarded([] { return boundwise::py::create_module(); });
}
