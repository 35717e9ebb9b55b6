#include "interval_array/interval_array.hpp"

#include <new>
#include <vector>

#include "support/args.hpp"
#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/trampoline.hpp"

namespace boundwise::py {

namespace {

constexpr const char* kClassDoc =
    "IntervalArray(values, error=0.0)\n--\n\n"
    "A NumPy-compatible interval array with guaranteed numerical error bounds.";

IntervalArrayObject* as_object(PyObject* object) { return reinterpret_cast<IntervalArrayObject*>(object); }

// Allocates through the type's own allocation slot, so subclasses get theirs.
PyObject* allocate_instance(PyTypeObject* type, Array value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = (alloc ? alloc : PyType_GenericAlloc)(type, 0);
    if (!object) throw PythonError{};
    new (&as_object(object)->value) Array(std::move(value));
    as_object(object)->borrows = 0;
    return object;
}

const Signature kNewSignature{"IntervalArray.__new__()", {"values", "error"}, 1, false};

PyObject* interval_array_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        Arguments a = parse_arguments(kNewSignature, args, kwargs);
        const double error =
            a.has(1) ? convert_argument("error", [&] { return to_double(a[1]); }) : 0.0;
        Array value = to_array(a[0], error);
        return allocate_instance(type, std::move(value));
    });
}

void interval_array_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    as_object(self)->value.~Array();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

PyTypeObject* create_type() {
    static std::vector<PyMethodDef> methods;
    static std::vector<PyGetSetDef> getsets;
    static std::vector<PyType_Slot> slots;
    methods.clear();
    getsets.clear();
    add_output_methods(methods);
    add_shape_methods(methods, getsets);
    add_operator_methods(methods);
    add_elementwise_methods(methods);
    methods.push_back({nullptr, nullptr, 0, nullptr});
    getsets.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    slots = {
        {Py_tp_doc, const_cast<char*>(kClassDoc)},
        {Py_tp_new, reinterpret_cast<void*>(interval_array_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(interval_array_dealloc)},
        {Py_tp_methods, methods.data()},
        {Py_tp_getset, getsets.data()},
    };
    add_operator_slots(slots);
    add_text_slots(slots);
    add_elementwise_slots(slots);
    slots.push_back({0, nullptr});
    static PyType_Spec type_spec{
        .name = "boundwise._boundwise.IntervalArray",
        .basicsize = static_cast<int>(sizeof(IntervalArrayObject)),
        .itemsize = 0,
        .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
        .slots = nullptr,
    };
    type_spec.slots = slots.data();
    PyObject* type = PyType_FromSpec(&type_spec);
    if (!type) throw PythonError{};
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace

PyTypeObject* interval_array_type() {
    static PyTypeObject* type = nullptr;  // created once under the interpreter lock
    if (!type) type = create_type();
    return type;
}

bool is_interval_array(PyObject* object) { return PyObject_TypeCheck(object, interval_array_type()) != 0; }

PyObject* wrap(Array value) { return allocate_instance(interval_array_type(), std::move(value)); }

Array read_array(PyObject* object) {
    if (!is_interval_array(object))
        throw type_error("'" + type_name(object) + "' object cannot be converted to 'IntervalArray'");
    SharedBorrow borrow(object);
    return borrow.value();
}

SharedBorrow::SharedBorrow(PyObject* object) : object_(as_object(object)) {
    if (object_->borrows < 0) throw Error(ErrorKind::Runtime, "Already mutably borrowed");
    ++object_->borrows;
}
SharedBorrow::~SharedBorrow() { --object_->borrows; }

ExclusiveBorrow::ExclusiveBorrow(PyObject* object) : object_(as_object(object)) {
    if (object_->borrows != 0) throw Error(ErrorKind::Runtime, "Already borrowed");
    object_->borrows = -1;
}
ExclusiveBorrow::~ExclusiveBorrow() { object_->borrows = 0; }

}  // namespace boundwise::py
