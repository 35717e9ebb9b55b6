#include "boundwise/reduce/lanes.hpp"

#include "boundwise/array/array.hpp"
#include "boundwise/error.hpp"

namespace boundwise {

LaneLayout lane_layout(const Shape& shape, std::uint64_t axis) {
    check_axis(axis, shape.size());
    Shape reduced = shape;
    reduced.erase(reduced.begin() + static_cast<std::ptrdiff_t>(axis));
    // One lane per result element: a result too big to hold is refused first.
    // Then a side whose product overflows is beside a zero on the other side,
    // so there are no lanes, and 0 stands for it.
    element_count(reduced);
    const auto outer = checked_product(std::span(shape).first(axis));
    const auto inner = checked_product(std::span(shape).subspan(axis + 1));
    return LaneLayout{outer.value_or(0), shape[axis], inner.value_or(0), std::move(reduced)};
}

}  // namespace boundwise
