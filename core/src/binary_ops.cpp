#include "boundwise/binary_ops.hpp"

#include "boundwise/broadcast.hpp"

namespace boundwise {

Quotient apply_binary(const Array& a, const Array& b, BinaryOp op) {
    const Shape out = broadcast_result_shape(a, b);
    const Array x = as_kernel_operand(a, out);
    const Array y = as_kernel_operand(b, out);
    switch (op) {
        case BinaryOp::Add: return {add(x, y, out)};
        case BinaryOp::Subtract: return {subtract(x, y, out)};
        case BinaryOp::Multiply: return {multiply(x, y, out)};
        case BinaryOp::Divide: return divide(x, y, out);
    }
    return {};
}

Quotient apply_with_number(const Array& a, double x, BinaryOp op, bool number_on_left) {
    switch (op) {
        case BinaryOp::Add: return {add_point(a, x)};
        case BinaryOp::Subtract: return {number_on_left ? point_minus(x, a) : add_point(a, -x)};
        case BinaryOp::Multiply: return {multiply_point(a, x)};
        case BinaryOp::Divide: return number_on_left ? point_divide(x, a) : divide_point(a, x);
    }
    return {};
}

}  // namespace boundwise
