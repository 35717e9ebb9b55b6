#include "boundwise/text/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "boundwise/interval/endpoints.hpp"

namespace boundwise {

std::string format_number(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    // The shortest round-trip digits come from the scientific form; fixed
    // notation would print every digit of the exact binary value instead
    // (DBL_MAX as 309 significant digits rather than 17 and zeros).
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
    const std::string sci(buffer, result.ptr);  // [-]d[.ddd]e(+|-)xx
    const bool negative = sci[0] == '-';
    const std::size_t first = negative ? 1 : 0;
    const std::size_t e = sci.find('e');
    std::string digits = sci.substr(first, 1);
    if (e > first + 1) digits += sci.substr(first + 2, e - first - 2);
    // Digits before the decimal point.
    const long point = std::strtol(sci.c_str() + e + 1, nullptr, 10) + 1;
    const auto n = static_cast<long>(digits.size());
    std::string text = negative ? "-" : "";
    if (point <= 0) text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    else if (point >= n) text += digits + std::string(static_cast<std::size_t>(point - n), '0');
    else text += digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
    return text;
}

std::string format_scientific(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6e", x);
    std::string text(buffer);
    const auto e = text.find('e');
    const int exponent = std::atoi(text.c_str() + e + 1);
    return text.substr(0, e + 1) + std::to_string(exponent);
}

double max_relative_radius(const Array& a) {
    double worst = 0.0;
    const double* m = a.mid();
    const double* r = a.rad();
    for (std::uint64_t i = 0; i < a.size(); ++i) {
        if (r[i] == 0.0) continue;
        if (m[i] == 0.0 || std::isnan(m[i])) return INFINITY;
        const double ratio = r[i] / std::fabs(m[i]);
        if (ratio > worst) worst = ratio;  // a NaN ratio never replaces the maximum
    }
    return worst;
}

namespace {
std::string element_text(double m, double r) {
    const Endpoints e = to_endpoints(m, r);
    if (e.lo == e.hi) return format_number(e.lo);
    const Interval x = from_endpoints(e.lo, e.hi);
    return format_number(x.mid) + "+/-" + format_number(x.rad);
}

void append_elements(std::string& text, const Array& a, std::uint64_t begin, std::uint64_t end) {
    for (std::uint64_t i = begin; i < end; ++i) {
        if (i > begin) text += ", ";
        text += element_text(a.mid()[i], a.rad()[i]);
    }
}
}  // namespace

std::string to_text(const Array& a) {
    constexpr std::uint64_t kSummaryFrom = 65;
    const bool many_rows = a.ndim() == 2 && a.shape()[0] >= kSummaryFrom;
    if (a.ndim() >= 3 || a.size() >= kSummaryFrom || many_rows)
        return "IntervalArray(shape=" + format_shape(a.shape()) +
               ", max_err=" + format_scientific(max_relative_radius(a)) + ")";
    std::string text = "IntervalArray([";
    if (a.ndim() <= 1) {
        append_elements(text, a, 0, a.size());
    } else {
        const std::uint64_t rows = a.shape()[0], cols = a.shape()[1];
        for (std::uint64_t i = 0; i < rows; ++i) {
            if (i) text += ", ";
            text += "[";
            append_elements(text, a, i * cols, (i + 1) * cols);
            text += "]";
        }
    }
    return text + "])";
}

}  // namespace boundwise
