#include "boundwise/reduce/products.hpp"

#include "accumulate.hpp"
#include "boundwise/reduce/lanes.hpp"

namespace boundwise {

Interval product(const Array& a) {
    Endpoints p{1.0, 1.0};
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i) p = mul_endpoints(p, reduce::endpoints_of(a, i));
    return reduce::to_element(p);
}

Array product(const Array& a, std::uint64_t axis) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    Array out = Array::uninitialized(layout.reduced);
    reduce_lanes<Endpoints>(
        layout, [](Endpoints& p, std::uint64_t) { p = {1.0, 1.0}; },
        [&](Endpoints& p, std::uint64_t i, std::uint64_t) { p = mul_endpoints(p, reduce::endpoints_of(a, i)); },
        [&](Endpoints& p, std::uint64_t lane) { reduce::store(out, lane, reduce::to_element(p)); });
    return out;
}

}  // namespace boundwise
