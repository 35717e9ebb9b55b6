#include "interval_array/raw_parts.hpp"

#include <string>

#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/errors.hpp"

namespace boundwise::py {

namespace {

// The exact product of the dimensions in decimal, even beyond 64 bits.
std::string exact_product_text(const Shape& shape) {
    if (auto product = checked_product(shape)) return std::to_string(*product);
    Ref product = check(PyLong_FromLong(1));
    for (std::uint64_t d : shape) {
        Ref dim = check(PyLong_FromUnsignedLongLong(d));
        product = check(PyNumber_Multiply(product.get(), dim.get()));
    }
    return to_string(product.get());
}

}  // namespace

Array array_from_raw_parts(RawParts parts) {
    if (parts.midpoints.size() != parts.radii.size())
        throw value_error("midpoints and radii must have the same length");
    for (double r : parts.radii) check_radius(r);
    const auto product = checked_product(parts.shape);
    if (!product || *product != parts.midpoints.size())
        throw value_error("midpoints length " + std::to_string(parts.midpoints.size()) + " != product of shape " +
                          exact_product_text(parts.shape));
    return Array::from_parts(parts.midpoints, parts.radii, std::move(parts.shape));
}

}  // namespace boundwise::py
