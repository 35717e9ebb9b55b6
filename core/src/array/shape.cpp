#include "boundwise/array/shape.hpp"

#include <string>
#include <vector>

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

std::string exact_product_text(std::span<const std::uint64_t> dims) {
    // Little-endian limbs of base 10^9; each step multiplies by one dimension
    // with a 128-bit carry, so any product of 64 dimensions is exact.
    constexpr std::uint64_t kBase = 1000000000;
    std::vector<std::uint64_t> limbs{1};
    for (std::uint64_t d : dims) {
        unsigned __int128 carry = 0;
        for (std::uint64_t& limb : limbs) {
            const unsigned __int128 v = static_cast<unsigned __int128>(limb) * d + carry;
            limb = static_cast<std::uint64_t>(v % kBase);
            carry = v / kBase;
        }
        for (; carry; carry /= kBase) limbs.push_back(static_cast<std::uint64_t>(carry % kBase));
        if (d == 0) limbs.assign(1, 0);
    }
    std::string text = std::to_string(limbs.back());
    for (std::size_t k = limbs.size() - 1; k-- > 0;) {
        const std::string part = std::to_string(limbs[k]);
        text += std::string(9 - part.size(), '0') + part;
    }
    return text;
}

std::uint64_t element_count(std::span<const std::uint64_t> dims) {
    auto n = checked_product(dims);
    if (!n || *n > kMaxElements)
        throw value_error("array is too big: " + exact_product_text(dims) + " elements, more than the limit of " +
                          std::to_string(kMaxElements));
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
