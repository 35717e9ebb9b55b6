#include "boundwise/arithmetic/binary_ops.hpp"

#include <optional>

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
    const std::uint64_t count = element_count(out);
    // Only operands the kernels cannot pair element by element are expanded.
    std::optional<Array> expanded_a, expanded_b;
    const Array& x = is_kernel_operand(a, count) ? a : expanded_a.emplace(broadcast_to(a, out));
    const Array& y = is_kernel_operand(b, count) ? b : expanded_b.emplace(broadcast_to(b, out));
    switch (op) {
        case BinaryOp::Add: return {add(x, y, out)};
        case BinaryOp::Subtract: return {subtract(x, y, out)};
        case BinaryOp::Multiply: return {multiply(x, y, out)};
        case BinaryOp::Divide: return divide(x, y, out);
        case BinaryOp::FloorDivide: return floor_of(divide(x, y, out));
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

}  // namespace boundwise
