// Matrix products of IntervalArray: the methods dot and matmul and the @ slot.
#include <string>
#include <variant>

#include "boundwise/error.hpp"
#include "boundwise/linalg/products.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

// self `kind` other: both values are copied (sharing storage) under their
// borrows, then the product runs without the interpreter lock. A 1-D by 1-D
// product is returned as the tuple (midpoint, radius).
PyObject* product(PyObject* self, PyObject* other, ProductKind kind, const char* symbol) {
    if (!is_interval_array(other)) throw type_error(std::string("unsupported operand type for ") + symbol);
    const Array a = read_array(self);
    const Array b = read_array(other);
    Product result;
    {
        ReleasedLock unlocked;
        result = interval_product(a, b, kind);
    }
    if (const Interval* element = std::get_if<Interval>(&result))
        return new_pair(element->mid, element->rad).release();
    return wrap(std::move(std::get<Array>(result)));
}

PyObject* dot_method(PyObject* self, const Arguments& a) { return product(self, a[0], ProductKind::Dot, "dot"); }

PyObject* matmul_method(PyObject* self, const Arguments& a) {
    return product(self, a[0], ProductKind::Matmul, "matmul");
}

// Numbers are refused on either side; with an array only on the right the
// reflected product is attempted, which refuses the number in the same words.
PyObject* matrix_multiply_slot(PyObject* left, PyObject* right) noexcept {
    return guarded([&]() -> PyObject* {
        if (is_interval_array(left)) return product(left, right, ProductKind::Matmul, "@");
        if (is_interval_array(right)) return product(right, left, ProductKind::Matmul, "@");
        Py_RETURN_NOTIMPLEMENTED;
    });
}

constexpr auto kMethods = method_table("IntervalArray", {
    {"dot", "other", dot_method,
     "Dot product with another interval array; a 1-D by 1-D product is the tuple (midpoint, radius)."},
    {"matmul", "other", matmul_method,
     "Matrix product with another interval array, as the @ operator computes it."},
});

}  // namespace

void add_product_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_nb_matrix_multiply, slot_pointer(matrix_multiply_slot)});
}

void add_product_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

}  // namespace boundwise::py
