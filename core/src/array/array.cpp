#include "boundwise/array/array.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/error.hpp"

namespace boundwise {

Array::Array() : shape_{0}, storage_(IntervalStorage::allocate(0)), size_(0) {}

Array Array::uninitialized(Shape shape) {
    check_ndim(shape.size());
    Array a;
    a.size_ = element_count(shape);
    a.storage_ = StorageHandle(IntervalStorage::allocate(a.size_));
    a.shape_ = std::move(shape);
    return a;
}

Array Array::zeros(Shape shape) {
    Array a = uninitialized(std::move(shape));
    a.storage_->fill_zero();
    return a;
}

Array Array::from_parts(std::span<const double> midpoints, std::span<const double> radii, Shape shape) {
    check_internal(midpoints.size() == radii.size(), "midpoints and radii must have same length");
    Array a = uninitialized(std::move(shape));
    check_internal(a.size_ == midpoints.size(), "shape product must equal data length");
    if (a.size_) {
        std::memcpy(a.mid_mut(), midpoints.data(), midpoints.size() * sizeof(double));
        std::memcpy(a.rad_mut(), radii.data(), radii.size() * sizeof(double));
    }
    return a;
}

Array Array::filled(Shape shape, double lo, double hi) {
    Array a = uninitialized(std::move(shape));
    const Interval value = from_endpoints(lo, hi);
    std::fill_n(a.mid_mut(), a.size_, value.mid);
    std::fill_n(a.rad_mut(), a.size_, value.rad);
    return a;
}

void Array::make_unique() {
    if (storage_->is_unique()) return;
    StorageHandle fresh(IntervalStorage::allocate(size_));
    fresh->copy_values_from(*storage_.get());
    storage_ = std::move(fresh);
}

Array Array::with_shape(Shape shape) const {
    check_ndim(shape.size());
    auto n = checked_product(shape);
    check_internal(n && *n == size_, "cannot reshape array: element count differs");
    Array a = *this;
    a.shape_ = std::move(shape);
    return a;
}

Interval Array::read(std::uint64_t i) const {
    if (i >= size_)
        throw index_error("index " + std::to_string(i) + " out of range for array of length " + std::to_string(size_));
    return endpoint_round_trip(mid()[i], rad()[i]);
}

Array reshape(const Array& a, std::span<const std::int64_t> dims) {
    check_ndim(dims.size());
    std::size_t unknown = dims.size();
    for (std::size_t i = 0; i < dims.size(); ++i) {
        if (dims[i] == -1) {
            if (unknown != dims.size()) throw value_error("can only specify one unknown dimension");
            unknown = i;
        } else if (dims[i] < 0) {
            throw value_error("negative dimensions are not allowed");
        }
    }
    auto mismatch = [&](std::span<const std::int64_t> shown) {
        return value_error("cannot reshape array of size " + std::to_string(a.size()) + " into shape " +
                           format_dims(shown));
    };
    Shape shape(dims.begin(), dims.end());
    if (unknown != dims.size()) {
        shape[unknown] = 1;
        auto known = checked_product(shape);
        if (!known || *known == 0 || a.size() % *known != 0) throw mismatch(dims);
        shape[unknown] = a.size() / *known;
    }
    auto n = checked_product(shape);
    if (!n || *n != a.size()) {
        std::vector<std::int64_t> final_dims(shape.begin(), shape.end());
        throw mismatch(final_dims);
    }
    return a.with_shape(std::move(shape));
}

void check_axis(std::uint64_t axis, std::size_t ndim) {
    if (axis >= ndim)
        throw value_error("axis " + std::to_string(axis) + " is out of bounds for array of dimension " +
                          std::to_string(ndim));
}

}  // namespace boundwise
