// The one way classes are built: PyType_FromSpec over slot, method and
// property tables; plus the allocation and deallocation every class shares.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "support/handle.hpp"

namespace boundwise::py {

// The tables of a class, without their terminating entries.
struct TypeTables {
    std::vector<PyType_Slot> slots;
    std::vector<PyMethodDef> methods;
    std::vector<PyGetSetDef> properties;
};

// Builds the type `qualified_name` (static text: the type keeps the pointer).
// The method and property tables live as long as the process, since the type's
// descriptors point into them. PythonError when the interpreter refuses.
PyTypeObject* create_heap_type(const char* qualified_name, int basicsize, unsigned flags, TypeTables tables);

template <class Function>
void* slot_pointer(Function* function) {
    return reinterpret_cast<void*>(function);
}

// A new instance of `type` (a subclass gets its own allocation slot) whose
// `Field` holds `value` and whose borrow counter, where it has one, is free.
template <class Object, auto Field, class Value>
PyObject* allocate_instance(PyTypeObject* type, Value value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = (alloc ? alloc : PyType_GenericAlloc)(type, 0);
    if (!object) throw PythonError{};
    auto* instance = reinterpret_cast<Object*>(object);
    new (&(instance->*Field)) Value(std::move(value));
    if constexpr (requires { instance->borrows; }) instance->borrows = 0;
    return object;
}

// The dealloc slot: destroys `Field`, frees the object, then drops the
// reference that every instance of a heap type holds on its type.
template <class Object, auto Field>
void deallocate_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    std::destroy_at(&(reinterpret_cast<Object*>(self)->*Field));
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

}  // namespace boundwise::py
