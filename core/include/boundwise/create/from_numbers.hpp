// Arrays from blocks of machine numbers laid out in memory with byte strides:
// what a Python buffer (a NumPy array, array.array, memoryview) describes. The
// binding layer reads the description; the copy loops live here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "boundwise/array/array.hpp"

namespace boundwise {

enum class NumberKind : std::uint8_t { Bool, Signed, Unsigned, Float };

// One element: its kind, its size in bytes and whether its bytes are in the
// opposite order of this machine's. Floats are 2 (binary16), 4, 8 bytes or the
// size of the platform's long double (native order only); integers 1 to 8.
struct NumberFormat {
    NumberKind kind;
    std::uint8_t size;
    bool swap_bytes = false;
};

// Whether `format` is one the loops below can read.
bool is_readable(const NumberFormat& format);

// An n-dimensional block of numbers, element (i0, i1, ...) at
// data + i0 * strides[0] + i1 * strides[1] + ... (strides in bytes, any sign),
// read in row-major order of `shape`.
struct StridedNumbers {
    const std::byte* data = nullptr;
    NumberFormat format{NumberKind::Float, 8};
    Shape shape;
    std::vector<std::int64_t> strides;

    std::uint64_t size() const;
    // A contiguous run of doubles, as a list conversion produces.
    static StridedNumbers of_doubles(const std::vector<double>& values);
};

// The exact points of `numbers` with radius `radius`, in the shape of `numbers`.
// Every float, and every integer of at most 32 bits, is a double exactly; an
// integer of 64 bits above 2^53 or a long double that is not a double becomes
// its nearest double with the radius widened (upward) by the difference, and a
// long double beyond the double range the entire real line.
Array points_from_numbers(const StridedNumbers& numbers, double radius);

// The flat array holding exactly `midpoints` and `radii` (same size, checked by
// the caller). Numbers that are not doubles are enclosed as above: a midpoint's
// rounding difference joins its radius, a radius is rounded upward.
// ValueError "radii must be non-negative, got <r>" names the first negative
// radius in row-major order; NaN radii pass.
Array parts_from_numbers(const StridedNumbers& midpoints, const StridedNumbers& radii);

}  // namespace boundwise
