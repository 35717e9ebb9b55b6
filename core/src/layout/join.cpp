#include "boundwise/layout/join.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "boundwise/error.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/layout/broadcast.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

// Elements per parallel copy task: 1 MiB of midpoints and radii.
constexpr std::size_t kCopyChunk = 65536;

// A row-major array seen around one axis: `outer` blocks (the product of the
// dimensions before the axis), each `length` rows of `inner` elements (the
// product of the dimensions after it). Only meaningful for non-empty arrays,
// where every product is bounded by the element count.
struct AxisView {
    std::uint64_t outer;
    std::uint64_t length;
    std::uint64_t inner;
};

AxisView view_around(const Shape& shape, std::uint64_t axis) {
    AxisView v{1, shape[axis], 1};
    for (std::uint64_t k = 0; k < axis; ++k) v.outer *= shape[k];
    for (std::uint64_t k = axis + 1; k < shape.size(); ++k) v.inner *= shape[k];
    return v;
}

void copy_elements(const Array& from, std::uint64_t from_at, Array& to, std::uint64_t to_at, std::uint64_t n) {
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(double);
    std::memcpy(to.mid_mut() + to_at, from.mid() + from_at, bytes);
    std::memcpy(to.rad_mut() + to_at, from.rad() + from_at, bytes);
}

void check_same_ndim(const Array& a, std::size_t ndim) {
    if (a.ndim() != ndim) throw value_error("all input arrays must have the same number of dimensions");
}

// The checks and the result shape of a join: every array against the first.
Shape joined_shape(std::span<const Array> arrays, std::uint64_t axis) {
    const Shape& first = arrays[0].shape();
    check_axis(axis, first.size());
    std::uint64_t total = 0;
    for (const Array& a : arrays) {
        check_same_ndim(a, first.size());
        for (std::size_t k = 0; k < first.size(); ++k) {
            if (k == axis || a.shape()[k] == first[k]) continue;
            throw value_error(
                "all the input array dimensions except for the concatenation axis must match exactly, but along "
                "dimension " + std::to_string(k) + " the array at index has size " + std::to_string(a.shape()[k]) +
                " and the other size was " + std::to_string(first[k]));
        }
        // Four arrays of 2^62 rows of nothing must not wrap around to zero rows.
        if (__builtin_add_overflow(total, a.shape()[axis], &total))
            throw value_error("array is too big: the sizes along axis " + std::to_string(axis) +
                              " add up to more than " + std::to_string(std::numeric_limits<std::uint64_t>::max()));
    }
    Shape shape = first;
    shape[axis] = total;
    return shape;
}

// The joining shared by concatenate, stack and hstack, on a non-empty list.
// Each outer index of the result holds one block of every array in list
// order; the result is copied in ranges of its flat index, on the pool for
// large results, each range finding its first block by a binary search.
Array join(std::span<const Array> arrays, std::uint64_t axis) {
    Array out = Array::uninitialized(joined_shape(arrays, axis));
    if (out.size() == 0) return out;  // the outer count of an empty result may be astronomical
    const std::uint64_t inner = view_around(out.shape(), axis).inner;
    std::vector<std::uint64_t> starts{0};  // where each array's block begins within one outer row
    for (const Array& a : arrays) starts.push_back(starts.back() + a.shape()[axis] * inner);
    const std::uint64_t row = starts.back();
    const auto copy_range = [&](std::uint64_t begin, std::uint64_t end) noexcept {
        std::uint64_t o = begin / row, within = begin % row;
        std::size_t j = 0;
        while (starts[j + 1] <= within) ++j;  // few arrays: a scan beats a search
        while (begin < end) {
            const std::uint64_t block = starts[j + 1] - starts[j];
            const std::uint64_t offset = within - starts[j];
            const std::uint64_t n = std::min(block - offset, end - begin);
            copy_elements(arrays[j], o * block + offset, out, begin, n);
            begin += n;
            within += n;
            while (j < arrays.size() && within == starts[j + 1]) ++j;  // past this block and empty ones
            if (j == arrays.size()) {
                ++o;
                within = 0;
                j = 0;
                while (starts[j + 1] == 0) ++j;
            }
        }
    };
    for_each_chunk(out.size(), kParallelThreshold, kCopyChunk, copy_range);
    return out;
}

// Rows [start, start + length) of `a` along `axis`.
Array slice_along(const Array& a, std::uint64_t axis, std::uint64_t start, std::uint64_t length) {
    Shape shape = a.shape();
    shape[axis] = length;
    Array piece = Array::uninitialized(std::move(shape));
    if (piece.size() == 0) return piece;
    const AxisView source = view_around(a.shape(), axis);
    const std::uint64_t block = length * source.inner;
    const auto copy_range = [&](std::uint64_t begin, std::uint64_t end) noexcept {
        while (begin < end) {
            const std::uint64_t o = begin / block, offset = begin % block;
            const std::uint64_t n = std::min(block - offset, end - begin);
            copy_elements(a, (o * source.length + start) * source.inner + offset, piece, begin, n);
            begin += n;
        }
    };
    for_each_chunk(piece.size(), kParallelThreshold, kCopyChunk, copy_range);
    return piece;
}

std::vector<Array> pieces_between(const Array& a, std::uint64_t axis, std::span<const std::uint64_t> bounds) {
    std::vector<Array> pieces;
    if (bounds.size() - 1 > pieces.max_size()) throw std::bad_alloc();
    pieces.reserve(bounds.size() - 1);
    for (std::size_t j = 0; j + 1 < bounds.size(); ++j) {
        const std::uint64_t start = bounds[j];
        const std::uint64_t end = std::max(start, bounds[j + 1]);  // a descending cut leaves an empty piece
        pieces.push_back(slice_along(a, axis, start, end - start));
    }
    return pieces;
}

}  // namespace

Array concatenate(std::span<const Array> arrays, std::uint64_t axis) {
    if (arrays.empty()) throw value_error("need at least one array to concatenate");
    return join(arrays, axis);
}

Array stack(std::span<const Array> arrays, std::uint64_t axis) {
    if (arrays.empty()) throw value_error("need at least one array to stack");
    const std::size_t ndim = arrays[0].ndim();
    if (axis > ndim) throw value_error("axis " + std::to_string(axis) + " is out of bounds");
    // Every array, not only the first, must take a new axis at `axis`.
    for (const Array& a : arrays) check_same_ndim(a, ndim);
    std::vector<Array> expanded;
    expanded.reserve(arrays.size());
    for (const Array& a : arrays) {
        Shape shape = a.shape();
        shape.insert(shape.begin() + static_cast<std::ptrdiff_t>(axis), 1);
        expanded.push_back(a.with_shape(std::move(shape)));
    }
    return join(expanded, axis);
}

Array hstack(std::span<const Array> arrays) {
    if (arrays.empty()) throw value_error("need at least one array to hstack");
    return join(arrays, arrays[0].ndim() == 1 ? 0 : 1);
}

std::vector<Array> split_sections(const Array& a, std::uint64_t sections, std::uint64_t axis) {
    check_axis(axis, a.ndim());
    if (sections == 0) throw value_error("number of sections must be >= 1");
    const std::uint64_t length = a.shape()[axis];
    if (length % sections != 0)
        throw value_error("array split does not result in an equal division: array size " + std::to_string(length) +
                          " is not divisible by " + std::to_string(sections));
    // k * (length / N) is exact and never exceeds length, unlike length * k / N.
    const std::uint64_t piece = length / sections;
    std::vector<std::uint64_t> bounds;
    if (sections > bounds.max_size() - 1) throw std::bad_alloc();
    bounds.resize(sections + 1);
    for (std::uint64_t k = 0; k <= sections; ++k) bounds[k] = k * piece;
    return pieces_between(a, axis, bounds);
}

std::vector<Array> split_at(const Array& a, std::span<const std::uint64_t> cuts, std::uint64_t axis) {
    check_axis(axis, a.ndim());
    const std::uint64_t length = a.shape()[axis];
    for (std::uint64_t p : cuts) {
        if (length == 0)
            throw value_error("array split does not result in an equal division; index " + std::to_string(p) +
                              " out of range: the axis has length 0");
        if (p < 1 || p > length - 1)
            throw value_error("array split does not result in an equal division; index " + std::to_string(p) +
                              " out of range 1..=" + std::to_string(length - 1));
    }
    std::vector<std::uint64_t> bounds;
    bounds.reserve(cuts.size() + 2);
    bounds.push_back(0);
    bounds.insert(bounds.end(), cuts.begin(), cuts.end());
    bounds.push_back(length);
    return pieces_between(a, axis, bounds);
}

Array where(std::span<const std::uint8_t> condition, const Array& x, const Array& y) {
    const Shape condition_shape{condition.size()};
    std::optional<Shape> shape = broadcast_shape(condition_shape, x.shape());
    if (shape) shape = broadcast_shape(*shape, y.shape());
    if (!shape) throw value_error("operands could not be broadcast together");
    Array out = Array::uninitialized(*shape);
    const std::uint64_t n = out.size();
    if (n == 0) return out;
    // An operand with n elements is already in the result's row-major order;
    // a single element repeats; anything else is expanded first.
    const Array xe = is_kernel_operand(x, n) ? x : broadcast_to(x, *shape);
    const Array ye = is_kernel_operand(y, n) ? y : broadcast_to(y, *shape);
    check_internal(is_kernel_operand(xe, n) && is_kernel_operand(ye, n), "where: length mismatch");
    // The condition is the last axis of the result, or a single repeated value.
    const std::uint64_t period = condition.size();
    check_internal(period == 1 || n % period == 0, "where: condition length mismatch");
    const std::uint64_t x_step = xe.size() == 1 ? 0 : 1;
    const std::uint64_t y_step = ye.size() == 1 ? 0 : 1;
    double* om = out.mid_mut();
    double* orad = out.rad_mut();
    std::uint64_t c = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
        const bool take_x = condition[c] != 0;
        const std::uint64_t xi = i * x_step, yi = i * y_step;
        om[i] = take_x ? xe.mid()[xi] : ye.mid()[yi];
        orad[i] = take_x ? xe.rad()[xi] : ye.rad()[yi];
        if (++c == period) c = 0;
    }
    return out;
}

std::vector<std::uint8_t> truth_values(const Array& a) {
    std::vector<std::uint8_t> truth(static_cast<std::size_t>(a.size()));
    const double* m = a.mid();
    const double* r = a.rad();
    for (std::uint64_t i = 0; i < a.size(); ++i) truth[i] = (m[i] != 0 || r[i] != 0) ? 1 : 0;  // NaN != 0
    return truth;
}

}  // namespace boundwise
