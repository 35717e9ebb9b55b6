#include "boundwise/create/from_numbers.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "boundwise/error.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/text/format.hpp"

namespace boundwise {

namespace {

template <class Unsigned>
Unsigned load_bits(const std::byte* p, bool swap) {
    Unsigned bits;
    std::memcpy(&bits, p, sizeof bits);  // buffers need not be aligned
    if (swap) {
        if constexpr (sizeof(Unsigned) == 2) bits = __builtin_bswap16(bits);
        else if constexpr (sizeof(Unsigned) == 4) bits = __builtin_bswap32(bits);
        else if constexpr (sizeof(Unsigned) == 8) bits = __builtin_bswap64(bits);
    }
    return bits;
}

template <std::size_t N>
using UnsignedOfSize = std::conditional_t<
    N == 1, std::uint8_t,
    std::conditional_t<N == 2, std::uint16_t, std::conditional_t<N == 4, std::uint32_t, std::uint64_t>>>;

// binary16 to double, exactly; a NaN keeps its payload in the top fraction bits.
double half_to_double(std::uint16_t h) {
    const std::uint64_t sign = static_cast<std::uint64_t>(h >> 15) << 63;
    const std::uint32_t exponent = (h >> 10) & 0x1f, fraction = h & 0x3ff;
    if (exponent == 0) {
        const double magnitude = fraction * 0x1p-24;  // subnormal or zero, exact
        return sign ? -magnitude : magnitude;
    }
    const std::uint64_t e = exponent == 0x1f ? 0x7ff : exponent - 15 + 1023;
    return std::bit_cast<double>(sign | (e << 52) | (std::uint64_t{fraction} << 42));
}

// Readers of one element type. Each gives the nearest double, whether that can
// differ from the value, an enclosure of the value around a radius, and the
// smallest double not below the value.
template <class T, bool Swap>
struct IntegerReader {
    static constexpr bool kAlwaysExact = sizeof(T) <= 4;
    static T load(const std::byte* p) {
        return static_cast<T>(load_bits<UnsignedOfSize<sizeof(T)>>(p, Swap));
    }
    static double nearest(T x) { return static_cast<double>(x); }  // rounds to nearest
    static bool negative(T x) {
        if constexpr (std::is_signed_v<T>) return x < 0;
        else return false;
    }
    // |x - m| is below 2^11 and so a double exactly; 128-bit integers hold both
    // x and its nearest double (up to 2^64) exactly.
    static Interval enclose(T x, double radius) {
        const double m = nearest(x);
        const __int128 d = static_cast<__int128>(x) - static_cast<__int128>(m);
        return {m, d == 0 ? radius : add_up(radius, static_cast<double>(d < 0 ? -d : d))};
    }
    static double above(T x) {
        const double m = nearest(x);
        return static_cast<__int128>(m) < static_cast<__int128>(x) ? succ(m) : m;
    }
};

struct BoolReader {
    static constexpr bool kAlwaysExact = true;
    static std::uint8_t load(const std::byte* p) { return static_cast<std::uint8_t>(*p); }
    static double nearest(std::uint8_t x) { return x != 0 ? 1.0 : 0.0; }
    static bool negative(std::uint8_t) { return false; }
};

template <class T, bool Swap>
struct FloatReader {
    static constexpr bool kAlwaysExact = true;  // binary16, binary32 and binary64 are doubles exactly
    static T load(const std::byte* p) {
        if constexpr (std::is_same_v<T, std::uint16_t>) return load_bits<std::uint16_t>(p, Swap);
        else return std::bit_cast<T>(load_bits<UnsignedOfSize<sizeof(T)>>(p, Swap));
    }
    static double nearest(T x) {
        if constexpr (std::is_same_v<T, std::uint16_t>) return half_to_double(x);
        else return static_cast<double>(x);
    }
    static bool negative(T x) { return nearest(x) < 0; }
};

struct LongDoubleReader {
    static constexpr bool kAlwaysExact = false;
    static long double load(const std::byte* p) {
        long double x;
        std::memcpy(&x, p, sizeof x);
        return x;
    }
    static double nearest(long double x) { return static_cast<double>(x); }
    static bool negative(long double x) { return x < 0; }
    // Up to 2^64 significant bits round to 53: the difference x - m is exact in
    // long double (the rounding error of a narrower format is representable in
    // the wider one) and rounded upward to a double here.
    static Interval enclose(long double x, double radius) {
        const double m = nearest(x);
        if (std::isnan(x) || static_cast<long double>(m) == x) return {m, radius};
        if (std::isinf(m)) return {std::nan(""), kInfinity};  // beyond the double range
        const long double d = std::fabs(x - static_cast<long double>(m));
        double e = static_cast<double>(d);
        if (static_cast<long double>(e) < d) e = succ(e);
        return {m, add_up(radius, e)};
    }
    static double above(long double x) {
        const double m = nearest(x);
        return static_cast<long double>(m) < x ? succ(m) : m;
    }
};

template <class Reader>
struct Tag {
    using type = Reader;
};

template <bool Swap, class Visit>
void dispatch_order(const NumberFormat& f, Visit&& visit) {
    switch (f.kind) {
        case NumberKind::Bool: return visit(Tag<BoolReader>{});
        case NumberKind::Signed:
            switch (f.size) {
                case 1: return visit(Tag<IntegerReader<std::int8_t, Swap>>{});
                case 2: return visit(Tag<IntegerReader<std::int16_t, Swap>>{});
                case 4: return visit(Tag<IntegerReader<std::int32_t, Swap>>{});
                case 8: return visit(Tag<IntegerReader<std::int64_t, Swap>>{});
            }
            break;
        case NumberKind::Unsigned:
            switch (f.size) {
                case 1: return visit(Tag<IntegerReader<std::uint8_t, Swap>>{});
                case 2: return visit(Tag<IntegerReader<std::uint16_t, Swap>>{});
                case 4: return visit(Tag<IntegerReader<std::uint32_t, Swap>>{});
                case 8: return visit(Tag<IntegerReader<std::uint64_t, Swap>>{});
            }
            break;
        case NumberKind::Float:
            switch (f.size) {
                case 2: return visit(Tag<FloatReader<std::uint16_t, Swap>>{});
                case 4: return visit(Tag<FloatReader<float, Swap>>{});
                case 8: return visit(Tag<FloatReader<double, Swap>>{});
            }
            if constexpr (!Swap)
                if (f.size == sizeof(long double)) return visit(Tag<LongDoubleReader>{});
            break;
    }
    throw InternalFailure("unreadable number format");
}

template <class Visit>
void dispatch(const NumberFormat& f, Visit&& visit) {
    if (f.swap_bytes) dispatch_order<true>(f, visit);
    else dispatch_order<false>(f, visit);
}

bool is_row_major_contiguous(const StridedNumbers& s) {
    std::int64_t expected = s.format.size;
    for (std::size_t k = s.shape.size(); k-- > 0;) {
        if (s.shape[k] == 1) continue;  // the stride of a length-1 axis is never used
        if (s.strides[k] != expected) return false;
        expected *= static_cast<std::int64_t>(s.shape[k]);
    }
    return true;
}

// Calls row(first, stride, count, offset) for each run of elements along the
// last axis, in row-major order (offset: the flat index of `first`), the whole
// block as one run when it is contiguous. Stops when row returns false.
template <class Row>
void for_each_row(const StridedNumbers& s, Row&& row) {
    const std::size_t nd = s.shape.size();
    const std::uint64_t n = s.size();
    if (n == 0) return;
    if (nd == 0 || is_row_major_contiguous(s)) {
        row(s.data, static_cast<std::int64_t>(s.format.size), n, std::uint64_t{0});
        return;
    }
    const std::uint64_t inner = s.shape[nd - 1];
    std::vector<std::uint64_t> index(nd - 1, 0);
    const std::byte* first = s.data;
    for (std::uint64_t offset = 0; offset < n; offset += inner) {
        if (!row(first, s.strides[nd - 1], inner, offset)) return;
        for (std::size_t k = nd - 1; k-- > 0;) {
            if (++index[k] < s.shape[k]) {
                first += s.strides[k];
                break;
            }
            first -= s.strides[k] * static_cast<std::int64_t>(s.shape[k] - 1);
            index[k] = 0;
        }
    }
}

template <class Reader>
constexpr bool kIsNativeDouble = std::is_same_v<Reader, FloatReader<double, false>>;

// Midpoints from `numbers` into mid; `rad` holds each element's radius so far
// and is widened where a number is not a double.
template <class Reader>
void read_midpoints(const StridedNumbers& numbers, double* mid, double* rad) {
    for_each_row(numbers, [&](const std::byte* p, std::int64_t stride, std::uint64_t count, std::uint64_t at) {
        if constexpr (kIsNativeDouble<Reader>) {
            if (stride == 8) {
                std::memcpy(mid + at, p, count * sizeof(double));
                return true;
            }
        }
        for (std::uint64_t i = 0; i < count; ++i, p += stride) {
            const auto x = Reader::load(p);
            if constexpr (Reader::kAlwaysExact) {
                mid[at + i] = Reader::nearest(x);
            } else {
                const Interval e = Reader::enclose(x, rad[at + i]);
                mid[at + i] = e.mid;
                rad[at + i] = e.rad;
            }
        }
        return true;
    });
}

// Radii rounded upward into rad; the first negative one (row-major) is returned
// as its double and stops the reading.
template <class Reader>
std::optional<double> read_radii(const StridedNumbers& numbers, double* rad) {
    std::optional<double> negative;
    for_each_row(numbers, [&](const std::byte* p, std::int64_t stride, std::uint64_t count, std::uint64_t at) {
        // Blocks small enough to be scanned while they are still in cache.
        constexpr std::uint64_t kBlock = 2048;
        for (std::uint64_t start = 0; start < count; start += kBlock) {
            const std::uint64_t m = std::min(kBlock, count - start);
            double* out = rad + at + start;
            const std::byte* q = p + static_cast<std::int64_t>(start) * stride;
            bool any_negative = false;
            if constexpr (kIsNativeDouble<Reader>) {
                if (stride == 8) {
                    std::memcpy(out, q, m * sizeof(double));
                    for (std::uint64_t i = 0; i < m; ++i) any_negative |= out[i] < 0;
                }
            }
            if (!kIsNativeDouble<Reader> || stride != 8) {
                for (std::uint64_t i = 0; i < m; ++i, q += stride) {
                    const auto x = Reader::load(q);
                    any_negative |= Reader::negative(x);
                    if constexpr (Reader::kAlwaysExact) out[i] = Reader::nearest(x);
                    else out[i] = Reader::above(x);
                }
            }
            if (any_negative) {
                const std::byte* r = p + static_cast<std::int64_t>(start) * stride;
                for (std::uint64_t i = 0; i < m; ++i, r += stride) {
                    const auto x = Reader::load(r);
                    if (Reader::negative(x)) {
                        negative = Reader::nearest(x);
                        return false;
                    }
                }
            }
        }
        return true;
    });
    return negative;
}

}  // namespace

bool is_readable(const NumberFormat& f) {
    switch (f.kind) {
        case NumberKind::Bool: return f.size == 1;
        case NumberKind::Signed:
        case NumberKind::Unsigned: return f.size == 1 || f.size == 2 || f.size == 4 || f.size == 8;
        case NumberKind::Float:
            return f.size == 2 || f.size == 4 || f.size == 8 || (!f.swap_bytes && f.size == sizeof(long double));
    }
    return false;
}

std::uint64_t StridedNumbers::size() const {
    std::uint64_t n = 1;
    for (std::uint64_t d : shape) n *= d;  // a buffer's shape describes memory that exists
    return n;
}

StridedNumbers StridedNumbers::of_doubles(const std::vector<double>& values) {
    return {reinterpret_cast<const std::byte*>(values.data()), {NumberKind::Float, 8}, {values.size()}, {8}};
}

Array points_from_numbers(const StridedNumbers& numbers, double radius) {
    check_internal(is_readable(numbers.format), "unreadable number format");
    Array a = Array::uninitialized(numbers.shape);
    if (a.size() == 0) return a;
    std::fill_n(a.rad_mut(), a.size(), radius);
    dispatch(numbers.format, [&]<class R>(Tag<R>) { read_midpoints<R>(numbers, a.mid_mut(), a.rad_mut()); });
    return a;
}

Array parts_from_numbers(const StridedNumbers& midpoints, const StridedNumbers& radii) {
    check_internal(is_readable(midpoints.format) && is_readable(radii.format), "unreadable number format");
    check_internal(midpoints.size() == radii.size(), "midpoints and radii must have the same length");
    Array a = Array::uninitialized({midpoints.size()});
    if (a.size() == 0) return a;
    std::optional<double> negative;
    dispatch(radii.format, [&]<class R>(Tag<R>) { negative = read_radii<R>(radii, a.rad_mut()); });
    if (negative) throw value_error("radii must be non-negative, got " + format_number(*negative));
    dispatch(midpoints.format, [&]<class R>(Tag<R>) { read_midpoints<R>(midpoints, a.mid_mut(), a.rad_mut()); });
    return a;
}

}  // namespace boundwise
