// Building blocks for method and property tables: each entry runs through the trampoline.
#pragma once

#include <cstdint>
#include <vector>

#include "support/args.hpp"
#include "boundwise/array/array.hpp"
#include "interval_array/interval_array.hpp"
#include "support/trampoline.hpp"

namespace boundwise::py {

using MethodImpl = PyObject* (*)(PyObject* self, PyObject* args, PyObject* kwargs);

template <MethodImpl Impl>
PyObject* method_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] { return Impl(self, args, kwargs); });
}

// A METH_VARARGS | METH_KEYWORDS entry; `doc` starts with the text signature.
template <MethodImpl Impl>
PyMethodDef method_def(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_entry<Impl>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

using GetterImpl = PyObject* (*)(const Array& value);

template <GetterImpl Impl>
PyObject* getter_entry(PyObject* self, void*) noexcept {
    return guarded([&] {
        Array value = read_array(self);
        return Impl(value);
    });
}

template <GetterImpl Impl>
PyGetSetDef getter_def(const char* name, const char* doc) {
    return {name, getter_entry<Impl>, nullptr, doc, nullptr};
}

// Python objects from plain values (new references).
Ref new_float(double x);
Ref new_u64(std::uint64_t x);
Ref new_list_of_doubles(const double* values, std::uint64_t n);
Ref new_tuple_of_dims(const Shape& dims);
Ref new_list_of_dims(const Shape& dims);
Ref new_pair(double midpoint, double radius);

}  // namespace boundwise::py
