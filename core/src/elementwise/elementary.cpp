// The elementary functions as array operations: one element rule each, run
// through the unary dispatch (calling thread or pool chunks).
#include "boundwise/elementwise/functions.hpp"
#include "element_map.hpp"
#include "elementary_rules.hpp"

namespace boundwise {

Result<Array> elementary(const Array& a, Elementary f) {
    using namespace elementwise;
    switch (f) {
        case Elementary::Exp: return map_elements(a, exp_rule, Dispatch::Pool);
        case Elementary::Ln: return map_elements(a, ln_rule, Dispatch::Pool);
        case Elementary::Log2: return map_elements(a, log2_rule, Dispatch::Pool);
        case Elementary::Log10: return map_elements(a, log10_rule, Dispatch::Pool);
        case Elementary::Sqrt: return map_elements(a, sqrt_rule, Dispatch::Pool);
        case Elementary::Sin: return map_elements(a, sin_rule, Dispatch::Pool);
        case Elementary::Cos: return map_elements(a, cos_rule, Dispatch::Pool);
        case Elementary::Tan: return map_elements(a, tan_rule, Dispatch::Pool);
    }
    return {};
}

}  // namespace boundwise
