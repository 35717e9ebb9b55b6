// The elementary functions as array operations: an element kernel (exp, ln,
// sqrt, sin, cos, tan) or an element rule each, run through the unary dispatch (calling
// thread or pool chunks).
#include "boundwise/elementwise/functions.hpp"
#include "element_map.hpp"
#include "boundwise/elementwise/rules.hpp"

namespace boundwise {

Result<Array> elementary(const Array& a, Elementary f) {
    using namespace elementwise;
    switch (f) {
        case Elementary::Exp: return map_kernel(a, &ElementKernels::exp, Dispatch::Pool);
        case Elementary::Ln: return map_kernel(a, &ElementKernels::ln, Dispatch::Pool);
        case Elementary::Log2: return map_elements(a, log2_rule, Dispatch::Pool);
        case Elementary::Log10: return map_elements(a, log10_rule, Dispatch::Pool);
        case Elementary::Sqrt: return map_kernel(a, &ElementKernels::sqrt, Dispatch::Pool);
        case Elementary::Sin: return map_kernel(a, &ElementKernels::sin, Dispatch::Pool);
        case Elementary::Cos: return map_kernel(a, &ElementKernels::cos, Dispatch::Pool);
        case Elementary::Tan: return map_kernel(a, &ElementKernels::tan, Dispatch::Pool);
    }
    return {};
}

}  // namespace boundwise
