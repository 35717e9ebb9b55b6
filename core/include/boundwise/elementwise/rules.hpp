// Element rules: (midpoint, radius) of one operand element to the enclosing
// result element, one element at a time. The kernels of the element-function
// family (kernels/element_functions.hpp) reproduce the rules of abs, the
// integer roundings, sign, nan_to_num, sqrt, maximum, minimum, clip and
// integer powers bit for bit and fall back on
// them outside their fast lanes (exp and ln have their rules with the
// kernels, kernels/exp_log_lanes.hpp). Rules set Status::DomainError for an element
// without any point in the function's domain.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise::elementwise {

Interval absolute_rule(double m, double r, Status& flags) noexcept;
Interval floor_rule(double m, double r, Status& flags) noexcept;
Interval ceil_rule(double m, double r, Status& flags) noexcept;
Interval trunc_rule(double m, double r, Status& flags) noexcept;
Interval round_half_even_rule(double m, double r, Status& flags) noexcept;
Interval sign_rule(double m, double r, Status& flags) noexcept;
Interval nan_to_num_rule(double m, double r, Status& flags) noexcept;
// The hull of the larger (smaller) ends of a pair of elements.
Interval maximum_rule(double am, double ar, double bm, double br, Status& flags) noexcept;
Interval minimum_rule(double am, double ar, double bm, double br, Status& flags) noexcept;
// Both ends clamped to [a_min, a_max] (a_min <= a_max, either may be infinite).
Interval clip_rule(double m, double r, double a_min, double a_max) noexcept;
// x^p for an exact exponent p.
Interval power_rule(double m, double r, double p, Status& flags) noexcept;

Interval log2_rule(double m, double r, Status& flags) noexcept;
Interval log10_rule(double m, double r, Status& flags) noexcept;
Interval sqrt_rule(double m, double r, Status& flags) noexcept;
Interval sin_rule(double m, double r, Status& flags) noexcept;
Interval cos_rule(double m, double r, Status& flags) noexcept;
Interval tan_rule(double m, double r, Status& flags) noexcept;

}  // namespace boundwise::elementwise
