#include "boundwise/reduce/predicates.hpp"

#include <cmath>
#include <vector>

#include "boundwise/interval/rounding.hpp"
#include "boundwise/reduce/lanes.hpp"

namespace boundwise {

namespace {

bool is_zero(const Array& a, std::uint64_t i) { return a.mid()[i] == 0 && a.rad()[i] == 0; }

// The first element for which is_zero(i) equals `wanted`, or n.
std::uint64_t find_first(const Array& a, bool wanted) {
    std::uint64_t i = 0;
    while (i < a.size() && is_zero(a, i) != wanted) ++i;
    return i;
}

// Per lane: whether some element is (for `all`, none is) exactly zero.
BoolMask lane_flags(const Array& a, std::uint64_t axis, bool all) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    std::vector<std::uint8_t> flags(layout.lanes());
    struct Flag {
        bool holds;
    };
    reduce_lanes<Flag>(
        layout, [&](Flag& f, std::uint64_t) { f.holds = all; },
        [&](Flag& f, std::uint64_t i, std::uint64_t) {
            if (all) f.holds = f.holds && !is_zero(a, i);
            else f.holds = f.holds || !is_zero(a, i);
        },
        [&](Flag& f, std::uint64_t lane) { flags[lane] = f.holds; });
    return BoolMask(std::move(flags));
}

}  // namespace

bool all_nonzero(const Array& a) { return find_first(a, true) == a.size(); }
bool any_nonzero(const Array& a) { return find_first(a, false) != a.size(); }
BoolMask all_nonzero(const Array& a, std::uint64_t axis) { return lane_flags(a, axis, true); }
BoolMask any_nonzero(const Array& a, std::uint64_t axis) { return lane_flags(a, axis, false); }

double max_relative_error(const Array& a) {
    double worst = 0.0;
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i) {
        const double m = a.mid()[i];
        const double r = a.rad()[i];
        if (std::isnan(m) || std::isnan(r)) return kInfinity;
        if (r == 0) continue;
        const double ratio = r / std::fabs(m);  // +inf for m = 0
        if (std::isnan(ratio) || ratio == kInfinity) return kInfinity;
        if (ratio > worst) worst = ratio;
    }
    return worst;
}

double max_radius(const Array& a) {
    double widest = 0.0;
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i) {
        if (std::isnan(a.mid()[i]) || std::isnan(a.rad()[i])) return kInfinity;
        if (a.rad()[i] > widest) widest = a.rad()[i];
    }
    return widest;
}

bool is_exact(const Array& a) {
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i)
        if (a.rad()[i] != 0 || std::isnan(a.mid()[i])) return false;
    return true;
}

}  // namespace boundwise
