#include "boundwise/arithmetic/binary_ops.hpp"

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/layout/broadcast.hpp"

namespace boundwise {

namespace {

// floor is monotone, so the floors of the ends of an enclosure of q enclose floor(q).
Quotient floor_of(Quotient q) {
    return {round_to_integer(q.value, IntegerRounding::Floor), q.flags};
}

}  // namespace

Quotient apply_binary(const Array& a, const Array& b, BinaryOp op) {
    // The power loop pairs broadcast operands itself.
    if (op == BinaryOp::Power) return power(a, b);
    const Shape out = broadcast_result_shape(a, b);
    switch (op) {
        case BinaryOp::Add: return {add(a, b, out)};
        case BinaryOp::Subtract: return {subtract(a, b, out)};
        case BinaryOp::Multiply: return {multiply(a, b, out)};
        case BinaryOp::Divide: return divide(a, b, out);
        case BinaryOp::FloorDivide: return floor_of(divide(a, b, out));
        case BinaryOp::Power: break;
    }
    return {};
}

Quotient apply_with_number(const Array& a, double x, BinaryOp op, bool number_on_left) {
    switch (op) {
        case BinaryOp::Add: return {add_point(a, x)};
        case BinaryOp::Subtract: return {number_on_left ? point_minus(x, a) : add_point(a, -x)};
        case BinaryOp::Multiply: return {multiply_point(a, x)};
        case BinaryOp::Divide: return number_on_left ? point_divide(x, a) : divide_point(a, x);
        case BinaryOp::FloorDivide: return floor_of(number_on_left ? point_divide(x, a) : divide_point(a, x));
        case BinaryOp::Power: return number_on_left ? power(x, a) : power(a, x);
    }
    return {};
}

bool write_in_place(Array& a, const Array& b, BinaryOp op) {
    check_inplace_target(a, b);
    if (!a.has_unique_storage()) return false;
    switch (op) {
        case BinaryOp::Add: add_in_place(a, b); return true;
        case BinaryOp::Subtract: subtract_in_place(a, b); return true;
        case BinaryOp::Multiply: multiply_in_place(a, b); return true;
        case BinaryOp::Divide:
            if (division_reports_zero(b)) return false;
            divide_in_place(a, b);
            return true;
        case BinaryOp::FloorDivide:
        case BinaryOp::Power: break;
    }
    return false;
}

bool write_in_place(Array& a, double x, BinaryOp op) {
    if (!a.has_unique_storage()) return false;
    switch (op) {
        case BinaryOp::Add: add_point_in_place(a, x); return true;
        case BinaryOp::Subtract: add_point_in_place(a, -x); return true;
        case BinaryOp::Multiply: multiply_point_in_place(a, x); return true;
        case BinaryOp::Divide:
            if (x == 0) return false;
            divide_point_in_place(a, x);
            return true;
        case BinaryOp::FloorDivide:
        case BinaryOp::Power: break;
    }
    return false;
}

}  // namespace boundwise
