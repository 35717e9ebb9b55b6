// Status flags that travel with a numerical result. Conditions that are not
// errors of the input (a divisor holding zero, a domain error of an element
// function, a singular or indefinite matrix met during a factorisation) are
// recorded here; the binding layer decides, in one place, whether each becomes
// a warning, an exception or nothing.
#pragma once

#include <cstdint>
#include <utility>

namespace boundwise {

enum class Status : std::uint32_t {
    None = 0,
    DividedByZero = 1u << 0,
    DomainError = 1u << 1,
    Overflow = 1u << 2,
    Singular = 1u << 3,
    NotPositiveDefinite = 1u << 4,
    Unverified = 1u << 5,  // a verification method could not prove its enclosure
    NotFinite = 1u << 6,   // a spectral enclosure holds a value or bound that is not finite
    ComplexEigenvalues = 1u << 7,
    Defective = 1u << 8,  // the eigenvector matrix could not be proven invertible and well separating
};

constexpr Status operator|(Status a, Status b) {
    return static_cast<Status>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr Status& operator|=(Status& a, Status b) { return a = a | b; }
constexpr bool has(Status flags, Status flag) {
    return (static_cast<std::uint32_t>(flags) & static_cast<std::uint32_t>(flag)) != 0;
}

// Where a factorisation stopped: the pivot's index and the bound that failed
// its test (for NotPositiveDefinite, the lower end of the diagonal pivot).
struct Breakdown {
    std::uint64_t pivot = 0;
    double bound = 0.0;
};

// A value and the conditions met while computing it.
template <class T>
struct Result {
    T value;
    Status flags = Status::None;

    Result() = default;
    Result(T v, Status f = Status::None) : value(std::move(v)), flags(f) {}  // NOLINT(google-explicit-constructor)
};

}  // namespace boundwise
