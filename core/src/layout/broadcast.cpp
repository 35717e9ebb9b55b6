#include "boundwise/layout/broadcast.hpp"

#include <algorithm>

#include "boundwise/error.hpp"

namespace boundwise {

std::optional<Shape> broadcast_shape(const Shape& a, const Shape& b) {
    const std::size_t nd = std::max(a.size(), b.size());
    Shape out(nd);
    for (std::size_t j = 0; j < nd; ++j) {
        const std::uint64_t da = j < nd - a.size() ? 1 : a[j - (nd - a.size())];
        const std::uint64_t db = j < nd - b.size() ? 1 : b[j - (nd - b.size())];
        if (da != db && da != 1 && db != 1) return std::nullopt;
        out[j] = (da != db && da == 1) ? db : da;
    }
    return out;
}

Shape broadcast_result_shape(const Array& a, const Array& b) {
    auto shape = broadcast_shape(a.shape(), b.shape());
    if (!shape)
        throw value_error("operands could not be broadcast together with shapes " + format_shape(a.shape()) +
                          " and " + format_shape(b.shape()));
    return *shape;
}

Array broadcast_to(const Array& x, const Shape& target) {
    if (x.shape() == target) return x;  // shared storage: operands are never written
    Array out = Array::uninitialized(target);
    const std::uint64_t total = out.size();
    double* om = out.mid_mut();
    double* orad = out.rad_mut();
    const double* xm = x.mid();
    const double* xr = x.rad();
    if (total == 0) return out;
    if (x.size() == 1) {
        std::fill_n(om, total, xm[0]);
        std::fill_n(orad, total, xr[0]);
        return out;
    }
    // Source stride of each target axis: 0 where x repeats, x's stride otherwise.
    const std::size_t nd = target.size();
    const std::size_t offset = nd - x.ndim();
    const Shape x_strides = x.strides();
    Shape source_stride(nd, 0);
    for (std::size_t k = offset; k < nd; ++k)
        if (x.shape()[k - offset] > 1) source_stride[k] = x_strides[k - offset];
    // Odometer walk over the target index; no division per element.
    Shape index(nd, 0);
    std::uint64_t source = 0;
    for (std::uint64_t k = 0; k < total; ++k) {
        om[k] = xm[source];
        orad[k] = xr[source];
        for (std::size_t axis = nd; axis-- > 0;) {
            source += source_stride[axis];
            if (++index[axis] < target[axis]) break;
            source -= source_stride[axis] * index[axis];
            index[axis] = 0;
        }
    }
    return out;
}

void check_inplace_target(const Array& a, const Array& b) {
    const Shape common = broadcast_result_shape(a, b);
    if (common != a.shape())
        throw value_error("output array with shape " + format_shape(a.shape()) +
                          " is not the result of broadcasting operand shapes " + format_shape(a.shape()) + " and " +
                          format_shape(b.shape()));
}

}  // namespace boundwise
