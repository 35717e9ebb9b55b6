#include "interval_array/raw_parts.hpp"

#include <string>

#include "boundwise/create/from_numbers.hpp"
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

NumbersArgument NumbersArgument::read(PyObject* object) {
    NumbersArgument argument;
    argument.buffer_ = HeldBuffer::acquire(object);
    if (argument.buffer_) {
        argument.numbers_ = argument.buffer_->numbers();
    } else {
        argument.list_ = to_double_list(object);
        argument.numbers_ = StridedNumbers::of_doubles(argument.list_);
    }
    return argument;
}

StridedNumbers NumbersArgument::numbers_for(std::optional<std::uint64_t> count) const {
    if (buffer_ && count)
        if (auto raw = buffer_->as_raw_doubles(*count)) return *raw;
    return numbers_;
}

Array array_from_numbers(const NumbersArgument& midpoints, const NumbersArgument& radii, Shape shape) {
    const auto product = checked_product(shape);
    const StridedNumbers mids = midpoints.numbers_for(product), rads = radii.numbers_for(product);
    if (mids.size() != rads.size()) throw value_error("midpoints and radii must have the same length");
    Array flat = parts_from_numbers(mids, rads);
    if (!product || *product != flat.size())
        throw value_error("midpoints length " + std::to_string(flat.size()) + " != product of shape " +
                          exact_product_text(shape));
    return flat.with_shape(std::move(shape));
}

}  // namespace boundwise::py
