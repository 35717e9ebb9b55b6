#include "boundwise/layout/broadcast.hpp"
#include "boundwise/layout/broadcast_walk.hpp"

#include <algorithm>
#include <array>

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

namespace {

// An operand's stride along each axis of `out` (right-aligned): its row-major
// stride where its own dimension is greater than 1, 0 where it repeats.
std::array<std::uint64_t, kMaxDims> strides_within(const Shape& x, const Shape& out) {
    std::array<std::uint64_t, kMaxDims> stride{};
    const std::size_t offset = out.size() - x.size();
    std::uint64_t step = 1;
    for (std::size_t k = x.size(); k-- > 0;) {
        if (x[k] > 1) stride[k + offset] = step;
        step *= x[k];
    }
    return stride;
}

}  // namespace

BroadcastWalk plan_broadcast_walk(const Shape& a, const Shape& b, const Shape& out) {
    check_internal(out.size() <= kMaxDims && a.size() <= out.size() && b.size() <= out.size(),
                   "broadcast walk: operands of more dimensions than the result");
    const auto sa = strides_within(a, out);
    const auto sb = strides_within(b, out);
    BroadcastWalk w;
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (out[k] == 1) continue;
        const std::size_t last = w.ndim - 1;
        // Axis k continues the previous one for both operands: fold it in.
        if (w.ndim > 0 && w.a_stride[last] == sa[k] * out[k] && w.b_stride[last] == sb[k] * out[k]) {
            w.dims[last] *= out[k];
            w.a_stride[last] = sa[k];
            w.b_stride[last] = sb[k];
            continue;
        }
        w.dims[w.ndim] = out[k];
        w.a_stride[w.ndim] = sa[k];
        w.b_stride[w.ndim] = sb[k];
        ++w.ndim;
    }
    if (w.ndim == 0) w.ndim = w.dims[0] = 1;  // one element: a row of one
    check_internal(w.a_stride[w.ndim - 1] <= 1 && w.b_stride[w.ndim - 1] <= 1 && element_count(out) > 0,
                   "broadcast walk: a row that is neither contiguous nor repeated");
    return w;
}

void check_inplace_target(const Array& a, const Array& b) {
    const Shape common = broadcast_result_shape(a, b);
    if (common != a.shape())
        throw value_error("output array with shape " + format_shape(a.shape()) +
                          " is not the result of broadcasting operand shapes " + format_shape(a.shape()) + " and " +
                          format_shape(b.shape()));
}

}  // namespace boundwise
