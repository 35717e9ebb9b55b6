#include "support/heap_type.hpp"

#include <list>

namespace boundwise::py {

PyTypeObject* create_heap_type(const char* qualified_name, int basicsize, unsigned flags, TypeTables tables) {
    // Created under the interpreter lock, once per class; kept for the process.
    static std::list<TypeTables> kept;
    TypeTables& table = kept.emplace_back(std::move(tables));
    table.methods.push_back({nullptr, nullptr, 0, nullptr});
    table.properties.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    table.slots.push_back({Py_tp_methods, table.methods.data()});
    table.slots.push_back({Py_tp_getset, table.properties.data()});
    table.slots.push_back({0, nullptr});
    PyType_Spec type_spec{
        .name = qualified_name,
        .basicsize = basicsize,
        .itemsize = 0,
        .flags = flags,
        .slots = table.slots.data(),
    };
    PyObject* type = PyType_FromSpec(&type_spec);
    if (!type) {
        kept.pop_back();
        throw PythonError{};
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace boundwise::py
