#include "boundwise/layout/indexing.hpp"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>

#include "boundwise/array/storage.hpp"
#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

// ---------------------------------------------------------------------------
// Key resolution
// ---------------------------------------------------------------------------

KeyResolver::KeyResolver(const Shape& shape, std::span<const KeyKind> kinds) : shape_(shape) {
    std::size_t ellipses = 0, indexing = 0, integers = 0, new_axes = 0;
    for (KeyKind kind : kinds) {
        ellipses += kind == KeyKind::Ellipsis;
        indexing += kind == KeyKind::Integer || kind == KeyKind::Selection;
        integers += kind == KeyKind::Integer;
        new_axes += kind == KeyKind::NewAxis;
    }
    if (ellipses > 1) throw index_error("an index can only have a single ellipsis ('...')");
    if (indexing > shape.size())
        throw index_error("too many indices for array: array is " + std::to_string(shape.size()) +
                          "-dimensional, but " + std::to_string(indexing) + " were indexed");
    // New axes count towards the dimension cap like any other.
    check_ndim(new_axes + shape.size() - integers);
    ellipsis_axes_ = shape.size() - indexing;
    axes_.reserve(new_axes + shape.size());
}

AxisSelection& KeyResolver::consume() {
    check_internal(axis_ < shape_.size(), "key consumes more axes than the array has");
    ++axis_;
    return axes_.emplace_back();
}

std::uint64_t KeyResolver::position(std::int64_t index) const {
    const std::uint64_t n = axis_length();
    // |index| as unsigned, so that the most negative index does not overflow.
    const std::uint64_t magnitude = index < 0 ? 0 - static_cast<std::uint64_t>(index) : static_cast<std::uint64_t>(index);
    if (index < 0 ? magnitude > n : magnitude >= n)
        throw index_error("index " + std::to_string(index) + " is out of bounds for axis " + std::to_string(axis_) +
                          " with size " + std::to_string(n));
    return index < 0 ? n - magnitude : magnitude;
}

void KeyResolver::new_axis() {
    AxisSelection& s = axes_.emplace_back();
    s.kind = AxisSelection::Kind::NewAxis;
    s.count = 1;
}

void KeyResolver::ellipsis() {
    for (std::size_t k = 0; k < ellipsis_axes_; ++k) {
        const std::uint64_t n = axis_length();
        AxisSelection& s = consume();
        s.count = n;
    }
}

void KeyResolver::integer(std::int64_t index) {
    const std::uint64_t p = position(index);
    AxisSelection& s = consume();
    s.start = p;
    s.count = 1;
    s.drop = true;
}

void KeyResolver::slice(std::int64_t start, std::int64_t stop, std::int64_t step) {
    if (step == 0) throw index_error("slice step cannot be zero");
    // Python's adjustment of slice bounds to a length, in 128 bits: the
    // length of an axis of an empty array may exceed the signed 64-bit range.
    using Wide = __int128;
    const Wide n = axis_length();
    const auto adjust = [&](Wide bound) -> Wide {
        if (bound < 0) {
            bound += n;
            if (bound < 0) bound = step < 0 ? -1 : 0;
        } else if (bound >= n) {
            bound = step < 0 ? n - 1 : n;
        }
        return bound;
    };
    const Wide first = adjust(start), end = adjust(stop);
    Wide count = 0;
    if (step < 0 && end < first) count = (first - end - 1) / -Wide{step} + 1;
    if (step > 0 && first < end) count = (end - first - 1) / step + 1;
    AxisSelection& s = consume();
    s.start = count ? static_cast<std::uint64_t>(first) : 0;
    s.step = step;
    s.count = static_cast<std::uint64_t>(count);
}

void KeyResolver::integer_list(std::span<const std::int64_t> indices) {
    std::vector<std::uint64_t> positions(indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) positions[i] = position(indices[i]);
    AxisSelection& s = consume();
    s.kind = AxisSelection::Kind::List;
    s.count = positions.size();
    s.positions = std::move(positions);
}

void KeyResolver::mask(std::span<const std::uint8_t> bytes) {
    const std::uint64_t n = axis_length();
    if (bytes.size() != n)
        throw index_error("boolean index did not match indexed array along dimension " + std::to_string(axis_) +
                          "; dimension is " + std::to_string(n) + " but corresponding boolean dimension is " +
                          std::to_string(bytes.size()));
    std::size_t selected = 0;
    for (std::uint8_t b : bytes) selected += b;
    // Without a branch per byte: every position is written, and kept only
    // where the mask holds (one spare slot for the writes past the last).
    std::vector<std::uint64_t> positions(selected + 1);
    std::size_t k = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        positions[k] = i;
        k += bytes[i];
    }
    positions.pop_back();
    AxisSelection& s = consume();
    s.kind = AxisSelection::Kind::List;
    s.count = selected;
    s.positions = std::move(positions);
}

OuterSelection KeyResolver::finish() {
    while (axis_ < shape_.size()) {
        const std::uint64_t n = axis_length();
        consume().count = n;
    }
    OuterSelection out;
    for (const AxisSelection& s : axes_)
        if (!s.drop) out.result_shape.push_back(s.count);
    out.count = checked_product(out.result_shape);
    out.axes = std::move(axes_);
    return out;
}

// ---------------------------------------------------------------------------
// Walking the selected positions
// ---------------------------------------------------------------------------

namespace {

// The consumed axes of a selection with the strides of the array: the last
// one is walked by the inner loops, the others by an odometer.
struct Walk {
    std::vector<const AxisSelection*> outer;
    std::vector<std::uint64_t> outer_stride;
    const AxisSelection* inner = nullptr;
    std::uint64_t inner_stride = 0;
    bool empty = false;
};

Walk plan_walk(const Array& a, const OuterSelection& selection) {
    const Shape strides = a.strides();
    Walk walk;
    std::size_t axis = 0;
    for (const AxisSelection& s : selection.axes) {
        if (s.kind == AxisSelection::Kind::NewAxis) continue;
        if (s.count == 0) walk.empty = true;
        if (walk.inner) {
            walk.outer.push_back(walk.inner);
            walk.outer_stride.push_back(walk.inner_stride);
        }
        walk.inner = &s;
        walk.inner_stride = strides[axis++];
    }
    check_internal(axis == a.ndim(), "selection does not cover the array");
    return walk;
}

// Calls one(offset) for every selected flat offset of the elements [begin,
// end) of the selection, in row-major order, and strided(first, delta, count)
// instead for the stretches of the inner axis that a range selects (offsets
// first, first + delta, ... in modular arithmetic, so delta may be negative).
// The odometer lives on the stack: a task of the pool may call this.
template <class One, class Strided>
void walk_range(const Walk& walk, std::uint64_t begin, std::uint64_t end, One&& one, Strided&& strided) {
    if (walk.empty || begin >= end) return;
    const std::size_t d = walk.outer.size();
    const AxisSelection* inner = walk.inner;
    const std::uint64_t inner_count = inner ? inner->count : 1;
    std::array<std::uint64_t, kMaxDims> index{}, part{};
    // The position of element `begin`: its inner index, then the outer ones, the last fastest.
    std::uint64_t i0 = begin % inner_count;
    std::uint64_t row = begin / inner_count;
    std::uint64_t base = 0;
    for (std::size_t k = d; k-- > 0;) {
        index[k] = row % walk.outer[k]->count;
        row /= walk.outer[k]->count;
        base += part[k] = walk.outer[k]->at(index[k]) * walk.outer_stride[k];
    }
    std::uint64_t remaining = end - begin;
    for (;;) {
        const std::uint64_t take = std::min(inner_count - i0, remaining);
        if (!inner) {
            one(base);  // a 0-dimensional array
        } else if (inner->kind == AxisSelection::Kind::List) {
            for (std::uint64_t i = i0; i < i0 + take; ++i) one(base + inner->positions[i] * walk.inner_stride);
        } else {
            const std::uint64_t delta = static_cast<std::uint64_t>(inner->step) * walk.inner_stride;
            strided(base + inner->at(i0) * walk.inner_stride, static_cast<std::int64_t>(delta), take);
        }
        remaining -= take;
        if (remaining == 0) return;
        i0 = 0;
        // Advance the odometer over the outer axes, the last fastest.
        std::size_t k = d;
        for (;;) {
            if (k == 0) return;
            --k;
            base -= part[k];
            if (++index[k] == walk.outer[k]->count) index[k] = 0;
            base += part[k] = walk.outer[k]->at(index[k]) * walk.outer_stride[k];
            if (index[k] != 0) break;
        }
    }
}

// Every selected element, in order.
template <class One, class Strided>
void for_each_offset(const Walk& walk, One&& one, Strided&& strided) {
    walk_range(walk, 0, UINT64_MAX, one, strided);
}

// dst[i] = src[i * delta] for i < n. Steps of 1, 2 and -1 (a[:], a[::2],
// a[::-1]) move two doubles per store, reading nothing outside the n elements.
void copy_strided(const double* src, std::int64_t delta, double* __restrict dst, std::uint64_t n) {
    if (delta == 1) {
        std::memcpy(dst, src, n * sizeof(double));
        return;
    }
    std::uint64_t i = 0;
    if (delta == 2) {
        // The pair at 2i + 2 ends at 2i + 3 <= 2(n - 1), the last element.
        for (; i + 3 <= n; i += 2)
            _mm_storeu_pd(dst + i, _mm_unpacklo_pd(_mm_loadu_pd(src + 2 * i), _mm_loadu_pd(src + 2 * i + 2)));
    } else if (delta == -1) {
        for (; i + 2 <= n; i += 2) {
            const __m128d pair = _mm_loadu_pd(src - static_cast<std::ptrdiff_t>(i) - 1);
            _mm_storeu_pd(dst + i, _mm_shuffle_pd(pair, pair, 1));
        }
    }
    // The offset steps in unsigned arithmetic: past the last element it may wrap, harmlessly.
    std::uint64_t offset = i * static_cast<std::uint64_t>(delta);
    for (; i < n; ++i, offset += static_cast<std::uint64_t>(delta)) dst[i] = src[static_cast<std::int64_t>(offset)];
}

std::uint64_t single_offset(const Array& a, const OuterSelection& selection) {
    std::uint64_t offset = 0;
    for_each_offset(
        plan_walk(a, selection), [&](std::uint64_t o) { offset = o; },
        [&](std::uint64_t o, std::int64_t, std::uint64_t) { offset = o; });
    return offset;
}

// A copy of the selection whose lists are sorted and free of repetitions: the
// same set of positions, each visited once, for writes of one value.
OuterSelection distinct_positions(const OuterSelection& selection) {
    OuterSelection out = selection;
    for (AxisSelection& s : out.axes) {
        if (s.kind != AxisSelection::Kind::List) continue;
        if (!std::is_sorted(s.positions.begin(), s.positions.end())) std::sort(s.positions.begin(), s.positions.end());
        s.positions.erase(std::unique(s.positions.begin(), s.positions.end()), s.positions.end());
        s.count = s.positions.size();
    }
    return out;
}

}  // namespace

Array gather(const Array& a, const OuterSelection& selection) {
    if (!selection.count || *selection.count > kMaxElements)
        throw value_error("a selection of more than " + std::to_string(kMaxElements) +
                          " elements is too large for an array");
    Array out = Array::uninitialized(selection.result_shape);
    const Walk walk = plan_walk(a, selection);
    const double* m = a.mid();
    const double* r = a.rad();
    double* om = out.mid_mut();
    double* orad = out.rad_mut();
    // Each chunk of the result walks its own stretch of the selection.
    for_each_chunk(out.size(), kParallelThreshold, kGatherChunk, [&](std::size_t begin, std::size_t end) noexcept {
        std::uint64_t k = begin;
        walk_range(
            walk, begin, end,
            [&](std::uint64_t offset) {
                om[k] = m[offset];
                orad[k] = r[offset];
                ++k;
            },
            [&](std::uint64_t first, std::int64_t delta, std::uint64_t count) {
                copy_strided(m + first, delta, om + k, count);
                copy_strided(r + first, delta, orad + k, count);
                k += count;
            });
    });
    return out;
}

Interval gather_single(const Array& a, const OuterSelection& selection) {
    check_internal(selection.single(), "gather_single: selection is not a single element");
    return a.read(single_offset(a, selection));
}

void assign(Array& a, const OuterSelection& selection, Interval value) {
    if (selection.count == std::uint64_t{0}) return;
    // Repeated positions would only write the same value again, so each is
    // visited once: three lists of 10^4 zeros into a (1, 1, 1) array write once.
    const OuterSelection distinct = distinct_positions(selection);
    a.make_unique();
    double* m = a.mid_mut();
    double* r = a.rad_mut();
    for_each_offset(
        plan_walk(a, distinct),
        [&](std::uint64_t offset) {
            m[offset] = value.mid;
            r[offset] = value.rad;
        },
        [&](std::uint64_t first, std::int64_t delta, std::uint64_t count) {
            std::uint64_t offset = first;
            for (std::uint64_t i = 0; i < count; ++i, offset += static_cast<std::uint64_t>(delta)) {
                m[offset] = value.mid;
                r[offset] = value.rad;
            }
        });
}

void assign(Array& a, const OuterSelection& selection, const Array& values) {
    if (values.size() == 1) return assign(a, selection, values.read(0));
    if (selection.count != values.size())
        throw value_error("cannot assign " + std::to_string(values.size()) + " element(s) to a slice of " +
                          (selection.count ? std::to_string(*selection.count)
                                           : "more than " + std::to_string(UINT64_MAX)) +
                          " element(s)");
    // `values` holds its own reference to its buffer, so when it is this
    // array's buffer (a[::-1] = a), make_unique gives `a` a fresh copy and
    // the values are read from the old one.
    a.make_unique();
    const double* vm = values.mid();
    const double* vr = values.rad();
    double* m = a.mid_mut();
    double* r = a.rad_mut();
    std::uint64_t k = 0;
    for_each_offset(
        plan_walk(a, selection),
        [&](std::uint64_t offset) {
            m[offset] = vm[k];
            r[offset] = vr[k];
            ++k;
        },
        [&](std::uint64_t first, std::int64_t delta, std::uint64_t count) {
            if (delta == 1) {
                std::memmove(m + first, vm + k, count * sizeof(double));
                std::memmove(r + first, vr + k, count * sizeof(double));
                k += count;
                return;
            }
            std::uint64_t offset = first;
            for (std::uint64_t i = 0; i < count; ++i, ++k, offset += static_cast<std::uint64_t>(delta)) {
                m[offset] = vm[k];
                r[offset] = vr[k];
            }
        });
}

}  // namespace boundwise
