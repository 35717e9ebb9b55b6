// Shapes: dimension lists, checked element counts, row-major strides, text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace boundwise {

using Shape = std::vector<std::uint64_t>;

// Deepest nesting accepted anywhere a shape is formed; keeps every recursion
// over dimensions (conversion, text, tolist) far from the stack limit.
inline constexpr std::size_t kMaxDims = 64;

// ValueError "maximum supported dimension for an array is 64, found N" when ndim > kMaxDims.
void check_ndim(std::size_t ndim);

// Product of the dimensions (1 for none), or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> checked_product(std::span<const std::uint64_t> dims);

// The exact product of the dimensions in decimal, even beyond 64 bits.
std::string exact_product_text(std::span<const std::uint64_t> dims);

// Element count of a shape that must be allocatable. Every size a user asks for
// passes here, so a count above the largest one is the user's ValueError
// "array is too big: N elements, more than the limit of L", never an internal failure.
std::uint64_t element_count(std::span<const std::uint64_t> dims);

Shape row_major_strides(const Shape& shape);

// "[2, 3]"; the empty shape prints "[]".
std::string format_shape(std::span<const std::uint64_t> dims);
std::string format_dims(std::span<const std::int64_t> dims);

}  // namespace boundwise
