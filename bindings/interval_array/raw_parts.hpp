// Midpoints, radii and shape as given by from_raw_parts and __setstate__.
#pragma once

#include <vector>

#include "boundwise/array/array.hpp"

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

}  // namespace boundwise::py
