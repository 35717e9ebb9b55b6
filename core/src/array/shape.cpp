#include "boundwise/array/shape.hpp"

#include <string>

#include "boundwise/error.hpp"
#include "boundwise/array/storage.hpp"

namespace boundwise {

void check_ndim(std::size_t ndim) {
    if (ndim > kMaxDims)
        throw value_error("maximum supported dimension for an array is 64, found " + std::to_string(ndim));
}

std::optional<std::uint64_t> checked_product(std::span<const std::uint64_t> dims) {
    std::uint64_t product = 1;
    bool overflow = false;
    for (std::uint64_t d : dims) {
        if (d == 0) return 0;  // a zero dimension empties the array whatever the others are
        if (__builtin_mul_overflow(product, d, &product)) overflow = true;
    }
    if (overflow) return std::nullopt;
    return product;
}

std::uint64_t element_count(std::span<const std::uint64_t> dims) {
    auto n = checked_product(dims);
    if (!n || *n > kMaxElements) throw InternalFailure("invalid layout");
    return *n;
}

Shape row_major_strides(const Shape& shape) {
    Shape strides(shape.size(), 1);
    std::uint64_t running = 1;
    for (std::size_t k = shape.size(); k-- > 0;) {
        strides[k] = running;
        running *= shape[k];  // wraps only for empty arrays, whose strides are never used
    }
    return strides;
}

namespace {
template <class T>
std::string join_dims(std::span<const T> dims) {
    std::string text = "[";
    for (std::size_t i = 0; i < dims.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(dims[i]);
    }
    return text + "]";
}
}  // namespace

std::string format_shape(std::span<const std::uint64_t> dims) { return join_dims(dims); }
std::string format_dims(std::span<const std::int64_t> dims) { return join_dims(dims); }

}  // namespace boundwise
