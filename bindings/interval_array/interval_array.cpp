#include "interval_array/interval_array.hpp"

#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

PyObject* interval_array_new(PyTypeObject* type, const Arguments& a) {
    Array value = to_array(a[0], error_argument(a, 1));
    return allocate_instance<IntervalArrayObject, &IntervalArrayObject::value>(type, std::move(value));
}

constexpr ClassDeclaration kClass{
    "IntervalArray", "values, error=0.0", interval_array_new,
    "A NumPy-compatible interval array with guaranteed numerical error bounds."};

PyTypeObject* create_type() {
    TypeTables tables;
    add_output_methods(tables.methods);
    add_shape_methods(tables.methods, tables.properties);
    add_operator_methods(tables.methods);
    add_comparison_methods(tables.methods);
    add_elementwise_methods(tables.methods);
    add_reduction_methods(tables.methods);
    add_product_methods(tables.methods);
    add_part_properties(tables.properties);
    tables.slots.push_back(
        {Py_tp_dealloc, slot_pointer(deallocate_instance<IntervalArrayObject, &IntervalArrayObject::value>)});
    add_operator_slots(tables.slots);
    add_comparison_slots(tables.slots);
    add_indexing_slots(tables.slots);
    add_iteration_slots(tables.slots);
    add_product_slots(tables.slots);
    add_text_slots(tables.slots);
    add_elementwise_slots(tables.slots);
    return create_class<kClass>(static_cast<int>(sizeof(IntervalArrayObject)),
                                Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, std::move(tables));
}

}  // namespace

PyTypeObject* interval_array_type() {
    static PyTypeObject* type = nullptr;  // created once under the interpreter lock
    if (!type) type = create_type();
    return type;
}

bool is_interval_array(PyObject* object) { return PyObject_TypeCheck(object, interval_array_type()) != 0; }

PyObject* wrap(Array value) {
    return allocate_instance<IntervalArrayObject, &IntervalArrayObject::value>(interval_array_type(), std::move(value));
}

Array read_array(PyObject* object) {
    if (!is_interval_array(object))
        throw type_error("'" + type_name(object) + "' object cannot be converted to 'IntervalArray'");
    SharedBorrow borrow(object);
    return borrow.value();
}

SharedBorrow::SharedBorrow(PyObject* object) : object_(reinterpret_cast<IntervalArrayObject*>(object)) {
    if (object_->borrows < 0) throw Error(ErrorKind::Runtime, "Already mutably borrowed");
    ++object_->borrows;
}
SharedBorrow::~SharedBorrow() { --object_->borrows; }

ExclusiveBorrow::ExclusiveBorrow(PyObject* object) : object_(reinterpret_cast<IntervalArrayObject*>(object)) {
    if (object_->borrows != 0) throw Error(ErrorKind::Runtime, "Already borrowed");
    object_->borrows = -1;
}
ExclusiveBorrow::~ExclusiveBorrow() { object_->borrows = 0; }

}  // namespace boundwise::py
