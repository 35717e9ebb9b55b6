#include "bool_array/bool_array.hpp"

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

PyObject* allocate(PyTypeObject* type, BoolMask mask) {
    return allocate_instance<BoolArrayObject, &BoolArrayObject::mask>(type, std::move(mask));
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
        if (!is_boolean_scalar(item.get()))
            throw type_error("'" + type_name(item.get()) + "' object cannot be converted to 'PyBool'");
        bytes.push_back(to_bool(item.get()) ? 1 : 0);
    }
    return BoolMask(std::move(bytes));
}

Ref mask_list(const BoolMask& mask) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(mask.size())));
    for (std::size_t i = 0; i < mask.size(); ++i)
        check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), PyBool_FromLong(mask[i])));
    return list;
}

PyObject* new_instance(PyTypeObject* type, const Arguments& a) { return allocate(type, a.convert(0, to_mask)); }

constexpr ClassDeclaration kClass{"BoolArray", "values", new_instance, "A NumPy-style boolean array (mask)."};

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
            check_single_truth_value(mask.size());
            return mask[0] ? 1 : 0;
        },
        -1);
}

// tolist and __getstate__: the elements as a list of bools.
PyObject* tolist_method(PyObject* self, const Arguments&) { return mask_list(read_mask(self)).release(); }

PyObject* setstate_method(PyObject* self, const Arguments& a) {
    if (as_mask(self)->borrows != 0) throw Error(ErrorKind::Runtime, "Already borrowed");
    BoolMask mask = a.convert(0, to_mask);
    as_mask(self)->mask = std::move(mask);
    Py_RETURN_NONE;
}

PyObject* reduce_method(PyObject* self, const Arguments&) {
    Ref cls = module_attribute("BoolArray");
    Ref list = mask_list(read_mask(self));
    Ref arguments = check(PyTuple_Pack(1, list.get()));
    return check(PyTuple_Pack(2, cls.get(), arguments.get())).release();
}

constexpr auto kMethods = method_table("BoolArray", {
    {"tolist", "", tolist_method, "The elements as a list of bools."},
    {"__getstate__", "", tolist_method, "Pickle support."},
    {"__setstate__", "state", setstate_method, "Pickle support."},
    {"__reduce__", "", reduce_method, "Pickle support."},
});

PyTypeObject* create_type() {
    TypeTables tables;
    add_entries<kMethods>(tables.methods);
    tables.slots = {
        {Py_tp_dealloc, slot_pointer(deallocate_instance<BoolArrayObject, &BoolArrayObject::mask>)},
        {Py_tp_repr, slot_pointer(repr_slot)},
        {Py_tp_str, slot_pointer(repr_slot)},
        {Py_mp_length, slot_pointer(length_slot)},
        {Py_nb_bool, slot_pointer(bool_slot)},
    };
    return create_class<kClass>(static_cast<int>(sizeof(BoolArrayObject)), Py_TPFLAGS_DEFAULT, std::move(tables));
}

}  // namespace

PyTypeObject* bool_array_type() {
    static PyTypeObject* type = nullptr;  // created once under the interpreter lock
    if (!type) type = create_type();
    return type;
}

bool is_bool_array(PyObject* object) { return PyObject_TypeCheck(object, bool_array_type()) != 0; }

BoolMask read_mask(PyObject* self) {
    if (as_mask(self)->borrows < 0) throw Error(ErrorKind::Runtime, "Already mutably borrowed");
    return as_mask(self)->mask;
}

PyObject* wrap_mask(BoolMask mask) { return allocate(bool_array_type(), std::move(mask)); }

}  // namespace boundwise::py
