// Arithmetic operator slots of IntervalArray: + - * / // ** and pow() (forward,
// reflected, in place), unary minus and plus, truth value, len(), and the
// methods scale() and power().
#include <cstdint>
#include <optional>

#include "boundwise/arithmetic/binary_ops.hpp"
#include "boundwise/layout/broadcast.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/error.hpp"
#include "interval_array/interval_array.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "support/status.hpp"

namespace boundwise::py {

namespace {

const char* symbol(BinaryOp op) {
    switch (op) {
        case BinaryOp::Add: return "+";
        case BinaryOp::Subtract: return "-";
        case BinaryOp::Multiply: return "*";
        case BinaryOp::Divide: return "/";
        case BinaryOp::FloorDivide: return "//";
        case BinaryOp::Power: return "**";
    }
    return "?";
}

PyObject* finish(Quotient q) {
    report_status(q.flags);
    return wrap(std::move(q.value));
}

// Below this many result elements the arithmetic keeps the interpreter lock:
// releasing and taking it back, and copying the operand values that the
// release needs, cost more than such a call computes.
constexpr std::uint64_t kReleaseLockFrom = 4096;

// At least the element count of the broadcast result of a and b (each result
// dimension is one of the operands' dimensions).
std::uint64_t result_size_bound(const Array& a, const Array& b) {
    if (a.size() == 1 || a.shape() == b.shape()) return b.size();
    if (b.size() <= 1) return a.size();
    return a.size() > UINT64_MAX / b.size() ? UINT64_MAX : a.size() * b.size();
}

Quotient apply(const Array& a, const Array& b, BinaryOp op, bool reflected) {
    return reflected ? apply_binary(b, a, op) : apply_binary(a, b, op);
}

// array op other, or other op array when reflected. Large operations copy the
// operand values (sharing storage), give back the borrows and release the lock
// for the arithmetic; small ones compute on the borrowed values. `name` is the
// operation's name in the TypeError for an unsupported operand.
PyObject* binary(PyObject* array, PyObject* other, BinaryOp op, bool reflected, const char* name) {
    Quotient result;
    if (is_interval_array(other)) {
        std::optional<Array> a, b;
        {
            const SharedBorrow left(array);
            const SharedBorrow right(other);
            if (result_size_bound(left.value(), right.value()) < kReleaseLockFrom) {
                result = apply(left.value(), right.value(), op, reflected);
            } else {
                a = left.value();
                b = right.value();
            }
        }
        if (a) {
            ReleasedLock unlocked;
            result = apply(*a, *b, op, reflected);
        }
    } else {
        const Array a = read_array(array);
        const std::optional<Interval> x = try_number(other);
        if (!x) throw type_error(std::string("unsupported operand type for ") + name);
        // An int that no double equals is an interval operand, not a point.
        const std::optional<Array> b = x->rad != 0.0 ? std::optional(number_array(*x)) : std::nullopt;
        const auto compute = [&] { return b ? apply(a, *b, op, reflected) : apply_with_number(a, x->mid, op, reflected); };
        if (a.size() < kReleaseLockFrom) {
            result = compute();
        } else {
            ReleasedLock unlocked;
            result = compute();
        }
    }
    return finish(std::move(result));
}

// Floor division has no reflected form: a number on the left is left to the interpreter.
constexpr bool has_reflected(BinaryOp op) { return op != BinaryOp::FloorDivide; }

template <BinaryOp Op>
PyObject* binary_slot(PyObject* left, PyObject* right) noexcept {
    return guarded([&]() -> PyObject* {
        if (is_interval_array(left)) return binary(left, right, Op, false, symbol(Op));
        if (has_reflected(Op) && is_interval_array(right)) return binary(right, left, Op, true, symbol(Op));
        Py_RETURN_NOTIMPLEMENTED;
    });
}

void refuse_modulo(PyObject* modulo) {
    if (modulo != Py_None) throw type_error("pow() with a modulo is not supported");
}

// a ** b and pow(a, b[, modulo]); the modulo is refused once an array takes part.
PyObject* power_slot(PyObject* left, PyObject* right, PyObject* modulo) noexcept {
    return guarded([&]() -> PyObject* {
        if (!is_interval_array(left) && !is_interval_array(right)) Py_RETURN_NOTIMPLEMENTED;
        refuse_modulo(modulo);
        return binary_slot<BinaryOp::Power>(left, right);
    });
}

// self op= other: the operand is read (under its own shared borrow) before the
// exclusive borrow of self is taken; `a += a` uses the target itself, so that
// its buffer stays unshared. The result is written into self's buffer when no
// other array holds it and no warning can follow; otherwise it is computed as
// a new array, and nothing is replaced until the result and its warning are
// through.
template <BinaryOp Op>
PyObject* inplace_slot(PyObject* self, PyObject* other) noexcept {
    return guarded([&]() -> PyObject* {
        if (!is_interval_array(self)) Py_RETURN_NOTIMPLEMENTED;
        std::optional<Array> operand;
        std::optional<double> number;
        if (other != self) {
            if (is_interval_array(other)) {
                operand = read_array(other);
            } else {
                const std::optional<Interval> x = try_number(other);
                if (!x) throw type_error("unsupported operand type for in-place operation");
                if (x->rad != 0.0) operand = number_array(*x);
                else number = x->mid;
            }
        }
        ExclusiveBorrow borrow(self);
        Array& target = borrow.value();
        const Array* b = number ? nullptr : operand ? &*operand : &target;
        if (b ? !write_in_place(target, *b, Op) : !write_in_place(target, *number, Op)) {
            Quotient result = b ? apply_binary(target, *b, Op) : apply_with_number(target, *number, Op, false);
            report_status(result.flags);
            // Replacing the handle leaves arrays that shared the old buffer untouched.
            target = std::move(result.value);
        }
        Py_INCREF(self);
        return self;
    });
}

PyObject* negative_slot(PyObject* self) noexcept {
    return guarded([&] { return wrap(negate(read_array(self))); });
}

PyObject* positive_slot(PyObject* self) noexcept {
    return guarded([&] { return wrap(read_array(self)); });
}

int bool_slot(PyObject* self) noexcept {
    return guarded(
        [&] {
            const Array a = read_array(self);
            check_single_truth_value(a.size());
            const Interval x = a.read(0);
            return (x.mid == 0.0 && x.rad == 0.0) ? 0 : 1;
        },
        -1);
}

Py_ssize_t length_slot(PyObject* self) noexcept {
    return guarded(
        [&]() -> Py_ssize_t {
            const Array a = read_array(self);
            if (a.ndim() == 0) return 0;
            if (a.shape()[0] > static_cast<std::uint64_t>(PY_SSIZE_T_MAX))
                throw Error(ErrorKind::Overflow, "array length does not fit in a Py_ssize_t");
            return static_cast<Py_ssize_t>(a.shape()[0]);
        },
        Py_ssize_t{-1});
}

// The ternary in-place slot; `**=` itself passes None as the modulo.
PyObject* inplace_power_slot(PyObject* self, PyObject* other, PyObject* modulo) noexcept {
    return guarded([&]() -> PyObject* {
        if (is_interval_array(self)) refuse_modulo(modulo);
        return inplace_slot<BinaryOp::Power>(self, other);
    });
}

PyObject* scale_method(PyObject* self, const Arguments& a) {
    const double scalar = a.convert(0, to_double);
    // An int that no double equals scales by the interval around it.
    if (const std::optional<Interval> x = try_number(a[0]); x && x->rad != 0.0)
        return finish(apply_binary(read_array(self), number_array(*x), BinaryOp::Multiply));
    return wrap(multiply_point(read_array(self), scalar));
}

// The forward rule of `**`, with its own word in the TypeError.
PyObject* power_method(PyObject* self, const Arguments& a) {
    return binary(self, a[0], BinaryOp::Power, false, "power");
}

constexpr auto kMethods = method_table("IntervalArray", {
    {"scale", "scalar", scale_method, "Scale the array by an exact scalar (fast path)."},
    {"power", "other", power_method, "Element-wise power with an array or a number as exponent."},
});

}  // namespace

void add_operator_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_nb_add, slot_pointer(binary_slot<BinaryOp::Add>)});
    slots.push_back({Py_nb_subtract, slot_pointer(binary_slot<BinaryOp::Subtract>)});
    slots.push_back({Py_nb_multiply, slot_pointer(binary_slot<BinaryOp::Multiply>)});
    slots.push_back({Py_nb_true_divide, slot_pointer(binary_slot<BinaryOp::Divide>)});
    slots.push_back({Py_nb_floor_divide, slot_pointer(binary_slot<BinaryOp::FloorDivide>)});
    slots.push_back({Py_nb_power, slot_pointer(power_slot)});
    slots.push_back({Py_nb_inplace_add, slot_pointer(inplace_slot<BinaryOp::Add>)});
    slots.push_back({Py_nb_inplace_subtract, slot_pointer(inplace_slot<BinaryOp::Subtract>)});
    slots.push_back({Py_nb_inplace_multiply, slot_pointer(inplace_slot<BinaryOp::Multiply>)});
    slots.push_back({Py_nb_inplace_true_divide, slot_pointer(inplace_slot<BinaryOp::Divide>)});
    slots.push_back({Py_nb_inplace_power, slot_pointer(inplace_power_slot)});
    slots.push_back({Py_nb_negative, slot_pointer(negative_slot)});
    slots.push_back({Py_nb_positive, slot_pointer(positive_slot)});
    slots.push_back({Py_nb_bool, slot_pointer(bool_slot)});
    slots.push_back({Py_mp_length, slot_pointer(length_slot)});
}

void add_operator_methods(std::vector<PyMethodDef>& methods) { add_entries<kMethods>(methods); }

}  // namespace boundwise::py
