// Midpoints, radii and shape as given by from_raw_parts and __setstate__.
#pragma once

#include <optional>
#include <vector>

#include "boundwise/array/array.hpp"
#include "support/buffer.hpp"

namespace boundwise::py {

struct RawParts {
    Shape shape;
    std::vector<double> midpoints;
    std::vector<double> radii;
};

// Checks, in order, equal lengths, non-negative radii (NaN passes) and the
// element count, with ValueErrors users can act on; then builds the array
// holding exactly these parts.
Array array_from_raw_parts(RawParts parts);

// The midpoints or the radii argument of from_raw_parts: a buffer of numbers
// (read in place, without a Python float per element) or a sequence of floats.
class NumbersArgument {
public:
    // TypeError for a sequence with an item that is not a real number or a
    // buffer of another format.
    static NumbersArgument read(PyObject* object);

    std::uint64_t size() const { return numbers_.size(); }
    // The numbers, or the doubles whose bytes a byte buffer holds when it is
    // exactly 8 * count bytes long (a protocol 5 pickle's buffers come back as
    // bytes): as numbers such a buffer could not match the shape anyway.
    StridedNumbers numbers_for(std::optional<std::uint64_t> count) const;

private:
    std::optional<HeldBuffer> buffer_;
    std::vector<double> list_;
    StridedNumbers numbers_;
};

// from_raw_parts over the two arguments: the checks and messages of
// array_from_raw_parts, in the same order.
Array array_from_numbers(const NumbersArgument& midpoints, const NumbersArgument& radii, Shape shape);

}  // namespace boundwise::py
