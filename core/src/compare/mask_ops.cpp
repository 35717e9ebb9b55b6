#include "boundwise/compare/mask_ops.hpp"

#include <emmintrin.h>

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
    // Bytes are 0 or 1: PSADBW against zero adds each 8 bytes into a 64-bit
    // lane, so the lanes hold exact counts without a fold; four accumulators
    // keep the adds independent.
    const __m128i zero = _mm_setzero_si128();
    const auto block_sum = [&](std::size_t at) {
        return _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), zero);
    };
    __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        s0 = _mm_add_epi64(s0, block_sum(i));
        s1 = _mm_add_epi64(s1, block_sum(i + 16));
        s2 = _mm_add_epi64(s2, block_sum(i + 32));
        s3 = _mm_add_epi64(s3, block_sum(i + 48));
    }
    const __m128i sum = _mm_add_epi64(_mm_add_epi64(s0, s1), _mm_add_epi64(s2, s3));
    std::uint64_t total = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sum)) +
                          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum)));
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
