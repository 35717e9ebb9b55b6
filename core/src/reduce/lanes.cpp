#include "boundwise/reduce/lanes.hpp"

#include "boundwise/array/array.hpp"
#include "boundwise/error.hpp"

namespace boundwise {

LaneLayout lane_layout(const Shape& shape, std::uint64_t axis) {
    check_axis(axis, shape.size());
    const auto outer = checked_product(std::span(shape).first(axis));
    const auto inner = checked_product(std::span(shape).subspan(axis + 1));
    const bool countable = outer && inner && (*inner == 0 || *outer <= UINT64_MAX / *inner);
    if (!countable) throw InternalFailure("invalid layout");
    LaneLayout layout{*outer, shape[axis], *inner, shape};
    layout.reduced.erase(layout.reduced.begin() + static_cast<std::ptrdiff_t>(axis));
    return layout;
}

}  // namespace boundwise
