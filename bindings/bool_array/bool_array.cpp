#include "bool_array/bool_array.hpp"

#include <new>
#include <string>
#include <vector>

#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

struct BoolArrayObject {
    PyObject_HEAD
    BoolMask mask;
    std::int64_t borrows;
};

BoolArrayObject* as_mask(PyObject* object) { return reinterpret_cast<BoolArrayObject*>(object); }

constexpr const char* kClassDoc = "BoolArray(values)\n--\n\nA NumPy-style boolean array (mask).";

PyObject* allocate(PyTypeObject* type, BoolMask mask) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = (alloc ? alloc : PyType_GenericAlloc)(type, 0);
    if (!object) throw PythonError{};
    new (&as_mask(object)->mask) BoolMask(std::move(mask));
    as_mask(object)->borrows = 0;
    return object;
}

// NumPy's boolean scalar is not an int; it converts through __bool__.
bool is_boolean_scalar(PyObject* item) {
    if (PyBool_Check(item)) return true;
    const std::string name = type_name(item);
    return name == "bool_" || name == "bool";
}

BoolMask to_mask(PyObject* values) {
    if (PyUnicode_Check(values)) throw type_error("Can't extract `str` to `Vec`");
    std::vector<std::uint8_t> bytes;
    for (const Ref& item : sequence_items(values)) {
        const std::optional<bool> value = try_bool(item.get());
        if (!value) throw type_error("'" + type_name(item.get()) + "' object cannot be converted to 'PyBool'");
        bytes.push_back(*value ? 1 : 0);
    }
    return BoolMask(bytes);
}

Ref mask_list(const BoolMask& mask) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(mask.size())));
    for (std::size_t i = 0; i < mask.size(); ++i)
        check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), PyBool_FromLong(mask[i])));
    return list;
}

const Signature kNew{"BoolArray.__new__()", {"values"}, 1, false};
PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        Arguments a = parse_arguments(kNew, args, kwargs);
        BoolMask mask = convert_argument("values", [&] { return to_mask(a[0]); });
        return allocate(type, std::move(mask));
    });
}

void dealloc_slot(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    as_mask(self)->mask.~BoolMask();
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyObject* repr_slot(PyObject* self) noexcept {
    return guarded([&] {
        const BoolMask mask = read_mask(self);
        std::string text = "BoolArray([";
        for (std::size_t i = 0; i < mask.size(); ++i) text += (i ? ", " : "") + std::string(mask[i] ? "true" : "false");
        text += "])";
        return check(PyUnicode_FromString(text.c_str())).release();
    });
}

Py_ssize_t length_slot(PyObject* self) noexcept {
    return guarded([&] { return static_cast<Py_ssize_t>(read_mask(self).size()); }, Py_ssize_t{-1});
}

int bool_slot(PyObject* self) noexcept {
    return guarded(
        [&] {
            const BoolMask mask = read_mask(self);
            if (mask.size() != 1)
                throw value_error(
                    "The truth value of an array with more than one element is ambiguous. Use a.any() or a.all()");
            return mask[0] ? 1 : 0;
        },
        -1);
}

const Signature kTolist{"BoolArray.tolist()", {}, 0, false};
PyObject* tolist_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kTolist, args, kwargs);
    return mask_list(read_mask(self)).release();
}

const Signature kGetstate{"BoolArray.__getstate__()", {}, 0, false};
PyObject* getstate_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kGetstate, args, kwargs);
    return mask_list(read_mask(self)).release();
}

const Signature kSetstate{"BoolArray.__setstate__()", {"state"}, 1, false};
PyObject* setstate_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kSetstate, args, kwargs);
    if (as_mask(self)->borrows != 0) throw Error(ErrorKind::Runtime, "Already borrowed");
    BoolMask mask = convert_argument("state", [&] { return to_mask(a[0]); });
    as_mask(self)->mask = std::move(mask);
    Py_RETURN_NONE;
}

const Signature kReduce{"BoolArray.__reduce__()", {}, 0, false};
PyObject* reduce_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    parse_arguments(kReduce, args, kwargs);
    Ref name = check(PyUnicode_FromString("boundwise._boundwise"));
    Ref module = check(PyImport_Import(name.get()));
    Ref cls = check(PyObject_GetAttrString(module.get(), "BoolArray"));
    Ref list = mask_list(read_mask(self));
    Ref arguments = check(PyTuple_Pack(1, list.get()));
    return check(PyTuple_Pack(2, cls.get(), arguments.get())).release();
}

PyTypeObject* create_type() {
    static std::vector<PyMethodDef> methods;
    static std::vector<PyType_Slot> slots;
    methods = {
        method_def<tolist_method>("tolist", "tolist($self)\n--\n\nThe elements as a list of bools."),
        method_def<getstate_method>("__getstate__", "__getstate__($self)\n--\n\nPickle support."),
        method_def<setstate_method>("__setstate__", "__setstate__($self, state)\n--\n\nPickle support."),
        method_def<reduce_method>("__reduce__", "__reduce__($self)\n--\n\nPickle support."),
    };
    add_mask_methods(methods);
    methods.push_back({nullptr, nullptr, 0, nullptr});
    slots = {
        {Py_tp_doc, const_cast<char*>(kClassDoc)},
        {Py_tp_new, reinterpret_cast<void*>(new_slot)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_slot)},
        {Py_tp_repr, reinterpret_cast<void*>(repr_slot)},
        {Py_tp_str, reinterpret_cast<void*>(repr_slot)},
        {Py_tp_methods, methods.data()},
        {Py_mp_length, reinterpret_cast<void*>(length_slot)},
        {Py_nb_bool, reinterpret_cast<void*>(bool_slot)},
    };
    add_mask_operator_slots(slots);
    slots.push_back({0, nullptr});
    static PyType_Spec type_spec{
        .name = "boundwise._boundwise.BoolArray",
        .basicsize = static_cast<int>(sizeof(BoolArrayObject)),
        .itemsize = 0,
        .flags = Py_TPFLAGS_DEFAULT,
        .slots = nullptr,
    };
    type_spec.slots = slots.data();
    PyObject* type = PyType_FromSpec(&type_spec);
    if (!type) throw PythonError{};
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace

PyTypeObject* bool_array_type() {
    static PyTypeObject* type = nullptr;  // created once under the interpreter lock
    if (!type) type = create_type();
    return type;
}

bool is_bool_array(PyObject* object) { return PyObject_TypeCheck(object, bool_array_type()) != 0; }

PyObject* wrap_mask(BoolMask mask) { return allocate(bool_array_type(), std::move(mask)); }

BoolMask read_mask(PyObject* object) {
    if (!is_bool_array(object))
        throw type_error("'" + type_name(object) + "' object cannot be converted to 'BoolArray'");
    if (as_mask(object)->borrows < 0) throw Error(ErrorKind::Runtime, "Already mutably borrowed");
    return as_mask(object)->mask;
}

std::optional<bool> try_bool(PyObject* object) {
    if (!is_boolean_scalar(object)) return std::nullopt;
    return to_bool(object);
}

}  // namespace boundwise::py
