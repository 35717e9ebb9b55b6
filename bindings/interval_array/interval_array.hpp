// The IntervalArray class: instance layout, borrow counter, creation and access.
#pragma once

#include <cstdint>
#include <vector>

#include "boundwise/array/array.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

struct IntervalArrayObject {
    PyObject_HEAD
    Array value;
    // 0 free, n > 0 shared borrows, -1 an exclusive borrow.
    std::int64_t borrows;
};

// The class object, created from its slot table on first use.
PyTypeObject* interval_array_type();
bool is_interval_array(PyObject* object);

// A new IntervalArray holding `value`.
PyObject* wrap(Array value);

// Copy of the array value of an IntervalArray (shares the storage), read under
// a shared borrow. TypeError "'<type>' object cannot be converted to 'IntervalArray'" otherwise.
Array read_array(PyObject* object);

// Borrow guards: RuntimeError "Already mutably borrowed" / "Already borrowed" on conflict.
class SharedBorrow {
public:
    explicit SharedBorrow(PyObject* object);
    ~SharedBorrow();
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    const Array& value() const { return object_->value; }

private:
    IntervalArrayObject* object_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(PyObject* object);
    ~ExclusiveBorrow();
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    Array& value() { return object_->value; }

private:
    IntervalArrayObject* object_;
};

// Slot and method tables contributed by the files that implement them.
void add_operator_slots(std::vector<PyType_Slot>& slots);
void add_comparison_slots(std::vector<PyType_Slot>& slots);
void add_indexing_slots(std::vector<PyType_Slot>& slots);
void add_iteration_slots(std::vector<PyType_Slot>& slots);
void add_text_slots(std::vector<PyType_Slot>& slots);
void add_operator_methods(std::vector<PyMethodDef>& methods);
void add_comparison_methods(std::vector<PyMethodDef>& methods);
void add_product_slots(std::vector<PyType_Slot>& slots);
void add_product_methods(std::vector<PyMethodDef>& methods);
void add_output_methods(std::vector<PyMethodDef>& methods);
void add_reduction_methods(std::vector<PyMethodDef>& methods);
void add_shape_methods(std::vector<PyMethodDef>& methods, std::vector<PyGetSetDef>& getsets);
void add_elementwise_methods(std::vector<PyMethodDef>& methods);
void add_elementwise_slots(std::vector<PyType_Slot>& slots);
void add_part_properties(std::vector<PyGetSetDef>& getsets);

}  // namespace boundwise::py
