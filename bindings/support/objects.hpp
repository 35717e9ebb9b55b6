// Python objects from plain values (new references).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "boundwise/array/shape.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

// The module's import name, as pickles and qualified class names spell it.
inline constexpr std::string_view kModuleName = "boundwise._boundwise";

Ref new_float(double x);
Ref new_u64(std::uint64_t x);
Ref new_list_of_doubles(const double* values, std::uint64_t n);
Ref new_list_of_ints(std::span<const std::uint64_t> values);
Ref new_tuple_of_dims(const Shape& dims);
Ref new_list_of_dims(const Shape& dims);
Ref new_pair(double midpoint, double radius);

// Attribute `name` of the imported module (for pickles, which name a
// module-level callable or class).
Ref module_attribute(const char* name);

}  // namespace boundwise::py
