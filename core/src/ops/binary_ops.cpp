#include "boundwise/ops/binary_ops.hpp"

#include <optional>

#include "boundwise/layout/broadcast.hpp"

namespace boundwise {

Quotient apply_binary(const Array& a, const Array& b, BinaryOp op) {
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
