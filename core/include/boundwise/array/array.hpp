// The array value: shape, size and a shared interval buffer, always row-major.
// Arrays have value semantics; writers call make_unique() first (copy-on-write).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "boundwise/array/shape.hpp"
#include "boundwise/array/storage.hpp"

namespace boundwise {

struct Interval {
    double mid;
    double rad;
};

class Array {
public:
    // A one-dimensional empty array.
    Array();

    // Buffer allocated for product(shape) elements, contents unspecified: for
    // results that a kernel overwrites completely.
    static Array uninitialized(Shape shape);
    static Array zeros(Shape shape);
    // Copies the given parts; sizes must agree (InternalFailure otherwise).
    static Array from_parts(std::span<const double> midpoints, std::span<const double> radii, Shape shape);
    // Every element is from_endpoints(lo, hi).
    static Array filled(Shape shape, double lo, double hi);

    const Shape& shape() const { return shape_; }
    // Row-major strides in elements (the last is 1); computed, since they follow from the shape.
    Shape strides() const { return row_major_strides(shape_); }
    std::uint64_t size() const { return size_; }
    std::size_t ndim() const { return shape_.size(); }

    const double* mid() const { return size_ ? storage_->midpoints() : nullptr; }
    const double* rad() const { return size_ ? storage_->radii() : nullptr; }
    // Writable views; the caller must have called make_unique() (or built the array itself).
    double* mid_mut() { return size_ ? storage_->midpoints() : nullptr; }
    double* rad_mut() { return size_ ? storage_->radii() : nullptr; }

    // Gives this array a buffer of its own when the current one is shared.
    void make_unique();
    bool shares_storage_with(const Array& other) const { return storage_.get() == other.storage_.get(); }
    // No other array value holds this buffer, so writing it changes no one else's elements.
    bool has_unique_storage() const { return storage_->is_unique(); }

    // Same storage, new shape of equal element count (InternalFailure otherwise).
    Array with_shape(Shape shape) const;

    // Element i after the endpoint round trip; IndexError past the end.
    Interval read(std::uint64_t i) const;

private:
    Shape shape_;
    StorageHandle storage_;
    std::uint64_t size_ = 0;
};

// reshape(dims): -1 marks one unknown dimension; errors as NumPy words them.
Array reshape(const Array& a, std::span<const std::int64_t> dims);
// 1-D: shared clone; 2-D: element-wise endpoint round trip into the transposed layout.
Array transpose(const Array& a);
// ValueError "axis A is out of bounds for array of dimension N".
void check_axis(std::uint64_t axis, std::size_t ndim);

}  // namespace boundwise
