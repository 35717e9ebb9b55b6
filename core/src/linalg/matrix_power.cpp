// matrix_power by repeated squaring.
#include "boundwise/linalg/matrix_power.hpp"

#include <limits>
#include <string>

#include "boundwise/create/constructors.hpp"
#include "boundwise/error.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/linalg/solve.hpp"

namespace boundwise {

Result<Array> matrix_power(const Array& a, std::int64_t n) {
    if (a.ndim() != 2 || a.shape()[0] != a.shape()[1]) throw value_error("matrix_power requires a square matrix");
    const std::uint64_t k = a.shape()[0];
    if (n == 1) return a;
    if (n == 0) return eye(k, k, 0);
    if (n < 0) {
        if (n == std::numeric_limits<std::int64_t>::min())
            throw value_error("matrix_power: exponent " + std::to_string(n) +
                              " is out of range (its negation does not fit in a signed 64-bit integer)");
        Result<Array> inverse = inv(a, SolveMethod::Gauss);
        if (inverse.flags != Status::None) return inverse;
        return matrix_power(inverse.value, -n);
    }
    // The accumulated power multiplies from the left; the square of the last
    // pass would not be used and is not formed.
    Array result = eye(k, k, 0);
    Array square = a;
    for (std::uint64_t e = static_cast<std::uint64_t>(n);; e /= 2) {
        if (e % 2) result = interval_matmul(result, square);
        if (e < 2) break;
        square = interval_matmul(square, square);
    }
    return result;
}

}  // namespace boundwise
