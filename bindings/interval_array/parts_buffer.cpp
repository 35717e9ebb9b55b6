#include "interval_array/parts_buffer.hpp"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "boundwise/error.hpp"

#include "interval_array/interval_array.hpp"
#include "support/heap_type.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

struct Exported {
    Array value;
    const double* data;
    std::vector<Py_ssize_t> shape, strides;
};

struct PartsBufferObject {
    PyObject_HEAD
    Exported exported;
};

// Where a zero-length export points: consumers may dereference nothing, but
// some insist on a non-null address.
const double kNothing = 0.0;

Exported exported_part(const Array& value, Part part) {
    Exported e{value, part == Part::Midpoints ? value.mid() : value.rad(), {}, {}};
    if (!e.data) e.data = &kNothing;
    const Shape strides = value.strides();
    for (std::size_t k = 0; k < value.ndim(); ++k) {
        const std::uint64_t dim = value.shape()[k];
        if (dim > static_cast<std::uint64_t>(PY_SSIZE_T_MAX))
            throw Error(ErrorKind::Overflow, "array dimension " + std::to_string(dim) + " does not fit in a Py_ssize_t");
        // Strides of an empty array may wrap; nothing is addressed through them, so 0 stands in.
        std::uint64_t bytes = 0;
        if (__builtin_mul_overflow(strides[k], sizeof(double), &bytes) || bytes > PY_SSIZE_T_MAX) bytes = 0;
        e.shape.push_back(static_cast<Py_ssize_t>(dim));
        e.strides.push_back(static_cast<Py_ssize_t>(bytes));
    }
    return e;
}

// Row-major storage is Fortran-contiguous too when at most one axis is longer than 1.
bool is_fortran_contiguous(const Exported& e) {
    int longer = 0;
    for (Py_ssize_t d : e.shape) longer += d > 1;
    return longer <= 1;
}

int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    const Exported& e = reinterpret_cast<PartsBufferObject*>(self)->exported;
    if (flags & PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "the midpoints and radii of an IntervalArray are read-only");
        view->obj = nullptr;
        return -1;
    }
    if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && !is_fortran_contiguous(e)) {
        PyErr_SetString(PyExc_BufferError, "the midpoints and radii of an IntervalArray are row-major");
        view->obj = nullptr;
        return -1;
    }
    const bool shaped = (flags & PyBUF_ND) == PyBUF_ND;
    view->buf = const_cast<double*>(e.data);
    view->obj = Py_NewRef(self);
    view->len = static_cast<Py_ssize_t>(e.value.size() * sizeof(double));
    view->itemsize = sizeof(double);
    view->readonly = 1;
    view->ndim = shaped ? static_cast<int>(e.shape.size()) : 1;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("d") : nullptr;
    view->shape = shaped ? const_cast<Py_ssize_t*>(e.shape.data()) : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? const_cast<Py_ssize_t*>(e.strides.data()) : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

void deallocate(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    std::destroy_at(&reinterpret_cast<PartsBufferObject*>(self)->exported);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyTypeObject* parts_buffer_type() {
    static PyTypeObject* type = nullptr;  // created once under the interpreter lock
    if (!type) {
        TypeTables tables;
        tables.slots.push_back({Py_tp_dealloc, slot_pointer(deallocate)});
        tables.slots.push_back({Py_bf_getbuffer, slot_pointer(get_buffer)});
        tables.slots.push_back({Py_tp_doc, const_cast<char*>(
            "The midpoints or the radii of an IntervalArray as a read-only float64 buffer.")});
        type = create_heap_type("boundwise._boundwise.PartsBuffer", static_cast<int>(sizeof(PartsBufferObject)),
                                Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, std::move(tables));
    }
    return type;
}

template <Part P>
PyObject* part_property(const Array& value) {
    return parts_memoryview(value, P).release();
}

constexpr auto kProperties = property_table({
    {"mid", part_property<Part::Midpoints>,
     "The midpoints as a read-only float64 memoryview of the array's shape (numpy.asarray(a.mid) copies nothing)."},
    {"rad", part_property<Part::Radii>,
     "The radii as a read-only float64 memoryview of the array's shape (numpy.asarray(a.rad) copies nothing)."},
});

}  // namespace

void add_part_properties(std::vector<PyGetSetDef>& getsets) { add_properties<kProperties>(getsets); }

Ref parts_memoryview(const Array& value, Part part) {
    PyTypeObject* type = parts_buffer_type();
    Exported exported = exported_part(value, part);
    Ref exporter = check(PyType_GenericAlloc(type, 0));
    new (&reinterpret_cast<PartsBufferObject*>(exporter.get())->exported) Exported(std::move(exported));
    return check(PyMemoryView_FromObject(exporter.get()));
}

}  // namespace boundwise::py
