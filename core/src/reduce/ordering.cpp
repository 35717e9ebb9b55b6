#include "boundwise/reduce/ordering.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <memory>
#include <numeric>
#include <utility>

namespace boundwise {

namespace {

// An unsigned key whose order is the numeric order of doubles, with -0 equal
// to +0 and every NaN last: negative doubles have all bits flipped, the
// others only the sign bit.
std::uint64_t order_key(double x) {
    if (std::isnan(x)) return UINT64_MAX;
    const std::uint64_t b = std::bit_cast<std::uint64_t>(x + 0.0);  // -0 + 0 is +0
    return (b >> 63) ? ~b : b | (std::uint64_t{1} << 63);
}

// Least-significant-digit radix sort: stable passes over 11-bit digits,
// radius keys first, midpoint keys last, so the last pass orders by midpoint
// and earlier passes break its ties by radius, then by input position.
// Digits that are equal in every key are skipped (constant radii cost nothing).
constexpr unsigned kDigitBits = 11;
constexpr unsigned kDigits = (64 + kDigitBits - 1) / kDigitBits;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
using Histograms = std::array<std::array<std::uint64_t, kBuckets>, kDigits>;

unsigned digit(std::uint64_t key, unsigned d) { return static_cast<unsigned>(key >> (d * kDigitBits)) & (kBuckets - 1); }

void count_digits(const std::vector<std::uint64_t>& keys, Histograms& h) {
    for (auto& counts : h) counts.fill(0);
    for (std::uint64_t key : keys)
        for (unsigned d = 0; d < kDigits; ++d) ++h[d][digit(key, d)];
}

// Sorts (keys, order) by the non-trivial digits, stably; `spare` buffers are
// scratch of the same size. Returns whether anything moved.
bool radix_passes(std::vector<std::uint64_t>& keys, std::vector<std::uint64_t>& order,
                  std::vector<std::uint64_t>& spare_keys, std::vector<std::uint64_t>& spare_order) {
    const auto histograms = std::make_unique<Histograms>();
    Histograms& h = *histograms;
    count_digits(keys, h);
    const std::uint64_t n = keys.size();
    bool moved = false;
    for (unsigned d = 0; d < kDigits; ++d) {
        std::array<std::uint64_t, kBuckets>& counts = h[d];
        if (counts[digit(keys[0], d)] == n) continue;
        std::uint64_t offset = 0;
        for (std::uint64_t& c : counts) offset += std::exchange(c, offset);
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::uint64_t at = counts[digit(keys[i], d)]++;
            spare_keys[at] = keys[i];
            spare_order[at] = order[i];
        }
        keys.swap(spare_keys);
        order.swap(spare_order);
        moved = true;
    }
    return moved;
}

// Below this size a comparison sort on the keys is cheaper than the passes.
constexpr std::uint64_t kRadixFrom = 256;

}  // namespace

std::vector<std::uint64_t> sort_order(const Array& a) {
    const std::uint64_t n = a.size();
    std::vector<std::uint64_t> order(n);
    std::iota(order.begin(), order.end(), std::uint64_t{0});
    std::vector<std::uint64_t> mid_keys(n), rad_keys(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        mid_keys[i] = order_key(a.mid()[i]);
        rad_keys[i] = order_key(a.rad()[i]);
    }
    if (n < kRadixFrom) {
        std::stable_sort(order.begin(), order.end(), [&](std::uint64_t x, std::uint64_t y) {
            return mid_keys[x] != mid_keys[y] ? mid_keys[x] < mid_keys[y] : rad_keys[x] < rad_keys[y];
        });
        return order;
    }
    std::vector<std::uint64_t> spare_keys(n), spare_order(n);
    if (radix_passes(rad_keys, order, spare_keys, spare_order))
        for (std::uint64_t i = 0; i < n; ++i) rad_keys[i] = mid_keys[order[i]];  // midpoint keys in the new order
    else
        rad_keys.swap(mid_keys);
    radix_passes(rad_keys, order, spare_keys, spare_order);
    return order;
}

Array sorted(const Array& a) {
    const std::vector<std::uint64_t> order = sort_order(a);
    Array out = Array::uninitialized(a.shape());
    for (std::uint64_t k = 0; k < order.size(); ++k) {
        out.mid_mut()[k] = a.mid()[order[k]];
        out.rad_mut()[k] = a.rad()[order[k]];
    }
    return out;
}

std::vector<std::vector<std::uint64_t>> nonzero(const Array& a) {
    const Shape& shape = a.shape();
    std::vector<std::vector<std::uint64_t>> coords(shape.size());
    std::vector<std::uint64_t> at(shape.size(), 0);  // the multi-index of element i
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i) {
        if (!(a.mid()[i] == 0 && a.rad()[i] == 0))
            for (std::size_t d = 0; d < shape.size(); ++d) coords[d].push_back(at[d]);
        for (std::size_t d = shape.size(); d-- > 0;) {
            if (++at[d] < shape[d]) break;
            at[d] = 0;
        }
    }
    return coords;
}

}  // namespace boundwise
