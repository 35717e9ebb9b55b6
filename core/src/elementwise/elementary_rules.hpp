// Element rules of the elementary functions: (midpoint, radius) of one operand
// element to the enclosing result element. Rules set Status::DomainError for
// an element without any point in the function's domain.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise::elementwise {

Interval exp_rule(double m, double r, Status& flags) noexcept;
Interval ln_rule(double m, double r, Status& flags) noexcept;
Interval log2_rule(double m, double r, Status& flags) noexcept;
Interval log10_rule(double m, double r, Status& flags) noexcept;
Interval sqrt_rule(double m, double r, Status& flags) noexcept;
Interval sin_rule(double m, double r, Status& flags) noexcept;
Interval cos_rule(double m, double r, Status& flags) noexcept;
Interval tan_rule(double m, double r, Status& flags) noexcept;

}  // namespace boundwise::elementwise
