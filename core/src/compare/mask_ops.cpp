#include "boundwise/compare/mask_ops.hpp"

#include <cstddef>

#include "boundwise/error.hpp"

namespace boundwise {

namespace {

// Bytes per block: a fixed trip count that the compiler vectorises whole
// (two 16-byte or one 32-byte operation), leaving only the tail to a plain loop.
constexpr std::size_t kMaskBlock = 32;

template <class Op>
void combine(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b, std::uint8_t* __restrict out,
             std::size_t n, Op op) {
    std::size_t i = 0;
    for (; i + kMaskBlock <= n; i += kMaskBlock)
        for (std::size_t j = 0; j < kMaskBlock; ++j) out[i + j] = op(a[i + j], b[i + j]);
    for (; i < n; ++i) out[i] = op(a[i], b[i]);
}

template <class Op>
void combine_with(const std::uint8_t* __restrict a, std::uint8_t x, std::uint8_t* __restrict out, std::size_t n,
                  Op op) {
    std::size_t i = 0;
    for (; i + kMaskBlock <= n; i += kMaskBlock)
        for (std::size_t j = 0; j < kMaskBlock; ++j) out[i + j] = op(a[i + j], x);
    for (; i < n; ++i) out[i] = op(a[i], x);
}

// Bytes are 0 or 1, so the bitwise operators are the logical ones.
template <class Fn>
void with_logical_op(LogicalOp op, Fn&& fn) {
    switch (op) {
        case LogicalOp::And: return fn([](std::uint8_t p, std::uint8_t q) -> std::uint8_t { return p & q; });
        case LogicalOp::Or: return fn([](std::uint8_t p, std::uint8_t q) -> std::uint8_t { return p | q; });
        case LogicalOp::Xor: return fn([](std::uint8_t p, std::uint8_t q) -> std::uint8_t { return p ^ q; });
    }
    throw InternalFailure("invalid logical operator");
}

// Whether some byte of the mask is `value` (0 or 1); a byte matches when
// byte ^ miss is 1, so one loop serves any() and all().
bool contains(const BoolMask& a, std::uint8_t value) {
    const std::uint8_t* p = a.data();
    const std::size_t n = a.size();
    const std::uint8_t miss = value ^ 1;
    std::size_t i = 0;
    for (; i + kMaskBlock <= n; i += kMaskBlock) {
        std::uint8_t seen = 0;
        for (std::size_t j = 0; j < kMaskBlock; ++j) seen |= p[i + j] ^ miss;
        if (seen) return true;
    }
    for (; i < n; ++i)
        if (p[i] ^ miss) return true;
    return false;
}

}  // namespace

BoolMask logical(const BoolMask& a, const BoolMask& b, LogicalOp op) {
    if (a.size() != b.size()) throw value_error("operands could not be broadcast together (boolean arrays must match)");
    return BoolMask::build(a.size(), [&](std::uint8_t* out) {
        with_logical_op(op, [&](auto f) { combine(a.data(), b.data(), out, a.size(), f); });
    });
}

BoolMask logical(const BoolMask& a, bool x, LogicalOp op) {
    return BoolMask::build(a.size(), [&](std::uint8_t* out) {
        with_logical_op(op, [&](auto f) { combine_with(a.data(), x ? 1 : 0, out, a.size(), f); });
    });
}

BoolMask invert(const BoolMask& a) { return logical(a, true, LogicalOp::Xor); }

std::uint64_t count_true(const BoolMask& a) {
    const std::uint8_t* p = a.data();
    const std::size_t n = a.size();
    std::uint64_t total = 0;
    std::size_t i = 0;
    // Byte lanes sum at most 255 blocks of ones before they are folded into
    // the total, so they never wrap.
    constexpr std::size_t kBlocksPerFold = 255;
    while (i + kMaskBlock <= n) {
        std::uint8_t lanes[kMaskBlock] = {};
        for (std::size_t b = 0; b < kBlocksPerFold && i + kMaskBlock <= n; ++b, i += kMaskBlock)
            for (std::size_t j = 0; j < kMaskBlock; ++j) lanes[j] += p[i + j];
        for (std::size_t j = 0; j < kMaskBlock; ++j) total += lanes[j];
    }
    for (; i < n; ++i) total += p[i];
    return total;
}

bool any_true(const BoolMask& a) { return contains(a, 1); }

bool all_true(const BoolMask& a) { return !contains(a, 0); }

bool equal(const BoolMask& a, const BoolMask& b) {
    if (a.size() != b.size()) return false;
    const std::uint8_t* p = a.data();
    const std::uint8_t* q = b.data();
    std::size_t i = 0;
    for (; i + kMaskBlock <= a.size(); i += kMaskBlock) {
        std::uint8_t differ = 0;
        for (std::size_t j = 0; j < kMaskBlock; ++j) differ |= p[i + j] ^ q[i + j];
        if (differ) return false;
    }
    for (; i < a.size(); ++i)
        if (p[i] != q[i]) return false;
    return true;
}

BoolMask take_slice(const BoolMask& a, std::int64_t start, std::int64_t step, std::uint64_t count) {
    if (count == 0) return {};
    // The positions are monotone, so the first and the last bound them all.
    const std::int64_t last = start + static_cast<std::int64_t>(count - 1) * step;
    const auto inside = [&](std::int64_t position) {
        return position >= 0 && static_cast<std::uint64_t>(position) < a.size();
    };
    check_internal(inside(start) && inside(last), "mask slice out of range");
    const std::uint8_t* p = a.data() + start;
    return BoolMask::build(count, [&](std::uint8_t* out) {
        for (std::uint64_t i = 0; i < count; ++i) out[i] = p[static_cast<std::int64_t>(i) * step];
    });
}

}  // namespace boundwise
