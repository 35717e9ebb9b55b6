// Arrays built from numbers: filled, identity-like, ranges and diagonals.
#pragma once

#include <cstdint>
#include <span>

#include "boundwise/array/array.hpp"

namespace boundwise {

// Every element encloses [m - r, m + r] (outward-rounded endpoints converted back).
Array full(Shape shape, double midpoint, double radius);
Array eye(std::uint64_t n, std::uint64_t m, std::int64_t k);
// 1-D -> square matrix with the elements on its diagonal; 2-D -> its main diagonal.
Array diag(const Array& v);
Array diag_of_values(std::span<const double> values);
Array linspace(double start, double stop, std::uint64_t num, bool endpoint);
Array arange(double start, double stop, double step);

}  // namespace boundwise
