// Module functions that join, split and select: concatenate, stack, vstack,
// hstack, split and where_impl.
#include <optional>

#include "boundwise/layout/join.hpp"
#include "bool_array/bool_array.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"

namespace boundwise::py {

namespace {

std::vector<Array> to_array_list(PyObject* object) {
    std::vector<Array> arrays;
    for (const Ref& item : sequence_items(object)) arrays.push_back(read_array(item.get()));
    return arrays;
}

std::uint64_t axis_argument(const Arguments& a, std::size_t i) { return a.convert_or(i, std::uint64_t{0}, to_u64); }

std::vector<std::uint64_t> to_cut_list(PyObject* object) {
    std::vector<std::uint64_t> cuts;
    for (const Ref& item : sequence_items(object)) cuts.push_back(to_u64(item.get()));
    return cuts;
}

Ref new_list_of_arrays(std::vector<Array> arrays) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(arrays.size())));
    for (std::size_t i = 0; i < arrays.size(); ++i)
        check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), wrap(std::move(arrays[i]))));
    return list;
}

// The condition's truth values, always one-dimensional.
std::vector<std::uint8_t> condition_argument(PyObject* condition) {
    if (is_bool_array(condition)) {
        const BoolMask mask = read_mask(condition);
        return {mask.bytes().begin(), mask.bytes().end()};
    }
    if (is_interval_array(condition)) return truth_values(read_array(condition));
    if (PyList_Check(condition)) {
        const std::vector<Ref> items = sequence_items(condition);
        std::vector<std::uint8_t> truth;
        for (const Ref& item : items) {
            if (!PyBool_Check(item.get())) break;
            truth.push_back(item.get() == Py_True ? 1 : 0);
        }
        if (truth.size() == items.size()) return truth;
    }
    if (PyBool_Check(condition)) return {static_cast<std::uint8_t>(condition == Py_True ? 1 : 0)};
    throw type_error("condition must be a BoolArray, IntervalArray, list of bools, or bool");
}

// An IntervalArray as it is, or a number as the array of shape (1,) that try_number gives.
Array operand_argument(PyObject* object, const char* message) {
    if (is_interval_array(object)) return read_array(object);
    const auto x = attempt(Recoverable::ConversionErrors, [&] { return try_number(object); });
    if (!x || !*x) throw type_error(message);
    return Array::from_parts({&(*x)->mid, 1}, {&(*x)->rad, 1}, {1});
}

PyObject* concatenate_function(PyObject*, const Arguments& a) {
    const std::vector<Array> arrays = a.convert(0, to_array_list);
    return wrap(concatenate(arrays, axis_argument(a, 1)));
}

PyObject* stack_function(PyObject*, const Arguments& a) {
    const std::vector<Array> arrays = a.convert(0, to_array_list);
    return wrap(stack(arrays, axis_argument(a, 1)));
}

PyObject* vstack_function(PyObject*, const Arguments& a) { return wrap(stack(a.convert(0, to_array_list), 0)); }

PyObject* hstack_function(PyObject*, const Arguments& a) { return wrap(hstack(a.convert(0, to_array_list))); }

PyObject* split_function(PyObject*, const Arguments& a) {
    const Array array = a.convert(0, read_array);
    const std::uint64_t axis = axis_argument(a, 2);
    check_axis(axis, array.ndim());
    if (const auto sections = attempt(Recoverable::ConversionErrors, [&] { return to_u64(a[1]); }))
        return new_list_of_arrays(split_sections(array, *sections, axis)).release();
    if (const auto cuts = attempt(Recoverable::ConversionErrors, [&] { return to_cut_list(a[1]); }))
        return new_list_of_arrays(split_at(array, *cuts, axis)).release();
    throw type_error("indices_or_sections must be an int or a list of ints");
}

PyObject* where_function(PyObject*, const Arguments& a) {
    const std::vector<std::uint8_t> condition = condition_argument(a[0]);
    const Array x = operand_argument(a[1], "x must be an IntervalArray or a number");
    const Array y = operand_argument(a[2], "y must be an IntervalArray or a number");
    return wrap(where(condition, x, y));
}

constexpr auto kJoining = function_table({
    {"concatenate", "arrays, axis=0", concatenate_function, "Join arrays along an existing axis."},
    {"stack", "arrays, axis=0", stack_function, "Join arrays of equal shape along a new axis."},
    {"vstack", "arrays", vstack_function, "Stack arrays along a new first axis (stack with axis=0)."},
    {"hstack", "arrays", hstack_function,
     "Join arrays along axis 0 when the first is one-dimensional, along axis 1 otherwise."},
    {"split", "a, indices_or_sections, axis=0", split_function,
     "Split an array into equal sections, or at the given cut points, along an axis."},
    {"where_impl", "condition, x, y", where_function,
     "Elements of x where the condition holds and of y elsewhere (broadcast together)."},
});

}  // namespace

void add_joining_functions(std::vector<PyMethodDef>& functions) { add_entries<kJoining>(functions); }

}  // namespace boundwise::py
