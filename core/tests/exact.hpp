// Exact arithmetic on dyadic numbers for checking rounding: every double,
// every product of two doubles and every sum of a few of those is k * 2^-kShift
// for an integer k, held here in sign-magnitude form with 32-bit words.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

namespace bwtest {

class Exact {
public:
    // A product is written below as an integer of at most 106 bits times
    // 2^(ex + ey - 106) with ex, ey >= -1073, so its lowest bit is at least
    // 2^-2252; magnitudes stay below 2^2050 (sums of products of doubles), so
    // 2^(kShift + 2050) and the five words an addend spans must fit.
    static constexpr int kShift = 2256;
    static constexpr int kWords = 142;

    Exact() = default;

    // x * 1 for a finite double x.
    static Exact of(double x) { return product(x, 1.0); }

    // x * y exactly, for finite x and y.
    static Exact product(double x, double y) {
        Exact r;
        if (x == 0 || y == 0) return r;
        int ex = 0;
        int ey = 0;
        // x = mx 2^(ex - 53) with mx an integer below 2^53.
        const auto mx = static_cast<std::uint64_t>(std::ldexp(std::fabs(std::frexp(x, &ex)), 53));
        const auto my = static_cast<std::uint64_t>(std::ldexp(std::fabs(std::frexp(y, &ey)), 53));
        r.add_shifted(static_cast<unsigned __int128>(mx) * my, ex + ey - 106 + kShift);  // shift >= 4
        r.negative_ = (x < 0) != (y < 0);
        return r;
    }

    Exact operator-() const {
        Exact r = *this;
        if (!r.is_zero()) r.negative_ = !r.negative_;
        return r;
    }

    friend Exact operator+(const Exact& a, const Exact& b) {
        if (a.negative_ == b.negative_) {
            Exact r = a;
            r.add_magnitude(b);
            return r;
        }
        const int order = compare_magnitude(a, b);
        if (order == 0) return Exact{};
        Exact r = order > 0 ? a : b;
        r.subtract_magnitude(order > 0 ? b : a);
        return r;
    }
    friend Exact operator-(const Exact& a, const Exact& b) { return a + (-b); }

    int sign() const { return is_zero() ? 0 : (negative_ ? -1 : 1); }

    friend int compare(const Exact& a, const Exact& b) { return (a - b).sign(); }
    friend bool operator<(const Exact& a, const Exact& b) { return compare(a, b) < 0; }
    friend bool operator<=(const Exact& a, const Exact& b) { return compare(a, b) <= 0; }
    friend bool operator>=(const Exact& a, const Exact& b) { return compare(a, b) >= 0; }
    friend bool operator==(const Exact& a, const Exact& b) { return compare(a, b) == 0; }

private:
    bool is_zero() const {
        for (std::uint32_t w : words_)
            if (w) return false;
        return true;
    }

    // magnitude += v * 2^shift (shift >= 0).
    void add_shifted(unsigned __int128 v, int shift) {
        Exact term;
        const int word = shift / 32;
        const int bit = shift % 32;
        // v < 2^106 shifted by < 32 bits spans at most five words.
        for (int i = 0; v != 0 || i < 1; ++i) {
            const unsigned __int128 part = (v & 0xFFFFFFFFu) << bit;
            term.words_[word + i] |= static_cast<std::uint32_t>(part);
            if (bit) term.words_[word + i + 1] |= static_cast<std::uint32_t>(part >> 32);
            v >>= 32;
        }
        add_magnitude(term);
    }

    void add_magnitude(const Exact& b) {
        std::uint64_t carry = 0;
        for (int i = 0; i < kWords; ++i) {
            const std::uint64_t s = std::uint64_t{words_[i]} + b.words_[i] + carry;
            words_[i] = static_cast<std::uint32_t>(s);
            carry = s >> 32;
        }
    }

    // |this| -= |b| for |this| >= |b|.
    void subtract_magnitude(const Exact& b) {
        std::int64_t borrow = 0;
        for (int i = 0; i < kWords; ++i) {
            std::int64_t d = std::int64_t{words_[i]} - b.words_[i] - borrow;
            borrow = d < 0;
            if (d < 0) d += std::int64_t{1} << 32;
            words_[i] = static_cast<std::uint32_t>(d);
        }
    }

    static int compare_magnitude(const Exact& a, const Exact& b) {
        for (int i = kWords; i-- > 0;)
            if (a.words_[i] != b.words_[i]) return a.words_[i] < b.words_[i] ? -1 : 1;
        return 0;
    }

    std::array<std::uint32_t, kWords> words_{};
    bool negative_ = false;
};

}  // namespace bwtest
